// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Conversion of operator-typed texts to integers. A text that is not one is refused with a
// message that names the field it was typed into and the text itself, shown with the caption
// InputErrorCaption.

#include <QString>
#include <optional>

inline const QString InputErrorCaption = QStringLiteral("Ошибка ввода");

// Converts a decimal integer text (leading/trailing blanks allowed, optional sign). On failure
// returns nothing and, when error is given, the message naming the field and the text.
std::optional<int> StrToInt(const QString& text, const QString& field, QString* error = nullptr);

// The message for a text that is not an integer. `field` names where it was typed: an edit's
// label ("Время ожидания") or a grid cell ("строка «Вх 5», столбец 2").
QString IntConversionError(const QString& field, const QString& text);
