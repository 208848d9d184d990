// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/announcements.h"

#include "exchange/linkcore.h"
#include "exchange/tracelog.h"
#include "support/byteorder.h"
#include "support/cp1251.h"
#include "support/scantext.h"

#include <QDateTime>

namespace
{

constexpr int MaxTextLength = 126;
constexpr int AddressRequestFixed = 15; // bytes before the text of an address request
constexpr int ConnectionRequestFixed = 5;

QString Dotted(const uint8_t* b)
{
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

// The announcement's text: single-byte characters up to a zero byte or the datagram's end.
QString AnnouncementText(const TPacket& d, int from)
{
    QByteArray text = d.mid(from, MaxTextLength);
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return FromCp1251(text);
}

// Four numbers of a dotted address field; a field that does not read as four numbers gives
// zeros, never numbers left over from another field.
void PutAddress(TPacket& p, int at, const QString& field)
{
    int32_t n[4] = {0, 0, 0, 0};
    if (ScanText(field.toLatin1(), "%u.%u.%u.%u", n) != 4)
        std::fill(std::begin(n), std::end(n), 0);
    for (int i = 0; i < 4; ++i)
        p[at + i] = char(uint8_t(n[i]));
}

} // namespace

AdapterAnnouncements::AdapterAnnouncements(LinkCore& link, TraceLog& trace, QObject* parent)
    : QObject(parent), link_(link), trace_(trace)
{
}

void AdapterAnnouncements::Handle(const TPacket& d, const QHostAddress& sender)
{
    if (d.size() < 3)
        return; // too short to tell what it asks
    const auto* b = reinterpret_cast<const uint8_t*>(d.constData());
    const bool addressRequest = b[2] == 2;
    trace_.TraceNote(addressRequest ? QStringLiteral("Запрос Адреса")
                                    : QStringLiteral("Запрос соединения"));
    if (d.size() < (addressRequest ? AddressRequestFixed : ConnectionRequestFixed))
        return; // its fixed fields are not all there

    bool ipv4 = false;
    const QString from = QHostAddress(sender.toIPv4Address(&ipv4)).toString();
    const int major = b[3], minor = b[4];
    QString entry = QStringLiteral("IP: %1 v:%2.%3 ( ").arg(from).arg(major).arg(minor);
    QString mac;
    if (addressRequest) {
        for (int i = 0; i < 6; ++i)
            mac += QStringLiteral("%1%2").arg(i ? ":" : "").arg(b[5 + i], 2, 16, QLatin1Char('0'));
        mac = mac.toUpper();
        entry += QStringLiteral("MAC:%1 IP:%2 STR:%3 )")
                     .arg(mac, Dotted(b + 11), AnnouncementText(d, AddressRequestFixed));
    } else {
        entry += QStringLiteral("STR:%1 )").arg(AnnouncementText(d, ConnectionRequestFixed));
    }

    int index = int(ListAdapters.indexOf(entry));
    if (index < 0) {
        ListAdapters.append(entry);
        ListAdaptersChecked.append(false);
        index = int(ListAdapters.size()) - 1;
        emit adapterListed(index);
    }
    if (!link_.settings.Connect)
        return;
    if (!ListAdaptersChecked[index]) {
        ListAdaptersChecked[index] = true;
        emit adapterChecked(index);
    }

    if (addressRequest) {
        if (mac != link_.settings.BaseMacAdapter)
            return;
        uint8_t macBytes[6];
        std::copy(b + 5, b + 11, macBytes);
        const TPacket reply = AddressReply(macBytes);
        trace_.TraceFrame(TraceLog::Broadcast, reply);
        trace_.TraceNote(QStringLiteral("Адрес"));
        link_.SendBroadcast(reply);
        return;
    }
    if (ipv4 && from == link_.settings.BaseIPadapter)
        StartLink(major);
}

TPacket AdapterAnnouncements::AddressReply(const uint8_t (&mac)[6]) const
{
    TPacket p(58, char(0x20));
    p[0] = char(0x81);
    p[1] = char(0x37);
    p[2] = char(0x02);
    PutAddress(p, 3, link_.settings.BaseGW);
    PutAddress(p, 7, link_.settings.BaseMask);
    for (int i = 0; i < 6; ++i)
        p[11 + i] = char(mac[i]);
    PutAddress(p, 17, link_.settings.BaseIPadapter);
    PutAddress(p, 21, link_.settings.BaseIP);
    return p;
}

std::pair<TPacket, int> AdapterAnnouncements::LinkStartMessage(int versionMajor) const
{
    if (versionMajor != 4)
        return {packet::Bytes({0x81, 0x00}), 0};
    switch (link_.settings.Km4Cfg) {
    case 0:
        return {packet::Bytes({0x81, 0x00, 'C', '1', 'M', ' ', 0x00}), 0};
    case 1:
        return {packet::Bytes({0x81, 0x00, 'C', '2', 'M', ' ', 0x00}), 1};
    case 2:
        return {packet::Bytes({0x81, 0x00, 'C', '1', 'S', ' ', 0x00}), 0};
    case 3:
        return {packet::Bytes({0x81, 0x00, 'C', '2', 'S', ' ', 0x00}), 1};
    default:
        return {TPacket(), link_.CanChannel};
    }
}

void AdapterAnnouncements::StartLink(int versionMajor)
{
    const auto [message, channel] = LinkStartMessage(versionMajor);
    link_.StartLink(message, channel);
    if (!link_.settings.DebugMode)
        trace_.TrassEnable = false;
    emit linkStarted(); // pages enable their controls and show their tabs
    trace_.TraceNote(QStringLiteral("Соединение"));
}

TPacket AdapterAnnouncements::ClockRequest(quint32 seconds)
{
    TPacket p = packet::Bytes(
        {0x00, 0x0B, 0x00, 0x19, 0x01, 0x18, 0x80, 0x01, 0x06, 0, 0, 0, 0, 0x00, 0x00});
    byteorder::putLe32(reinterpret_cast<uint8_t*>(p.data()) + 9, seconds);
    return p;
}

quint32 AdapterAnnouncements::LocalSeconds()
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 ms = now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000;
    return quint32((ms + 500) / 1000);
}

void AdapterAnnouncements::SetClock()
{
    const auto operation = link_.Operations.Begin(QStringLiteral("установка времени"));
    if (!operation)
        return;
    // The note goes to the request's newest row; nothing was traced when nothing went out.
    if (link_.SendRequest(ClockRequest(LocalSeconds())) == Sent::Done)
        trace_.TraceNote(QStringLiteral("Время"));
}
