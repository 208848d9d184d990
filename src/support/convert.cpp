// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/convert.h"

QString IntConversionError(const QString& field, const QString& text)
{
    return QStringLiteral("%1: «%2» — не целое число.").arg(field, text);
}

std::optional<int> StrToInt(const QString& text, const QString& field, QString* error)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (ok)
        return value;
    if (error)
        *error = IntConversionError(field, text);
    return std::nullopt;
}
