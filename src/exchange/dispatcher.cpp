// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/dispatcher.h"

#include "exchange/linkcore.h"
#include "exchange/tracelog.h"
#include "support/byteorder.h"

namespace
{
const QString NoteEmptyRecord = QStringLiteral("КВТB"); // the last letter is the Latin B
}

ReceiveDispatcher::ReceiveDispatcher(LinkCore& link, TraceLog& trace, QObject* parent)
    : QObject(parent), link_(link), trace_(trace)
{
}

void ReceiveDispatcher::RegisterRecordHandler(RecordHandler handler)
{
    handlers_.append(std::move(handler));
}

void ReceiveDispatcher::Append(const QString& text)
{
    trace_.TraceAppend(text);
}

void ReceiveDispatcher::Acknowledge(const TPacket& d)
{
    if (d.size() < 3)
        return; // nothing that could be acknowledged
    link_.SendReply(packet::Receipt(packet::at(d, 2)));
}

void ReceiveDispatcher::Dispatch(const TPacket& d, const QHostAddress& sender)
{
    if (d.isEmpty())
        return;
    const uint8_t kind = packet::at(d, 0);
    if (kind == packet::KindAnnouncement) {
        if (onAnnouncement)
            onAnnouncement(d, sender);
        return;
    }
    // Only the configured adapter may move the sequence, release a wait or write a table.
    if (!link_.FromAdapter(sender)) {
        trace_.TraceNote(QStringLiteral("Чужой адрес"));
        return;
    }

    link_.RestartInactivity();

    if (kind == packet::KindReceipt || (kind & packet::ReceiptBit)) {
        trace_.TraceNote(QStringLiteral("КВТ"));
        if (d.size() < 3 || !link_.ReceiptFromAdapter(packet::at(d, 2)))
            trace_.TraceNote(QStringLiteral("ERR КВТ"));
        return;
    }
    if (kind == packet::KindTransmitted) {
        trace_.TraceNote(QStringLiteral("Передано"));
        link_.TransmissionReported();
        return;
    }
    if ((kind & 0x80) || d.size() <= packet::HeaderSize) {
        Acknowledge(d);
        return;
    }
    const uint8_t type = packet::at(d, 3);
    if (type == packet::TypeAdapterDiag) {
        trace_.TraceNote(QStringLiteral("Диагн адапт"));
        Acknowledge(d);
        return;
    }
    if (type != packet::TypeCanFrames) {
        trace_.TraceNote(QStringLiteral("ОШ № протокол"));
        Acknowledge(d);
        return;
    }
    if ((kind & 7) != link_.CanChannel) {
        Acknowledge(d);
        return;
    }
    WalkRecords(d);
    Acknowledge(d);
}

void ReceiveDispatcher::WalkRecords(const TPacket& d)
{
    CanRecordWalk walk(d);
    CanRecord rec;
    while (walk.next(rec)) {
        if (walk.offset() > 0)
            Append(QStringLiteral("+"));
        if (trace_.Listen) {
            // The 16-bit stamp 13 bytes into the record; a record too short to hold it
            // leaves the note and LastStamp alone.
            const int lo = rec.byte(13), hi = rec.byte(14);
            if (lo >= 0 && hi >= 0) {
                const uint8_t bytes[] = {uint8_t(lo), uint8_t(hi)};
                const quint32 stamp = byteorder::le16(bytes);
                const quint32 v = stamp < LastStamp ? stamp + 65536 : stamp;
                Append(QStringLiteral("{%1}").arg(qint64(v) - qint64(LastStamp)));
                LastStamp = stamp;
            }
        }
        NoteRecord(d, rec);
        for (const RecordHandler& handler : handlers_)
            handler(rec);
    }
}

void ReceiveDispatcher::NoteRecord(const TPacket& d, const CanRecord& rec)
{
    const bool empty = rec.dlc == 0;
    switch (packet::KindOf(rec)) {
    case packet::RecordKind::TitStamp:
        Append(empty ? NoteEmptyRecord : QStringLiteral("ЗТИТ"));
        break;
    case packet::RecordKind::TitValues:
        Append(empty ? NoteEmptyRecord : QStringLiteral("ЦТИТ"));
        break;
    case packet::RecordKind::TiiCounter:
        Append(empty ? NoteEmptyRecord : QStringLiteral("ЦТИИ"));
        break;
    case packet::RecordKind::TsState:
        Append(empty ? NoteEmptyRecord : QStringLiteral("ЦТС"));
        break;
    case packet::RecordKind::TsEvent:
        Append(empty ? NoteEmptyRecord : QStringLiteral("ТС"));
        break;
    case packet::RecordKind::Interlock:
        Append(QStringLiteral("БЛК"));
        break;
    case packet::RecordKind::BlockReply: {
        trace_.TraceNote(QStringLiteral("Конф"));
        // Byte 7 of the datagram is the sub-function of its first record: 0xFF marks the
        // announcement answers, which block discovery collects; 0x0F is ignored.
        const uint8_t d7 = packet::at(d, 7);
        if (d7 != packet::AnnouncementAnswer && d7 != 0x0F)
            link_.BlockReply(rec);
        break;
    }
    case packet::RecordKind::TuDiagnostics:
    case packet::RecordKind::TuDiagnostics2:
        trace_.TraceNote(QStringLiteral("ТУ Диаг"));
        break;
    case packet::RecordKind::TuReady:
        trace_.TraceNote(QStringLiteral("ТУ готово"));
        break;
    case packet::RecordKind::TuResult: {
        // A result without its error byte cannot be confirmed as a success.
        const int code = rec.data.size() > 1 ? rec.data[1] : -1;
        trace_.TraceNote(code == 0 ? QStringLiteral("ТУ OK") : QStringLiteral("ТУ ошибка"));
        break;
    }
    case packet::RecordKind::Other:
        break;
    }
}
