// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The module test protocol as a PDF for the commissioning file: A4, in Russian, the fonts
// embedded. It holds the run's times, the program, the adapter and the bench's blocks, the
// window's six settings, how the run ended and its verdict, the result matrix with the faulty
// relays in words, the whole action log, and blank fields for the name and the signature.
// Needs Qt GUI (fonts and the PDF writer), no window: tavena-cli writes it too.

#include "testbench/runrecord.h"

#include <QString>

namespace protocolprint
{

// The protocol as the rich text the PDF is laid out from.
QString Html(const RunRecord& run, const QList<ShownSetting>& settings, const QString& program);

// Writes the PDF to `path` (whole or not at all); an empty text when it was written, else what
// went wrong with the path.
QString WritePdf(const RunRecord& run, const QList<ShownSetting>& settings, const QString& program,
                 const QString& path);

// "Протокол 09-12-2026 14-05-03.pdf" for a run started then.
QString FileName(const RunRecord& run);

} // namespace protocolprint
