// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/packet.h"

#include <QString>

namespace packet
{

TPacket Bytes(std::initializer_list<uint8_t> bytes)
{
    TPacket p;
    p.reserve(int(bytes.size()));
    for (uint8_t b : bytes)
        p.append(char(b));
    return p;
}

TPacket Request(uint8_t function, uint8_t flags, uint8_t address, uint8_t sub,
                std::span<const uint8_t> data)
{
    TPacket p;
    const int dlc = int(data.size());
    p.reserve(HeaderSize + RecordHeaderSize + dlc);
    p.append(char(0));
    p.append(char(uint8_t(RecordHeaderSize + dlc)));
    p.append(char(0));
    p.append(char(TypeCanFrames));
    p.append(char(function));
    p.append(char(flags));
    p.append(char(address));
    p.append(char(sub));
    p.append(char(uint8_t(dlc)));
    for (uint8_t b : data)
        p.append(char(b));
    return p;
}

TPacket Request(uint8_t function, uint8_t flags, uint8_t address, uint8_t sub,
                std::initializer_list<uint8_t> data)
{
    return Request(function, flags, address, sub,
                   std::span<const uint8_t>(data.begin(), data.size()));
}

TPacket Receipt(uint8_t sequence)
{
    return Bytes({KindReceipt, 0x01, sequence});
}

QString HexText(const TPacket& d)
{
    static const char16_t digits[] = u"0123456789ABCDEF";
    QString s(d.size() * 3, Qt::Uninitialized);
    QChar* out = s.data();
    for (char c : d) {
        const auto b = uint8_t(c);
        *out++ = u' ';
        *out++ = QChar(digits[b >> 4]);
        *out++ = QChar(digits[b & 0x0F]);
    }
    return s;
}

} // namespace packet

int CanRecord::byte(int offset) const
{
    const int i = start + offset;
    if (!datagram || offset < 0 || i >= datagram->size())
        return -1;
    return uint8_t(datagram->at(i));
}

uint8_t CanRecord::byteAfterData() const
{
    const int v = byte(packet::RecordHeaderSize + dlc);
    return v < 0 ? 0 : uint8_t(v);
}

bool CanRecordWalk::next(CanRecord& rec)
{
    if (d_.size() < packet::HeaderSize)
        return false;
    const int claimed = uint8_t(d_.at(1));
    if (nextOff_ >= claimed)
        return false;
    const int r = packet::HeaderSize + nextOff_;
    if (r + packet::RecordHeaderSize > d_.size())
        return false;
    const auto* b = reinterpret_cast<const uint8_t*>(d_.constData());
    rec.datagram = &d_;
    rec.start = r;
    rec.function = b[r];
    rec.flags = b[r + 1];
    rec.address = b[r + 2];
    rec.sub = b[r + 3];
    rec.dlc = b[r + 4];
    const int dataStart = r + packet::RecordHeaderSize;
    const int available = std::min<int>(rec.dlc, int(d_.size()) - dataStart);
    rec.data = std::span<const uint8_t>(b + dataStart, size_t(available));
    off_ = nextOff_;
    nextOff_ += rec.dlc + packet::RecordHeaderSize;
    return true;
}

packet::RecordKind packet::KindOf(const CanRecord& rec)
{
    const uint8_t f = rec.function, flags = rec.flags, sub = rec.sub;
    if (f & packet::ConfigBit)
        return RecordKind::BlockReply;
    if (f == packet::FunctionTit)
        return sub & 0x40 ? RecordKind::TitStamp : RecordKind::TitValues;
    if (f == packet::FunctionTs) {
        if ((flags & 0xE3) == 0x21 && sub != 0)
            return RecordKind::TiiCounter;
        if (!(flags & 0x80) && sub == 0)
            return RecordKind::TsState;
        if ((flags & 0xE3) == 0x80)
            return RecordKind::TsEvent;
        return RecordKind::Other;
    }
    if (f == packet::FunctionTu) {
        switch (sub) {
        case 1:
            return RecordKind::TuResult;
        case 2:
            return RecordKind::TuDiagnostics;
        case 3:
            return RecordKind::TuReady;
        case 8:
            return RecordKind::TuDiagnostics2;
        case 10:
            return RecordKind::Interlock;
        default:
            return RecordKind::Other;
        }
    }
    return RecordKind::Other;
}

bool packet::IsAnnouncementAnswer(const CanRecord& record)
{
    return KindOf(record) == RecordKind::BlockReply && record.datagram &&
           record.datagram->size() > 7 && at(*record.datagram, 7) == AnnouncementAnswer;
}
