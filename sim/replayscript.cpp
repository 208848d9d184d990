// SPDX-License-Identifier: GPL-3.0-or-later
#include "replayscript.h"

#include "exchange/packet.h"
#include "simblock.h"

namespace replay
{

namespace
{

constexpr quint16 StandardAdapterPort = 972;
constexpr qint64 LongestRecordingUs = 7LL * 24 * 3600 * 1000000;

// Microseconds from the program's first datagram, in the file's order: never before that
// datagram nor before the one ahead in the file (a clock that stepped back, or a damaged time,
// plays as recorded order), and never beyond a week.
qint64 Since(qint64 t, qint64 start, qint64 previous)
{
    const quint64 after = t > start ? quint64(t) - quint64(start) : 0;
    return std::max(previous, qint64(std::min<quint64>(after, LongestRecordingUs)));
}

bool IsKeepAlive(const QByteArray& d)
{
    return d.size() == 2 && packet::at(d, 0) == packet::KindAnnouncement && packet::at(d, 1) == 0;
}

bool IsLinkMessage(const QByteArray& d)
{
    return !d.isEmpty() && packet::at(d, 0) == packet::KindLinkMessage;
}

bool IsAnnouncement(const QByteArray& d)
{
    return d.size() > 2 && packet::at(d, 0) == packet::KindAnnouncement;
}

// Only the program sends keep-alives and link messages; only the adapter announces itself.
bool FromProgram(const QByteArray& d)
{
    return IsKeepAlive(d) || IsLinkMessage(d);
}

std::optional<quint16> AdapterPort(const QList<capture::Datagram>& all)
{
    for (const capture::Datagram& d : all)
        if (d.ends.sourcePort == StandardAdapterPort ||
            d.ends.destinationPort == StandardAdapterPort)
            return StandardAdapterPort;
    for (const capture::Datagram& d : all)
        if (FromProgram(d.payload))
            return d.ends.destinationPort;
    for (const capture::Datagram& d : all)
        if (IsAnnouncement(d.payload))
            return d.ends.sourcePort;
    return std::nullopt;
}

// The adapter's address on its port; nothing when no datagram tells.
std::optional<quint32> AdapterAddress(const QList<capture::Datagram>& all, quint16 port)
{
    for (const capture::Datagram& d : all) {
        if (d.ends.destinationPort == port && FromProgram(d.payload))
            return d.ends.destinationAddress;
        if (d.ends.sourcePort == port && IsAnnouncement(d.payload))
            return d.ends.sourceAddress;
    }
    // Without those, an end on the port talking to an end on another port.
    for (const capture::Datagram& d : all) {
        if (d.ends.sourcePort == port && d.ends.destinationPort != port)
            return d.ends.sourceAddress;
        if (d.ends.destinationPort == port && d.ends.sourcePort != port)
            return d.ends.destinationAddress;
    }
    return std::nullopt;
}

// A datagram of the adapter's that answers the request: its receipt or transmission report
// (numbered as the request), or data holding a block's reply.
bool Answers(const QByteArray& d, quint8 requestNumber, bool* numbered)
{
    const bool report = d.size() == 3 && packet::at(d, 2) == requestNumber &&
                        ((packet::at(d, 0) == packet::KindReceipt && packet::at(d, 1) == 0x01) ||
                         (packet::at(d, 0) == packet::KindTransmitted && packet::at(d, 1) == 0));
    *numbered = report;
    if (report)
        return true;
    if (!IsRequest(d)) // the adapter's data datagrams have the same header as requests
        return false;
    CanRecordWalk walk(d);
    CanRecord rec;
    while (walk.next(rec))
        if (rec.function & packet::ConfigBit)
            return true;
    return false;
}

// The blocks named by the records of the adapter's data.
void NoteBlocks(const QByteArray& d, QList<kpsim::BlockSpec>& blocks)
{
    if (!IsRequest(d))
        return;
    CanRecordWalk walk(d);
    CanRecord rec;
    while (walk.next(rec)) {
        const auto type = kpsim::TypeFromConfigFunction(rec.function | packet::ConfigBit);
        if (!type || rec.address > 7)
            continue;
        const bool known = std::any_of(blocks.begin(), blocks.end(), [&](const auto& b) {
            return b.type == *type && b.address == rec.address;
        });
        if (!known)
            blocks.append({*type, rec.address, {}});
    }
}

} // namespace

bool IsRequest(const QByteArray& d)
{
    return d.size() >= packet::HeaderSize && packet::at(d, 0) <= 1 &&
           packet::at(d, 3) == packet::TypeCanFrames;
}

std::optional<Script> MakeScript(const QList<capture::Datagram>& all,
                                 std::optional<quint16> adapterPort, QString* error)
{
    const auto port = adapterPort ? adapterPort : AdapterPort(all);
    const auto address = port ? AdapterAddress(all, *port) : std::nullopt;
    if (!port || !address) {
        *error = port ? QStringLiteral("no datagram of the exchange with an adapter on port %1")
                            .arg(*port)
                      : QStringLiteral("no datagram of the exchange with an adapter (no port "
                                       "972, no keep-alive, no announcement); try --adapter-port");
        return std::nullopt;
    }
    Script s;
    s.adapterAddress = *address;
    s.adapterPort = *port;
    std::optional<qint64> start;
    qint64 previous = 0;
    for (const capture::Datagram& d : all) {
        const bool fromAdapter = d.ends.sourceAddress == *address && d.ends.sourcePort == *port;
        const bool toAdapter =
            d.ends.destinationAddress == *address && d.ends.destinationPort == *port;
        if (!toAdapter && !fromAdapter)
            continue;
        if (toAdapter && !start)
            start = d.microseconds;
        if (start)
            previous = Since(d.microseconds, *start, previous);
        const qint64 us = start ? previous : 0;
        if (toAdapter) {
            ++s.programDatagrams;
            const bool again = !s.requests.isEmpty() && s.requests.last().bytes == d.payload;
            if (IsRequest(d.payload) && !again)
                s.requests.append({us, d.payload, {}});
        } else if (fromAdapter) {
            ++s.adapterDatagrams;
            NoteBlocks(d.payload, s.blocks);
            bool numbered = false;
            if (!s.requests.isEmpty() &&
                Answers(d.payload, packet::at(s.requests.last().bytes, 2), &numbered))
                s.requests.last().answers.append({us - s.requests.last().us, d.payload, numbered});
            else
                s.spontaneous.append({us, d.payload});
        }
    }
    if (s.programDatagrams == 0 || s.adapterDatagrams == 0) {
        *error = QStringLiteral("no datagram %1 the adapter at %2:%3")
                     .arg(s.programDatagrams == 0 ? QStringLiteral("to") : QStringLiteral("from"),
                          QHostAddress(*address).toString())
                     .arg(*port);
        return std::nullopt;
    }
    return s;
}

} // namespace replay
