// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/blockrequests.h"

#include "support/byteorder.h"

namespace blockreq
{

namespace
{
constexpr uint8_t ServiceFunction = 0x01;
constexpr uint8_t BroadcastAddress = 0x80;

TPacket Service(uint8_t subFunction)
{
    return packet::Request(ServiceFunction, packet::RequestFlags, BroadcastAddress, subFunction,
                           {});
}
TPacket Plain(uint8_t f, uint8_t a, uint8_t subFunction)
{
    return packet::Request(f, packet::RequestFlags, a, subFunction, {});
}
} // namespace

TPacket AnnouncementQuery()
{
    return Service(0x06);
}
TPacket ServiceStart()
{
    return Service(0x05);
}
TPacket ServiceEnd()
{
    return Service(0x04);
}

TPacket PointerSet(uint8_t f, uint8_t a, uint16_t pointer)
{
    return packet::Request(f, packet::RequestFlags, a, sub::PointerSet,
                           byteorder::le16Bytes(pointer));
}
TPacket MemoryRead(uint8_t f, uint8_t a)
{
    return Plain(f, a, sub::MemoryRead);
}
TPacket MemoryWrite(uint8_t f, uint8_t a, const Chunk& data)
{
    return packet::Request(f, packet::RequestFlags, a, sub::MemoryWrite, data);
}
TPacket PageErase(uint8_t f, uint8_t a)
{
    return Plain(f, a, sub::PageErase);
}
TPacket Prepare(uint8_t f, uint8_t a)
{
    return packet::Request(f, packet::RequestFlags, a, sub::Prepare, {0x00});
}
TPacket Completion(uint8_t f, uint8_t a)
{
    return Plain(f, a, sub::Completion);
}
TPacket FirmwareCompletion(uint8_t f, uint8_t a)
{
    return Plain(f, a, sub::FirmwareCompletion);
}

TPacket ConfigRead(uint8_t f, uint8_t a, int chunk)
{
    return packet::Request(f, packet::RequestFlags, a, sub::ConfigRead,
                           byteorder::le16Bytes(uint16_t(ChunkSize * chunk)));
}
TPacket ConfigWrite(uint8_t f, uint8_t a, bool first, const Chunk& data)
{
    return packet::Request(f, packet::RequestFlags, a,
                           first ? sub::ConfigWriteStart : sub::ConfigWriteContinue, data);
}
TPacket ConfigWriteEnd(uint8_t f, uint8_t a)
{
    return Plain(f, a, sub::ConfigWriteEnd);
}
TPacket DiagnosticsRead(uint8_t f, uint8_t a)
{
    return packet::Request(f, packet::RequestFlags, a, sub::DiagnosticsRead, {0x00, 0x00});
}

Chunk ChunkOf(std::span<const uint8_t> bytes, int k)
{
    Chunk c{};
    for (int i = 0; i < ChunkSize; ++i) {
        const size_t at = size_t(ChunkSize * k + i);
        c[size_t(i)] = at < bytes.size() ? bytes[at] : 0;
    }
    return c;
}

} // namespace blockreq
