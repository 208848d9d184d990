#pragma once
// One simulated function block on the CAN bus: its type, bus address and the configuration
// service it answers (block memory behind a 16-bit pointer, parameter record, diagnostics).

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kpsim
{

enum class BlockType : uint8_t { Ts, Tit, Tu };

// Function byte of the block's live data records (0x44, 0x48, 0x42).
uint8_t DataFunction(BlockType type);
// Function byte of configuration requests and replies: the data function byte with bit 7 set.
uint8_t ConfigFunction(BlockType type);
std::optional<BlockType> TypeFromConfigFunction(uint8_t function);
// "ts", "tit", "tu".
QString TypeName(BlockType type);
std::optional<BlockType> TypeFromName(QStringView name);

// Configuration sub-functions answered by the block.
namespace sub
{
constexpr uint8_t ConfigRead = 0x00;
constexpr uint8_t MemoryWrite = 0x05;
constexpr uint8_t MemoryRead = 0x06;
constexpr uint8_t PointerSet = 0x07;
constexpr uint8_t DiagnosticsRead = 0x0E;
constexpr uint8_t Announcement = 0xFF; // sub-function of a block's announcement record
} // namespace sub

class SimBlock
{
public:
    using Chunk = std::array<uint8_t, 8>;

    static constexpr uint16_t VersionArea = 0x2080;
    static constexpr int VersionAreaSize = 48;
    static constexpr int ParameterRecordSize = 256;

    // An empty versionText gives the type's default text, e.g. "TS v1.03 sim".
    SimBlock(BlockType type, uint8_t address, QByteArray versionText = {});

    BlockType type() const { return type_; }
    uint8_t address() const { return address_; }
    uint8_t configFunction() const { return ConfigFunction(type_); }
    uint8_t dataFunction() const { return DataFunction(type_); }

    // Answers one configuration request with the 8 data bytes of the block's reply.
    Chunk configure(uint8_t subFunction, std::span<const uint8_t> data);

    // Block memory: 64 KiB addressed by the 16-bit pointer, which wraps.
    uint16_t pointer() const { return pointer_; }
    void setPointer(uint16_t p) { pointer_ = p; }
    uint8_t memoryAt(uint16_t address) const { return memory_[address]; }
    void writeMemory(uint16_t address, std::span<const uint8_t> bytes);
    QByteArray versionText() const { return versionText_; }

    // Parameter record served by configuration reads; bytes past its end read as zero.
    // Initially a deterministic pattern: byte i is (i + 0x20 * address) mod 256.
    const QByteArray& parameters() const { return parameters_; }
    void setParameters(const QByteArray& record);

    // Diagnostics reply: restart count, transmission repeat count (both little-endian), then
    // four more bytes.
    uint16_t restarts = 1;
    uint16_t repeats = 0;
    std::array<uint8_t, 4> diagnosticsTail{};

private:
    Chunk readMemoryChunk();
    Chunk parameterChunk(int offset) const;
    Chunk diagnostics() const;

    BlockType type_;
    uint8_t address_;
    QByteArray versionText_;
    uint16_t pointer_ = 0;
    std::vector<uint8_t> memory_;
    QByteArray parameters_;
};

} // namespace kpsim
