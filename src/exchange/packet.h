// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Datagrams of the exchange with the Ethernet-to-CAN adapter.
//
// Header of a numbered datagram: [0] channel and kind, [1] bytes after the header,
// [2] sequence number, [3] message type (0x19 CAN frame records, 0xFD adapter diagnostics).
// CAN frame record: [0] function, [1] flags, [2] block address, [3] sub-function or start
// index, [4] DLC, then DLC data bytes; the next record follows the data.
//
// Reading is bounds-safe: CanRecordWalk yields only records whose five header bytes lie inside
// the datagram, and a record whose DLC runs past the datagram's end is cut there.

#include <QByteArray>
#include <cstdint>
#include <initializer_list>
#include <span>

using TPacket = QByteArray;

namespace packet
{

constexpr uint8_t KindAnnouncement = 0x80;
constexpr uint8_t KindLinkMessage = 0x81;
constexpr uint8_t KindReceipt = 0x82;
constexpr uint8_t KindTransmitted = 0x83;
constexpr uint8_t ReceiptBit = 0x20;
constexpr uint8_t TypeCanFrames = 0x19;
constexpr uint8_t TypeAdapterDiag = 0xFD;
constexpr int HeaderSize = 4;
constexpr int RecordHeaderSize = 5;

// Function bytes of the blocks' data records; a configuration request or a block's reply has
// bit 7 set as well.
constexpr uint8_t FunctionTs = 0x44;  // telesignal states, events, counters
constexpr uint8_t FunctionTit = 0x48; // current measurements
constexpr uint8_t FunctionTu = 0x42;  // telecontrol and interlock states
constexpr uint8_t ConfigBit = 0x80;
constexpr uint8_t RequestFlags = 0x18;

inline uint8_t at(const TPacket& d, int i)
{
    return uint8_t(d.at(i));
}

// A packet built from literal bytes.
TPacket Bytes(std::initializer_list<uint8_t> bytes);

// A request with one CAN frame record: header 00 len 00 19, then the record. Byte 0 (channel)
// and byte 2 (sequence) are left for the request channel to stamp.
TPacket Request(uint8_t function, uint8_t flags, uint8_t address, uint8_t sub,
                std::span<const uint8_t> data);
TPacket Request(uint8_t function, uint8_t flags, uint8_t address, uint8_t sub,
                std::initializer_list<uint8_t> data);

// The program's receipt for a datagram with the given sequence byte: 82 01 seq.
TPacket Receipt(uint8_t sequence);

// " 80 00": a blank and two upper-case hexadecimal digits per byte.
QString HexText(const TPacket& d);

} // namespace packet

// One CAN frame record as found inside a datagram.
struct CanRecord {
    const TPacket* datagram = nullptr;
    int start = 0; // offset of the record's function byte in the datagram
    uint8_t function = 0, flags = 0, address = 0, sub = 0;
    uint8_t dlc = 0;               // as declared by the record
    std::span<const uint8_t> data; // the data bytes that lie inside the datagram (<= dlc)

    // The datagram byte at the given offset from the record start, or -1 outside the datagram.
    int byte(int offset) const;
    // The byte that follows the record's declared data, 0 when it lies past the datagram.
    uint8_t byteAfterData() const;
};

namespace packet
{

// What a CAN frame record carries. The function byte, flags and sub-function tell the kinds
// apart; no record is of two kinds.
enum class RecordKind {
    Other,
    TitStamp,       // 0x48, sub bit 6 set: time stamp of a current-measurement group
    TitValues,      // 0x48, sub bit 6 clear: current measurements
    TiiCounter,     // 0x44, (flags & 0xE3) = 0x21, sub != 0: an integral counter
    TsState,        // 0x44, flags bit 7 clear, sub = 0: 32 telesignal states
    TsEvent,        // 0x44, (flags & 0xE3) = 0x80: a telesignal change
    Interlock,      // 0x42, sub = 10: 32 interlock states
    BlockReply,     // function bit 7 set: a block's reply or announcement
    TuResult,       // 0x42, sub = 1
    TuDiagnostics,  // 0x42, sub = 2
    TuReady,        // 0x42, sub = 3
    TuDiagnostics2, // 0x42, sub = 8
};
RecordKind KindOf(const CanRecord& record);

// Byte 7 of a datagram whose block replies are announcement answers (the first record's
// sub-function).
constexpr uint8_t AnnouncementAnswer = 0xFF;
// A block's announcement, in answer to the announcement query: a block reply record in a
// datagram whose byte 7 is AnnouncementAnswer.
bool IsAnnouncementAnswer(const CanRecord& record);

} // namespace packet

// Walks the records of a type-0x19 datagram: the record at 4 + off, off advancing by DLC + 5,
// while off is below the datagram's length byte and the record header fits in the datagram.
class CanRecordWalk
{
public:
    explicit CanRecordWalk(const TPacket& d) : d_(d) {}
    // Fills rec with the next record; false when the walk is over.
    bool next(CanRecord& rec);
    int offset() const { return off_; } // 'off' of the record last returned

private:
    const TPacket& d_;
    int nextOff_ = 0;
    int off_ = 0;
};
