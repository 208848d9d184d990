// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One simulated function block on the CAN bus: its type, bus address, the configuration
// service it answers (block memory behind a 16-bit pointer with the version area, firmware,
// loader, calibration record and interlock logic; parameter record with its chunked write;
// diagnostics; counter preset), its faults, and its live state: telesignal inputs, counters and
// event archive, measurement channels, relays and telecontrol answers.

#include "records.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <bitset>
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
constexpr uint8_t ConfigRead = 0x00;          // 16-bit offset: the 8 record bytes from there
constexpr uint8_t ConfigWriteContinue = 0x01; // the next 8 record bytes
constexpr uint8_t ConfigWriteEnd = 0x02;      // the collected chunks replace the record
constexpr uint8_t Completion = 0x03;
constexpr uint8_t MemoryWrite = 0x05; // 8 bytes at the pointer, which advances by 8
constexpr uint8_t MemoryRead = 0x06;  // the 8 bytes at the pointer, which advances by 8
constexpr uint8_t PointerSet = 0x07;  // 16-bit value
constexpr uint8_t Prepare = 0x08;
constexpr uint8_t PageErase = 0x09; // 0xFF over the 512-byte page that holds the pointer
constexpr uint8_t FirmwareCompletion = 0x0A;
constexpr uint8_t ConfigWriteStart = 0x0B; // the first 8 record bytes
constexpr uint8_t CounterPreset = 0x0C;
constexpr uint8_t DiagnosticsRead = 0x0E;
constexpr uint8_t Announcement = 0xFF; // sub-function of a block's announcement record
} // namespace sub

// Where things lie in block memory.
namespace memory
{
constexpr uint16_t Firmware = 0x2000; // the running firmware
constexpr int FirmwareSize = 24000;
constexpr uint16_t VersionArea = 0x2080; // inside the firmware
constexpr int VersionAreaSize = 48;
// New firmware is written here; the firmware completion copies it down to Firmware and the
// block runs it. The interlock logic of a telecontrol block lies at the same place, so a
// firmware update overwrites it.
constexpr uint16_t Staging = 0x8000;
constexpr uint16_t Interlock = 0x8000;
constexpr uint16_t Loader = 0xEA00;
constexpr int LoaderSize = 512;
constexpr uint16_t Calibration = 0xFC00; // calibration record of a measurement block
constexpr int CalibrationSize = 24;
constexpr int PageSize = 512;
} // namespace memory

constexpr int Inputs = 32;   // telesignal inputs, counters, relays, interlock bits per block
constexpr int Channels = 32; // measurement channels per block

// A deterministic pseudo-random 64-bit value of its arguments.
uint64_t Noise(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0);

// Calibration record of a measurement block's converter: zero value, the raw values of the
// maximum and minimum (the program shows 81492 / raw * 5000: 81492 reads 5000), zero zone.
struct Calibration {
    uint16_t zero = 0;
    int32_t maximum = 0;
    int32_t minimum = 0;
    uint16_t zone = 0;
};

// The request with this sub-function that comes nth from now is lost before the block sees
// it; those before and after are taken. nth counts down as the requests pass, 0 when spent.
struct SilentAt {
    uint8_t sub = 0;
    int nth = 0;
};

// Faults of one block; every field may be changed while the simulator runs.
struct BlockFaults {
    std::bitset<256> silentTo; // requests with these sub-functions are never answered
    std::vector<SilentAt> silentAt;
    bool noAnnouncement = false; // the announcement query goes unanswered; all else is
};

// What the block's service has seen since it was added.
struct ServiceCounts {
    std::array<int, 256> requests{}; // requests taken, by sub-function
    int writesSincePrepare = 0;      // memory writes since the last prepare (or since added)
    int erasesSincePrepare = 0;      // page erases likewise
    int configurationWrites = 0;     // write ends that replaced the parameter record
    int firmwareCompletions = 0;     // firmware completions, each a copy to the running area

    int requestsOf(uint8_t sub) const { return requests[sub]; }
};

// Live state of a telesignal block.
struct TsLive {
    uint32_t inputs = 0;                     // bit k - 1: input k
    uint32_t stuckAtZero = 0;                // bit k - 1: input k reads 0 whatever drives it
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

    static constexpr uint16_t VersionArea = memory::VersionArea;
    static constexpr int VersionAreaSize = memory::VersionAreaSize;
    static constexpr int ParameterRecordSize = 256; // what the block keeps; the type uses less

    // An empty versionText gives the type's default text, e.g. "TS v1.03 sim". The block starts
    // with its type's default parameter record, a measurement block with DefaultCalibration(),
    // a telecontrol block with the interlock logic of DefaultInterlockLines(address).
    SimBlock(BlockType type, uint8_t address, QByteArray versionText = {});

    BlockType type() const { return type_; }
    uint8_t address() const { return address_; }
    uint8_t configFunction() const { return ConfigFunction(type_); }
    uint8_t dataFunction() const { return DataFunction(type_); }

