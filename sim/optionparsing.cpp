// SPDX-License-Identifier: GPL-3.0-or-later
#include "optionparsing.h"

#include <QRegularExpression>

namespace kpsim
{

QCommandLineOption OptionOf(const OptionRow& row)
{
    QCommandLineOption option(QLatin1String(row.name), QString::fromUtf8(row.help));
    if (row.value)
        option.setValueName(QLatin1String(row.value));
    if (row.defaultValue)
        option.setDefaultValue(QLatin1String(row.defaultValue));
    return option;
}

std::optional<int> Number(const QString& text, int min, int max)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

std::optional<qint64> Integer(const QString& text, qint64 min, qint64 max)
{
    const QString t = text.trimmed();
    bool ok = false;
    const qint64 v = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                         ? t.mid(2).toLongLong(&ok, 16)
                         : t.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

std::optional<QList<qint64>> Integers(const QString& text, qint64 min, qint64 max)
{
    QList<qint64> list;
    for (const QString& item : text.split(QLatin1Char(','))) {
        const auto v = Integer(item, min, max);
        if (!v)
            return std::nullopt;
        list.append(*v);
    }
    return list;
}

std::optional<uint8_t> SubFunction(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(?:0[xX])?([0-9A-Fa-f]{1,2})\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return uint8_t(m.captured(1).toUInt(nullptr, 16));
}

std::optional<std::pair<uint8_t, int>> SubAndCount(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    const auto sub = parts.size() == 2 ? SubFunction(parts[0]) : std::nullopt;
    const auto n = parts.size() == 2 ? Number(parts[1], 1, 1 << 30) : std::nullopt;
    if (!sub || !n)
        return std::nullopt;
    return std::pair{*sub, *n};
}

std::optional<QByteArray> HexBytes(const QString& text, int maxBytes)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("[\\s:]")));
    static const QRegularExpression re(QStringLiteral("^(?:[0-9A-Fa-f]{2})+$"));
    if (!re.match(digits).hasMatch() || digits.size() > 2 * maxBytes)
        return std::nullopt;
    return QByteArray::fromHex(digits.toLatin1());
}

} // namespace kpsim
