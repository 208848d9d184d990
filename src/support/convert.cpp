// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/convert.h"

QString IntConversionError(const QString& text)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

std::optional<int> StrToInt(const QString& text, QString* error)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (ok)
        return value;
    if (error)
        *error = IntConversionError(text);
    return std::nullopt;
}
