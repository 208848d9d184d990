// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small reader of pcapng capture files for the tests: one section of little-endian blocks,
// interfaces of link type IPv4 (228), enhanced packet blocks holding IPv4/UDP packets. It checks
// what a careless writer gets wrong: block lengths at both ends, the 32-bit padding, option
// lengths, the IPv4 header and UDP checksums, and the lengths inside the packet.

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <cstdint>

namespace pcapng
{

struct Packet {
    quint64 timestamp = 0; // in units of the interface's resolution
    QHostAddress source, destination;
    quint16 sourcePort = 0, destinationPort = 0;
    QByteArray payload; // the UDP payload: the datagram
    QString comment;    // opt_comment, empty when absent
    bool checksumsValid = false;
};

struct Capture {
    QString error; // empty when the file read cleanly
    QString application;
    quint16 linkType = 0;
    int timeResolution = -1; // if_tsresol; -1 when absent
    QList<Packet> packets;
};

namespace detail
{
inline quint32 le32(const uchar* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}
inline quint16 le16(const uchar* p)
{
    return quint16(p[0] | p[1] << 8);
}
inline quint16 be16(const uchar* p)
{
    return quint16(p[0] << 8 | p[1]);
}
inline quint32 be32(const uchar* p)
{
    return quint32(be16(p)) << 16 | be16(p + 2);
}
inline quint16 checksum(const uchar* p, int n, quint32 sum = 0)
{
    for (int i = 0; i < n; i += 2)
        sum += quint32(p[i] << 8 | (i + 1 < n ? p[i + 1] : 0));
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

// Walks options from p to end; calls f(code, value, length); false when they are malformed.
template <typename F> bool options(const uchar* p, const uchar* end, F f)
{
    while (p + 4 <= end) {
        const quint16 code = le16(p), length = le16(p + 2);
        if (code == 0)
            return true;
        const int padded = (length + 3) & ~3;
        if (p + 4 + padded > end)
            return false;
        f(code, p + 4, int(length));
        p += 4 + padded;
    }
    return p == end; // options may also end without opt_endofopt
}
} // namespace detail

inline Capture read(const QByteArray& bytes)
{
    using namespace detail;
    Capture c;
    const auto* base = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype at = 0;
    bool sawSection = false;
    while (at < size) {
        if (at + 12 > size)
            return c.error = QStringLiteral("truncated block at %1").arg(at), c;
        const uchar* b = base + at;
        const quint32 type = le32(b), length = le32(b + 4);
        if (length < 12 || length % 4 != 0 || at + qsizetype(length) > size)
            return c.error = QStringLiteral("bad block length %1 at %2").arg(length).arg(at), c;
        if (le32(b + length - 4) != length)
            return c.error = QStringLiteral("trailing length differs at %1").arg(at), c;
        const uchar* body = b + 8;
        const uchar* end = b + length - 4;
        if (!sawSection && type != 0x0A0D0D0A)
            return c.error = QStringLiteral("no section header first"), c;
        switch (type) {
        case 0x0A0D0D0A: {
            if (end - body < 16 || le32(body) != 0x1A2B3C4D || le16(body + 4) != 1)
                return c.error = QStringLiteral("bad section header"), c;
            sawSection = true;
            if (!options(body + 16, end, [&](quint16 code, const uchar* v, int n) {
                    if (code == 4)
                        c.application = QString::fromUtf8(reinterpret_cast<const char*>(v), n);
                }))
                return c.error = QStringLiteral("bad section header options"), c;
            break;
        }
        case 0x00000001:
            if (end - body < 8)
                return c.error = QStringLiteral("short interface description"), c;
            c.linkType = le16(body);
            if (!options(body + 8, end, [&](quint16 code, const uchar* v, int n) {
                    if (code == 9 && n == 1)
                        c.timeResolution = v[0];
                }))
                return c.error = QStringLiteral("bad interface options"), c;
            break;
        case 0x00000006: {
            if (end - body < 20)
                return c.error = QStringLiteral("short packet block"), c;
            Packet p;
            p.timestamp = quint64(le32(body + 4)) << 32 | le32(body + 8);
            const quint32 captured = le32(body + 12), original = le32(body + 16);
            const uchar* data = body + 20;
            const qsizetype padded = (qsizetype(captured) + 3) & ~qsizetype(3);
            if (captured != original || data + padded > end)
                return c.error = QStringLiteral("bad packet lengths"), c;
            if (captured < 28 || data[0] != 0x45 || data[9] != 17 || be16(data + 2) != captured ||
                be16(data + 24) != captured - 20)
                return c.error = QStringLiteral("not an IPv4/UDP packet"), c;
            p.source = QHostAddress(be32(data + 12));
            p.destination = QHostAddress(be32(data + 16));
            p.sourcePort = be16(data + 20);
            p.destinationPort = be16(data + 22);
            p.payload = QByteArray(reinterpret_cast<const char*>(data + 28), captured - 28);
            // The pseudo header: both addresses, protocol and UDP length.
            quint32 pseudo = 17 + (captured - 20);
            for (int i = 12; i < 20; i += 2)
                pseudo += be16(data + i);
            p.checksumsValid = checksum(data, 20) == 0 &&
                               checksum(data + 20, int(captured - 20), pseudo) == 0 &&
                               be16(data + 26) != 0;
            if (!options(data + padded, end, [&](quint16 code, const uchar* v, int n) {
                    if (code == 1)
                        p.comment = QString::fromUtf8(reinterpret_cast<const char*>(v), n);
                }))
                return c.error = QStringLiteral("bad packet options"), c;
            c.packets << p;
            break;
        }
        default:
            break; // other blocks are skipped
        }
        at += length;
    }
    if (!sawSection)
        c.error = QStringLiteral("empty file");
    return c;
}

inline Capture readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        Capture c;
        c.error = f.errorString();
        return c;
    }
    return read(f.readAll());
}

} // namespace pcapng
