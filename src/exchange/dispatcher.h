// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The receive dispatcher: every datagram that arrives on the data socket is classified here,
// acknowledged, and its CAN frame records are walked and handed to the subsystems that
// registered for them. It also releases the request channel's waits and keeps the link's
// inactivity timer alive.

#include "exchange/packet.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <functional>
#include <utility>

class LinkCore;
class TraceLog;

class ReceiveDispatcher : public QObject
{
    Q_OBJECT
public:
    ReceiveDispatcher(LinkCore& link, TraceLog& trace, QObject* parent = nullptr);

    quint32 LastStamp = 0; // last time stamp seen in listen mode

    // Announcements (first byte 0x80), from any sender.
    std::function<void(const TPacket&, const QHostAddress&)> onAnnouncement;

    // A subsystem's handler: called for every record of an accepted data datagram, after the
    // record's trace note was written. The subsystems keep their own state from the records
    // they own (block discovery the announcement answers, telecontrol its ready and result).
    using RecordHandler = std::function<void(const CanRecord&)>;
    void RegisterRecordHandler(RecordHandler handler);

    // Runs the classification for one datagram that was already counted and traced.
    void Dispatch(const TPacket& d, const QHostAddress& sender);

private:
    void Acknowledge(const TPacket& d);
    void Append(const QString& text);
    void WalkRecords(const TPacket& d);
    void NoteRecord(const TPacket& d, const CanRecord& rec);

    LinkCore& link_;
    TraceLog& trace_;
    QList<RecordHandler> handlers_;
};
