// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/blocktypes.h"

#include <QStringList>

namespace blocks
{

namespace
{
const char* const TypeNames[Slots] = {"ts", "tit", "tu"};
}

QString LabelOfSlot(int slot)
{
    switch (slot) {
    case 1:
        return QStringLiteral("ТСМ77  Адр=");
    case 2:
        return QStringLiteral("ТИТМ77 Адр=");
    case 3:
        return QStringLiteral("ТУМ77  Адр=");
    }
    return {};
}

std::optional<Ref> ParseRef(const QString& text)
{
    const QStringList parts = text.trimmed().toLower().split(u':');
    if (parts.size() != 2)
        return std::nullopt;
    bool ok = false;
    const int address = parts[1].toInt(&ok);
    if (!ok || address < 0 || address >= Addresses)
        return std::nullopt;
    for (int slot = 1; slot <= Slots; ++slot)
        if (parts[0] == QLatin1String(TypeNames[slot - 1]))
            return Ref{slot, address};
    return std::nullopt;
}

QString TypeName(int slot)
{
    return slot >= 1 && slot <= Slots ? QLatin1String(TypeNames[slot - 1]) : QString();
}

QString RefText(int slot, int address)
{
    if (slot < 1 || slot > Slots)
        return {};
    return QStringLiteral("%1:%2").arg(TypeName(slot)).arg(address);
}

QString RefText(Ref block)
{
    return RefText(block.slot, block.address);
}

QString RefListText(const QList<Ref>& list)
{
    QStringList names;
    for (const Ref& b : list)
        names << RefText(b);
    return names.isEmpty() ? QStringLiteral("—") : names.join(QStringLiteral(", "));
}

} // namespace blocks
