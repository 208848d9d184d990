#pragma once
// One simulated function block on the CAN bus: its type, bus address, the configuration
// service it answers (block memory behind a 16-bit pointer, parameter record, diagnostics,
// counter preset) and its live state: telesignal inputs, counters and event archive,
// measurement channels, relays and telecontrol answers.

#include "records.h"

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
constexpr uint8_t CounterPreset = 0x0C;
constexpr uint8_t DiagnosticsRead = 0x0E;
constexpr uint8_t Announcement = 0xFF; // sub-function of a block's announcement record
} // namespace sub

constexpr int Inputs = 32;   // telesignal inputs, counters, relays, interlock bits per block
constexpr int Channels = 32; // measurement channels per block

// A deterministic pseudo-random 64-bit value of its arguments.
uint64_t Noise(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0);

// Live state of a telesignal block.
struct TsLive {
    uint32_t inputs = 0;                     // bit k - 1: input k
    uint32_t doublePoints = 0;               // bit k - 1: inputs k and k + 1 form a double point
    std::array<uint32_t, Inputs> counters{}; // integral counter of channel k at index k - 1
    int counterChannels = 8;                 // channels 1..N are reported
    // The event archive: 32 positions, each holding the last event filed there.
    std::array<std::optional<TsEvent>, 32> archive;
    uint8_t archivePosition = 0; // position of the latest event; the first goes to 1
};

// Live state of a measurement block.
struct TitLive {
    int channels = 16; // channels 1..N are reported
    uint32_t step = 0; // readings taken so far
};

// Behaviour and state of a telecontrol block.
struct TuLive {
    std::array<uint8_t, Inputs> status{}; // result status of relay k at index k - 1 (0: done)
    std::array<uint16_t, Inputs> coefficients{};
    bool noReady = false;  // a select is not answered
    bool noResult = false; // an execute is not answered
    int faultyRelay = 0;   // 1..32: this relay switches but drives no input
    int holdMs = 200;      // a switched relay releases after this time; 0: until the next one
    uint8_t diagnosticsForm = record::TuDiagnosticsFirst;
    double volts = 24.0;
    double celsius = 35.0;
    uint32_t interlocks = 0;

    int selected = -1;      // relay index selected and awaiting execution
    uint32_t relays = 0;    // relays switched on
    uint32_t operation = 0; // counts relay operations, so a late release finds itself stale

    void setStatus(uint8_t s) { status.fill(s); }
};

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

    // A silent block answers nothing and sends nothing.
    bool silent = false;

    // Live state; only the part of the block's type is used.
    TsLive ts;
    TitLive tit;
    TuLive tu;
    // Inputs, counters, interlock bits and relay coefficients drawn from the address and the
    // seed (the constructor uses seed 1).
    void seedLiveState(uint32_t seed);

    // Telesignal block: sets input 1..32 and files the change in the archive at the next
    // position. A double point reported on input k also sets input k + 1 (input 32 has none).
    TsEvent changeInput(int input, bool value, const Stamp& stamp);
    TsEvent changeDoublePoint(int input, bool value, bool second, const Stamp& stamp);

    // Measurement block: the readings of the reported channels at the next step, a slow sine
    // per channel with noise, fully determined by the seed, address, channel and step.
    std::vector<int16_t> nextReadings(uint32_t seed);
    static int16_t Reading(uint32_t seed, uint8_t address, int channel, uint32_t step);

    // Telesignal block: the reported counters advance by a few pulses in the given round.
    void advanceCounters(uint32_t seed, uint32_t round);

private:
    Chunk readMemoryChunk();
    Chunk parameterChunk(int offset) const;
    Chunk diagnostics() const;
    Chunk presetCounter(std::span<const uint8_t> data);

    BlockType type_;
    uint8_t address_;
    QByteArray versionText_;
    uint16_t pointer_ = 0;
    std::vector<uint8_t> memory_;
    QByteArray parameters_;
};

} // namespace kpsim
