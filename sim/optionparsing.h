// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What kp-sim's command line is read with: an option described once, as a row of a table
// (name, help, the name of its value, its default, and what it sets), and the readers of the
// values the rows share.

#include "commandline.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QString>
#include <functional>
#include <optional>

namespace kpsim
{

// One option. `apply` takes the option's value (empty for a switch) and sets it in the command
// line; it returns an empty text, or why the value does not do. An option with `each` set is
// applied once for every time it is given; any other once, with the last value given.
struct OptionRow {
    const char* name;
    const char* help;
    const char* value = nullptr;        // the value's name; null for a switch
    const char* defaultValue = nullptr; // applied also when the option is not given
    std::function<QString(const QString& value, CommandLine& cl)> apply;
    bool each = false;
};

QCommandLineOption OptionOf(const OptionRow& row);

// The adapter, faults, live data and output options, in the order they are applied.
QList<OptionRow> GeneralOptions();
// The options that name blocks on the bus ("ts:0,tu:3=VALUE"), applied after --blocks.
QList<OptionRow> BlockOptionRows();

// A whole number within limits; nothing otherwise.
std::optional<int> Number(const QString& text, int min, int max);
// A whole number, decimal or hexadecimal after 0x, within limits.
std::optional<qint64> Integer(const QString& text, qint64 min, qint64 max);
// A list of whole numbers joined by ','; nothing when any is wrong.
std::optional<QList<qint64>> Integers(const QString& text, qint64 min, qint64 max);
// A sub-function in hexadecimal, with or without 0x: "06", "0x0A".
std::optional<uint8_t> SubFunction(const QString& text);
// "sub:n": a sub-function and a count from 1.
std::optional<std::pair<uint8_t, int>> SubAndCount(const QString& text);
// Hex digit pairs, blanks and ':' allowed between them, at most maxBytes.
std::optional<QByteArray> HexBytes(const QString& text, int maxBytes);

} // namespace kpsim
