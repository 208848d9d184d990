// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// CAN frame records that the blocks send on their own or in answer to telecontrol and archive
// requests, built byte by byte. Multi-byte fields are little-endian except the telecontrol
// relay coefficient and the diagnostic codes, which are big-endian.

#include <QByteArray>
#include <cstdint>
#include <span>
#include <utility>

namespace kpsim
{

// What a record carries; the simulator counts the records it has written by kind.
enum class RecordKind : uint8_t {
    TsState,
    TsEvent,
    TiiCounter,
    TitValues,
    TitStamp,
    Interlock,
    TuReady,
    TuResult,
    TuDiagnostics,
};
constexpr int RecordKindCount = 9;

// A time stamp: seconds since 1970 in the controlled point's local time, and the milliseconds
// within that second, which the blocks send as the 16-bit number beside the stamp.
struct Stamp {
    uint32_t seconds = 0;
    uint16_t millis = 0;
};

// One telesignal change as the block reports it.
struct TsEvent {
    int input = 1;            // 1..32
    bool value = false;       // state of the input
    bool doublePoint = false; // input and input + 1 form a double point
    bool second = false;      // state of input + 1 when doublePoint
    Stamp stamp;
    uint8_t archivePosition = 0; // 0..31
};

namespace record
{

constexpr uint8_t TsFunction = 0x44;
constexpr uint8_t TitFunction = 0x48;
constexpr uint8_t TuFunction = 0x42;
constexpr uint8_t TuExecuteFunction = 0x02; // the program's execute command

constexpr uint8_t StateFlags = 0x00;   // telesignal states, measurements, telecontrol records
constexpr uint8_t EventFlags = 0x80;   // telesignal change event
constexpr uint8_t CounterFlags = 0x21; // integral counter

constexpr uint8_t TitStampBit = 0x40;
constexpr uint8_t TuResult = 1;
constexpr uint8_t TuDiagnosticsFirst = 2;
constexpr uint8_t TuReady = 3;
constexpr uint8_t TuDiagnosticsSecond = 8;
constexpr uint8_t TuInterlocks = 10;

constexpr int MaxTitReadings = 4; // per record: DLC 8

// Telecontrol result status codes the blocks use.
namespace status
{
constexpr uint8_t Done = 0;
constexpr uint8_t BadAddress = 1;
constexpr uint8_t NoConfirmation = 8;
} // namespace status

// 44 00 a 00 05: inputs 1..32 (bit 0 of the first byte is input 1), archive position.
QByteArray TsState(uint8_t address, uint32_t inputs, uint8_t archivePosition);
// 44 80 a bits 07: stamp, milliseconds, archive position; bits 0-4 input - 1, bit 5 double
// point, bit 6 state of the second input, bit 7 state of the input.
QByteArray TsEventRecord(uint8_t address, const TsEvent& event);
// 44 80 a 00 00: an acknowledgement with no event (an empty archive position).
QByteArray TsEventEmpty(uint8_t address);
// 44 21 a channel 08: value, stamp; channel counts from 1.
QByteArray TiiCounter(uint8_t address, int channel, uint32_t value, uint32_t stamp);
// 48 00 a first 2n: up to four signed readings from channel index first (counted from 0).
QByteArray TitValues(uint8_t address, int first, std::span<const int16_t> readings);
// 48 00 a 40 04: stamp of the block's measurement group.
QByteArray TitStamp(uint8_t address, uint32_t stamp);
// 42 00 a 0A 05: one unused byte, then bits 1..32.
QByteArray Interlocks(uint8_t address, uint32_t bits);
// 42 00 a 03 03: relay index (from 0), relay coefficient.
QByteArray TuReadyRecord(uint8_t address, uint8_t relayIndex, uint16_t coefficient);
// 42 00 a 01 08: relay index, status 0, stamp, milliseconds.
QByteArray TuDone(uint8_t address, uint8_t relayIndex, const Stamp& stamp);
// 42 00 a 01 04: relay index, status, relay coefficient.
QByteArray TuFailed(uint8_t address, uint8_t relayIndex, uint8_t status, uint16_t coefficient);
// 42 00 a 02|08 04: temperature code, voltage code.
QByteArray TuDiagnosticsRecord(uint8_t address, uint8_t form, uint16_t temperatureCode,
                               uint16_t voltageCode);

// Codes of a supply voltage and a temperature in the first (02) or second (08) diagnostic
// form, as {temperature code, voltage code}. First form: voltage = code * 0.01783 V,
// temperature = (code * 0.0006105 - 0.986) * 1000 / 3.55 degrees; second form: voltage =
// code / 10 V, temperature = code - 278 degrees. Codes are rounded and kept within 16 bits.
std::pair<uint16_t, uint16_t> DiagnosticCodes(uint8_t form, double volts, double celsius);

} // namespace record

} // namespace kpsim
