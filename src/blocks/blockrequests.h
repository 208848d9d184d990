// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The requests of the block service, written once: configuration reads and writes, the block
// memory protocol (prepare, pointer set, memory read and write, page erase, completions) and
// the broadcast service records. F is a block's configuration function byte, A its bus
// address. Bytes 0 (channel) and 2 (sequence) are left for the request channel.

#include "exchange/packet.h"

#include <array>
#include <cstdint>
#include <span>

namespace blockreq
{

// Sub-functions of the configuration requests.
namespace sub
{
constexpr uint8_t ConfigRead = 0x00;
constexpr uint8_t ConfigWriteContinue = 0x01;
constexpr uint8_t ConfigWriteEnd = 0x02;
constexpr uint8_t Completion = 0x03;
constexpr uint8_t MemoryWrite = 0x05;
constexpr uint8_t MemoryRead = 0x06;
constexpr uint8_t PointerSet = 0x07;
constexpr uint8_t Prepare = 0x08;
constexpr uint8_t PageErase = 0x09;
constexpr uint8_t FirmwareCompletion = 0x0A;
constexpr uint8_t ConfigWriteStart = 0x0B;
constexpr uint8_t DiagnosticsRead = 0x0E;
} // namespace sub

// Memory areas of a block, as pointer values.
constexpr uint16_t VersionArea = 0x2080;
constexpr uint16_t LogicArea = 0x8000;  // interlock logic, and where firmware is written
constexpr uint16_t LoaderArea = 0xEA00; // the block's loader
constexpr uint16_t CalibrationArea = 0xFC00;
constexpr int PageSize = 512; // bytes cleared by one page erase
constexpr int ChunkSize = 8;  // data bytes of one memory or configuration chunk

using Chunk = std::array<uint8_t, ChunkSize>;

// Broadcast service records (function 0x01, address 0x80).
TPacket AnnouncementQuery(); // every block answers with its announcement
TPacket ServiceStart();      // opens an interlock transfer or a firmware run
TPacket ServiceEnd();        // closes it

TPacket PointerSet(uint8_t f, uint8_t a, uint16_t pointer);
TPacket MemoryRead(uint8_t f, uint8_t a);
TPacket MemoryWrite(uint8_t f, uint8_t a, const Chunk& data);
TPacket PageErase(uint8_t f, uint8_t a);
TPacket Prepare(uint8_t f, uint8_t a);
TPacket Completion(uint8_t f, uint8_t a);
TPacket FirmwareCompletion(uint8_t f, uint8_t a);

// Configuration read of the 8 record bytes from offset 8 * chunk.
TPacket ConfigRead(uint8_t f, uint8_t a, int chunk);
// A chunk of a configuration write: the first goes as write start, the later ones as write
// continue.
TPacket ConfigWrite(uint8_t f, uint8_t a, bool first, const Chunk& data);
TPacket ConfigWriteEnd(uint8_t f, uint8_t a);
TPacket DiagnosticsRead(uint8_t f, uint8_t a);

// Chunk k of a byte buffer (bytes 8k..8k+7; bytes past its end read as 0).
Chunk ChunkOf(std::span<const uint8_t> bytes, int k);

} // namespace blockreq
