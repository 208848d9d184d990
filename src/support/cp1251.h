// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Windows-1251: the single-byte Cyrillic code page of the adapters' and blocks' texts.

#include <QByteArray>
#include <QString>

QString FromCp1251(const QByteArray& bytes);
// Characters outside the code page become '?' (one for each character, also for one written
// with a surrogate pair); `replaced` tells whether that happened.
QByteArray ToCp1251(const QString& text, bool* replaced = nullptr);
