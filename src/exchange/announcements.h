// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The adapter's announcements: the list of adapters heard, the address reply that gives the
// configured adapter its network settings, and the link start on the adapter's connection
// request, with the CAN mode message for a version-4 adapter. Also the clock setting request.

#include "exchange/packet.h"

#include <QHostAddress>
#include <QObject>
#include <QStringList>

class LinkCore;
class TraceLog;

class AdapterAnnouncements : public QObject
{
    Q_OBJECT
public:
    AdapterAnnouncements(LinkCore& link, TraceLog& trace, QObject* parent = nullptr);

    // "Список адаптеров с сети": one line per distinct announcement, with its check mark.
    QStringList ListAdapters;
    QList<bool> ListAdaptersChecked;

    // Handles one datagram whose first byte is 0x80.
    void Handle(const TPacket& d, const QHostAddress& sender);

    // The 58-byte address reply for the given MAC, from the settings' address fields.
    TPacket AddressReply(const uint8_t (&mac)[6]) const;
    // The link start message for an adapter of the given major version, and the CAN channel
    // it selects; an empty message means nothing is sent and the channel is kept.
    std::pair<TPacket, int> LinkStartMessage(int versionMajor) const;
    // The clock-setting request for the given seconds (local time counted from 1970).
    static TPacket ClockRequest(quint32 seconds);
    // Local time now as seconds since 1970-01-01 00:00:00, without time-zone correction,
    // rounded to the nearest second.
    static quint32 LocalSeconds();

    // "Установить время".
    void SetClock();

signals:
    void adapterListed(int index);
    void adapterChecked(int index);
    // The link has started: pages enable their controls and show their tabs.
    void linkStarted();

private:
    void StartLink(int versionMajor);

    LinkCore& link_;
    TraceLog& trace_;
};
