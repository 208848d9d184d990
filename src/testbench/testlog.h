// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The module test's log file: "TestLogs/dd-mm-yyyy hh-nn-ss.log" under the working directory,
// named after the moment the run started and created empty then. Every entry is one line: its
// time of day, a TAB, the text and CR LF, in code page 1251. The file is opened, appended to
// and closed again for every line, so that what was written stays on disk whatever becomes of
// the program.

#include <QDateTime>
#include <QDir>
#include <QString>
#include <optional>

namespace testlog
{

constexpr const char* Directory = "TestLogs";

// "TestLogs/07-12-2026 09-05-03.log" for a run started at 09:05:03 on 7 December 2026.
QString FileName(const QDateTime& started);

// Creates the directory under `base` when it is missing, then the file, empty (an existing file
// of that name is emptied). Returns the file's absolute path; nothing, and in `error` what
// could not be created with its path and the reason, when either fails.
std::optional<QString> Create(const QDir& base, const QString& name, QString* error);

// One line of the file, without its CR LF: the time in the long time format, a TAB, the text.
QString Line(const QTime& time, const QString& text);

// Appends the text and CR LF to the file in code page 1251. A line that cannot be written is
// dropped without a word: the run goes on.
void AppendTestLog(const QString& file, const QString& text);

} // namespace testlog