    // Whether the block takes a configuration request with this sub-function: not when it is
    // silent, silent to the sub-function, or the request is the one a SilentAt fault loses
    // (which spends that fault). Called once per request, before configure.
    bool takes(uint8_t subFunction);
    // Answers one configuration request with the 8 data bytes of the block's reply.
    Chunk configure(uint8_t subFunction, std::span<const uint8_t> data);

    // Block memory: 64 KiB addressed by the 16-bit pointer, which wraps. Not written memory
    // reads 0x00, erased memory 0xFF.
    uint16_t pointer() const { return pointer_; }
    void setPointer(uint16_t p) { pointer_ = p; }
    uint8_t memoryAt(uint16_t address) const { return memory_[address]; }
    QByteArray memoryBytes(uint16_t address, int count) const;
    void writeMemory(uint16_t address, std::span<const uint8_t> bytes);
    void writeMemory(uint16_t address, const QByteArray& bytes);
    QByteArray firmware() const { return memoryBytes(memory::Firmware, memory::FirmwareSize); }
    QByteArray loader() const { return memoryBytes(memory::Loader, memory::LoaderSize); }
    // The version area as the program shows it: its bytes with every 0x00 and 0xFF left out.
    QByteArray versionText() const;
    // Fills the version area with the text (cut at 48 bytes) and zeros.
    void setVersionText(const QByteArray& text);
    static QByteArray DefaultVersionText(BlockType type);

    // Parameter record (ParameterRecordSize bytes) served by configuration reads; offsets past
    // it read as zero. Bytes the type does not use are zero at first.
    const QByteArray& parameters() const { return parameters_; }
    // Replaces the record's first bytes; the rest are kept. Bytes past the record are dropped.
    void setParameters(const QByteArray& record) { setParameterBytes(0, record); }
    void setParameterBytes(int offset, const QByteArray& bytes);
    // Bytes of the record that the type uses: 80 telesignal, 24 measurement, 200 telecontrol.
    static int RecordSize(BlockType type);
    // The default record of the type: telesignal: cycle times 60 and 300 s, counter mask
    // 0x000000FF, interlock mask 0x00000F00, filters 5 ms (inputs 1-8) and 20 ms stored x2,
    // bytes 76-79 5A A5 3C C3; measurement: cycle 10 s, 4 groups, aperture 50, telesignal cycle
    // 60 s, telesignal mask 0xFFFF0000, telecontrol type 0, hold 10, coefficients 0 and 0,
    // controlled point 1, speed code 7 (9600), delay 20 ms; telecontrol: control type 0, hold
    // 200 ms, relay coefficients 300 to 700, bytes 194-199 5A A5 3C C3 69 96.
    static QByteArray DefaultParameters(BlockType type);

    // Diagnostics reply: restart count, transmission repeat count (both little-endian), then
    // four more bytes.
    uint16_t restarts = 1;
    uint16_t repeats = 0;
    std::array<uint8_t, 4> diagnosticsTail{};

    // Calibration record at 0xFC00: the four fields, then 12 spaces.
    Calibration calibration() const;
    void setCalibration(const Calibration& c);
    // Zero 2048, maximum 81492 (5000), minimum -81492 (-5000), zone 5.
    static Calibration DefaultCalibration() { return {2048, 81492, -81492, 5}; }

    // Interlock logic at 0x8000: lines of code page 1251 text, each ended by 0x00, the first
    // beginning with the marker "@" and the last one "@" alone.
    static QStringList DefaultInterlockLines(uint8_t address);
    static QByteArray InterlockBytes(const QStringList& lines);
    // A logic text of more than 24,000 bytes without its closing line.
    static QByteArray UnclosedInterlock();
    // Writes the bytes at 0x8000; memory after them is kept.
    void setInterlock(const QByteArray& bytes) { writeMemory(memory::Interlock, bytes); }

    // A silent block answers nothing and sends nothing.
    bool silent = false;
    BlockFaults faults;
    const ServiceCounts& service() const { return service_; }

    // Live state; only the part of the block's type is used.
    TsLive ts;
    TitLive tit;
    TuLive tu;
    // Inputs, counters, interlock bits and relay coefficients drawn from the address and the
    // seed (the constructor uses seed 1).
    void seedLiveState(uint32_t seed);

    // Telesignal block: the inputs of the mask read 0 from now on, whatever drives them.
    void stickInputs(uint32_t mask);
    // Telesignal block: sets input 1..32 and files the change in the archive at the next
    // position. A double point reported on input k also sets input k + 1 (input 32 has none).
    // A stuck input stays 0.
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
    void writeMemoryChunk(std::span<const uint8_t> data);
    void erasePage();
    void completeFirmware();
    Chunk parameterChunk(int offset) const;
    void collectChunk(std::span<const uint8_t> data);
    void endConfigurationWrite();
    Chunk diagnostics() const;
    Chunk presetCounter(std::span<const uint8_t> data);

    BlockType type_;
    uint8_t address_;
    uint16_t pointer_ = 0;
    std::vector<uint8_t> memory_;
    QByteArray parameters_;
    // Chunks of a configuration write since its start; -1 when no write is open.
    std::array<uint8_t, ParameterRecordSize> incoming_{};
    int incomingSize_ = -1;
    ServiceCounts service_;
};

} // namespace kpsim
