// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <cstdint>
#include <span>
// Reads numbers out of text under a format with percent directives (classic formatted input).
// text and format end at their first zero byte or at their end. Each stored integer conversion
// writes one 32-bit target, in order; targets the scan does not reach keep their values.
// Returns the number of stored conversions, or -1 when none was stored and the text ran out.
int ScanText(const QByteArray& text, const QByteArray& format, std::span<int32_t> targets);
