// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Conversion of operator-typed texts to integers with the standard conversion error message.

#include <QString>
#include <optional>

// Converts a decimal integer text (leading/trailing blanks allowed, optional sign).
// On failure returns nothing and, when error is given, the message naming the text.
std::optional<int> StrToInt(const QString& text, QString* error = nullptr);

// The standard message for a text that is not an integer.
QString IntConversionError(const QString& text);
