// SPDX-License-Identifier: GPL-3.0-or-later
// The lists kp-sim's options take: blocks, wiring, telecontrol answers, relays; and the rates of
// the demo.

#include "optionparsing.h"

#include <QRegularExpression>

namespace kpsim
{

namespace
{
bool Fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}
} // namespace

std::optional<QList<BlockSpec>> ParseBlocks(const QString& text, QString* error)
{
    QList<BlockSpec> blocks;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        const auto type = parts.size() == 2 ? TypeFromName(parts[0]) : std::nullopt;
        const auto address = parts.size() == 2 ? Number(parts[1], 0, 7) : std::nullopt;
        if (!type || !address) {
            Fail(error, QStringLiteral("block must read ts|tit|tu:0..7: %1").arg(item));
            return std::nullopt;
        }
        for (const BlockSpec& b : blocks)
            if (b.type == *type && b.address == *address) {
                Fail(error, QStringLiteral("block named twice: %1").arg(item));
                return std::nullopt;
            }
        blocks.append(BlockSpec{*type, uint8_t(*address), {}});
    }
    return blocks;
}

Rates DemoRates()
{
    Rates r;
    r.tsStates = 0.5;
    r.tsEvents = 0.25;
    r.titReadings = 1;
    r.tiiCounters = 0.2;
    r.interlocks = 0.2;
    r.tuDiagnostics = 0.1;
    return r;
}

std::optional<QList<Wiring>> ParseWiring(const QString& text, QString* error)
{
    QList<Wiring> list;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        const bool sized = parts.size() == 2 || parts.size() == 3;
        const auto tu = sized ? Number(parts[0], 0, 7) : std::nullopt;
        const auto ts = sized ? Number(parts[1], 0, 7) : std::nullopt;
        const QString contact = parts.size() == 3 ? parts[2].trimmed().toLower() : "no";
        if (!tu || !ts || (contact != "no" && contact != "nc")) {
            Fail(error,
                 QStringLiteral("wiring must read tu:ts[:no|nc], addresses 0..7: %1").arg(item));
            return std::nullopt;
        }
        list.append(Wiring{uint8_t(*tu), uint8_t(*ts), contact == "nc"});
    }
    return list;
}

std::optional<QList<TuAnswer>> ParseTuAnswers(const QString& text, QString* error)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*(?:(\\d+)(?::(\\d+))?\\s*=)?\\s*(\\d+)\\s*$"));
    QList<TuAnswer> list;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const auto m = re.match(item);
        const auto address =
            m.hasMatch() && m.hasCaptured(1) ? Number(m.captured(1), 0, 7) : std::optional<int>(-1);
        const auto relay =
            m.hasMatch() && m.hasCaptured(2) ? Number(m.captured(2), 1, 32) : std::optional<int>(0);
        const auto status = m.hasMatch() ? Number(m.captured(3), 0, 255) : std::nullopt;
        if (!m.hasMatch() || !address || !relay || !status) {
            Fail(error, QStringLiteral("telecontrol status must read [block[:relay]=]0..255: %1")
                            .arg(item));
            return std::nullopt;
        }
        list.append(TuAnswer{*address, *relay, uint8_t(*status)});
    }
    return list;
}

std::optional<QList<RelayRef>> ParseRelays(const QString& text, QString* error)
{
    QList<RelayRef> list;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        const auto address = parts.size() == 2 ? Number(parts[0], 0, 7) : std::nullopt;
        const auto relay = parts.size() == 2 ? Number(parts[1], 1, 32) : std::nullopt;
        if (!address || !relay) {
            Fail(error, QStringLiteral("relay must read block:relay, 0..7:1..32: %1").arg(item));
            return std::nullopt;
        }
        list.append(RelayRef{uint8_t(*address), *relay});
    }
    return list;
}

QString BlocksText(const QList<BlockSpec>& blocks)
{
    QStringList items;
    for (const BlockSpec& b : blocks)
        items << TypeName(b.type) + QLatin1Char(':') + QString::number(b.address);
    return items.join(QLatin1Char(','));
}

} // namespace kpsim
