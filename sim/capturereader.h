// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads the UDP datagrams over IPv4 out of a capture file: pcapng (any byte order, several
// sections and interfaces, enhanced, simple and obsolete packet blocks, the interface's time
// resolution) or classic pcap (microsecond or nanosecond, any byte order). Link types: Ethernet
// (with 802.1Q tags), raw IP and IPv4, Linux cooked (v1 and v2), BSD loopback. What is not
// IPv4/UDP, or not whole in the file (a short snapshot, a fragment), is passed over and counted.

#include "exchange/pcapng.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace capture
{

struct Datagram {
    qint64 microseconds = 0; // since 1970, as the capture says
    UdpEnds ends;
    QByteArray payload;
};

struct Contents {
    QList<Datagram> datagrams; // in the file's order
    int passedOver = 0;        // packets that were not a whole IPv4/UDP datagram
};

// The datagrams of the file's bytes; nothing, with what is wrong in `error`, when the bytes are
// not a capture file or break off inside a block or record.
std::optional<Contents> ReadCapture(const QByteArray& bytes, QString* error);

} // namespace capture
