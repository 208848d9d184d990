// SPDX-License-Identifier: GPL-3.0-or-later
#include "capturereader.h"

#include <cstring>

namespace capture
{

namespace
{

// Bytes of the file in one byte order: that of the pcapng section or the pcap file being read.
struct Order {
    bool big = false;
    quint16 u16(const uchar* p) const
    {
        return big ? quint16(p[0] << 8 | p[1]) : quint16(p[1] << 8 | p[0]);
    }
    quint32 u32(const uchar* p) const
    {
        return big ? quint32(u16(p)) << 16 | u16(p + 2) : quint32(u16(p + 2)) << 16 | u16(p);
    }
    quint64 u64(const uchar* p) const
    {
        return big ? quint64(u32(p)) << 32 | u32(p + 4) : quint64(u32(p + 4)) << 32 | u32(p);
    }
};

quint16 Be16(const uchar* p)
{
    return quint16(p[0] << 8 | p[1]);
}

quint32 Be32(const uchar* p)
{
    return quint32(Be16(p)) << 16 | Be16(p + 2);
}

enum LinkType : quint32 {
    Null = 0,
    Ethernet = 1,
    RawIp = 101,
    Loop = 108,
    LinuxCooked = 113,
    Ipv4 = 228,
    LinuxCooked2 = 276,
};

// The IPv4 packet inside a link-layer frame; nothing when the frame carries something else.
std::optional<std::pair<const uchar*, int>> IpPacket(quint32 linkType, const uchar* p, int n)
{
    int at = 0;
    switch (linkType) {
    case Ethernet: {
        at = 12;
        quint16 type = n >= 14 ? Be16(p + 12) : 0;
        while ((type == 0x8100 || type == 0x88A8) && at + 6 <= n) { // VLAN tags
            at += 4;
            type = Be16(p + at);
        }
        if (type != 0x0800)
            return std::nullopt;
        at += 2;
        break;
    }
    case RawIp:
    case Ipv4:
        break;
    case LinuxCooked:
        if (n < 16 || Be16(p + 14) != 0x0800)
            return std::nullopt;
        at = 16;
        break;
    case LinuxCooked2:
        if (n < 20 || Be16(p) != 0x0800)
            return std::nullopt;
        at = 20;
        break;
    case Null: // the address family in the byte order of the machine that captured
    case Loop:
        if (n < 4 || (Be32(p) != 2 && Order{}.u32(p) != 2))
            return std::nullopt;
        at = 4;
        break;
    default:
        return std::nullopt;
    }
    if (at >= n || (p[at] >> 4) != 4)
        return std::nullopt;
    return std::pair{p + at, n - at};
}

// One captured frame: a whole IPv4/UDP datagram is added, anything else counted.
void Take(Contents& out, quint32 linkType, qint64 us, const uchar* frame, int captured,
          int original)
{
    const auto ip = captured == original ? IpPacket(linkType, frame, captured) : std::nullopt;
    const uchar* p = ip ? ip->first : nullptr;
    const int n = ip ? ip->second : 0;
    const int header = p && n >= 20 ? (p[0] & 0x0F) * 4 : 0;
    const int total = p && n >= 20 ? Be16(p + 2) : 0;
    const bool fragment = p && n >= 20 && (Be16(p + 6) & 0x3FFF) != 0; // MF set or an offset
    if (!p || header < 20 || total < header + 8 || total > n || p[9] != 17 || fragment) {
        ++out.passedOver;
        return;
    }
    const uchar* udp = p + header;
    const int udpLength = Be16(udp + 4);
    if (udpLength < 8 || header + udpLength > total) {
        ++out.passedOver;
        return;
    }
    Datagram d;
    d.microseconds = us;
    d.ends = {Be32(p + 12), Be16(udp), Be32(p + 16), Be16(udp + 2)};
    d.payload = QByteArray(reinterpret_cast<const char*>(udp + 8), udpLength - 8);
    out.datagrams << d;
}

QString CutShort(qsizetype at)
{
    return QStringLiteral("the file breaks off inside a block at byte %1").arg(at);
}

struct Interface {
    quint32 linkType = 0;
    quint64 unitsPerSecond = 1000000;
    qint64 offsetSeconds = 0;
};

// In unsigned arithmetic, so that a damaged time or offset wraps instead of overflowing.
qint64 Microseconds(const Interface& i, quint64 ts)
{
    const auto us = quint64(static_cast<unsigned __int128>(ts) * 1000000 / i.unitsPerSecond);
    return qint64(us + quint64(i.offsetSeconds) * 1000000);
}

// The interface description's link type and its time options.
Interface ReadInterface(const Order& o, const uchar* body, const uchar* end)
{
    Interface i;
    i.linkType = o.u16(body);
    for (const uchar* p = body + 8; p + 4 <= end;) {
        const quint16 code = o.u16(p), length = o.u16(p + 2);
        if (code == 0 || p + 4 + length > end)
            break;
        if (code == 9 && length >= 1) { // if_tsresol: a power of ten, or of two when bit 7 is set
            const int v = p[4] & 0x7F;
            quint64 units = 1;
            for (int k = 0; k < v && units < (quint64(1) << 62); ++k)
                units *= (p[4] & 0x80) ? 2 : 10;
            i.unitsPerSecond = units;
        } else if (code == 14 && length >= 8) { // if_tsoffset
            i.offsetSeconds = qint64(o.u64(p + 4));
        }
        p += 4 + ((length + 3) & ~3);
    }
    return i;
}

std::optional<Contents> ReadPcapng(const QByteArray& bytes, QString* error)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
    Contents out;
    Order o;
    QList<Interface> interfaces;
    qint64 lastUs = 0;
    for (qsizetype at = 0; at < size;) {
        if (size - at < 12) {
            *error = CutShort(at);
            return std::nullopt;
        }
        const uchar* block = data + at;
        if (Order{}.u32(block) == 0x0A0D0D0A) { // a section header sets the byte order
            o.big = Be32(block + 8) == 0x1A2B3C4D;
            interfaces.clear();
        }
        const quint32 type = o.u32(block), length = o.u32(block + 4);
        if (length < 12 || length % 4 != 0 || qsizetype(length) > size - at) {
            *error = length > size - at
                         ? CutShort(at)
                         : QStringLiteral("a block at byte %1 has a wrong length").arg(at);
            return std::nullopt;
        }
        const uchar* body = block + 8;
        const uchar* end = block + length - 4;
        const int bodySize = int(end - body);
        if (type == 1 && bodySize >= 8) {
            interfaces << ReadInterface(o, body, end);
        } else if ((type == 6 && bodySize >= 20) || (type == 2 && bodySize >= 20)) {
            const quint32 id = type == 6 ? o.u32(body) : o.u16(body);
            const quint64 ts = quint64(o.u32(body + 4)) << 32 | o.u32(body + 8);
            const int captured = int(o.u32(body + 12)), original = int(o.u32(body + 16));
            if (id >= quint32(interfaces.size()) || captured < 0 || captured > bodySize - 20) {
                ++out.passedOver;
            } else {
                lastUs = Microseconds(interfaces[int(id)], ts);
                Take(out, interfaces[int(id)].linkType, lastUs, body + 20, captured, original);
            }
        } else if (type == 3 && bodySize >= 4 && !interfaces.isEmpty()) {
            // A simple packet block has no time of its own: it takes the one before it.
            const int original = int(o.u32(body));
            const int captured = std::min(original, bodySize - 4);
            Take(out, interfaces[0].linkType, lastUs, body + 4, captured, original);
        }
        at += length;
    }
    return out;
}

std::optional<Contents> ReadPcap(const QByteArray& bytes, QString* error)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
    if (size < 24) {
        *error = CutShort(0);
        return std::nullopt;
    }
    const quint32 magic = Order{}.u32(data);
    const Order o{magic == 0xD4C3B2A1 || magic == 0x4D3CB2A1};
    const bool nano = o.u32(data) == 0xA1B23C4D;
    const quint32 linkType = o.u32(data + 20) & 0x03FFFFFF; // the upper bits tell of FCS
    Contents out;
    for (qsizetype at = 24; at < size;) {
        if (size - at < 16) {
            *error = CutShort(at);
            return std::nullopt;
        }
        const uchar* r = data + at;
        const quint32 captured = o.u32(r + 8), original = o.u32(r + 12);
        if (captured > quint32(size - at - 16)) {
            *error = CutShort(at);
            return std::nullopt;
        }
        const qint64 us = qint64(o.u32(r)) * 1000000 + (nano ? o.u32(r + 4) / 1000 : o.u32(r + 4));
        Take(out, linkType, us, r + 16, int(captured), int(original));
        at += 16 + qsizetype(captured);
    }
    return out;
}

} // namespace

std::optional<Contents> ReadCapture(const QByteArray& bytes, QString* error)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const quint32 first = bytes.size() >= 4 ? Order{}.u32(data) : 0;
    if (first == 0x0A0D0D0A)
        return ReadPcapng(bytes, error);
    for (const quint32 magic : {0xA1B2C3D4u, 0xD4C3B2A1u, 0xA1B23C4Du, 0x4D3CB2A1u})
        if (first == magic)
            return ReadPcap(bytes, error);
    *error = QStringLiteral("not a pcap or pcapng capture file");
    return std::nullopt;
}

} // namespace capture
