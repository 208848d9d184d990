// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration service of a simulated block: block memory behind the 16-bit pointer
// (version area, firmware staging and completion, loader, calibration record, interlock logic),
// the parameter record with its chunked write, diagnostics and the counter preset.

#include "simblock.h"

#include "support/byteorder.h"
#include "support/bytespan.h"
#include "support/cp1251.h"

#include <algorithm>
#include <cstring>

namespace kpsim
{

namespace
{

// The recognisable tails of the records that the type's fields do not cover.
constexpr uint8_t TsTail[] = {0x5A, 0xA5, 0x3C, 0xC3};
constexpr uint8_t TuTail[] = {0x5A, 0xA5, 0x3C, 0xC3, 0x69, 0x96};

void Put16(QByteArray& r, int offset, uint16_t v)
{
    byteorder::putLe16(reinterpret_cast<uint8_t*>(r.data()) + offset, v);
}

void Put32(QByteArray& r, int offset, uint32_t v)
{
    byteorder::putLe32(reinterpret_cast<uint8_t*>(r.data()) + offset, v);
}

} // namespace

QByteArray SimBlock::DefaultVersionText(BlockType type)
{
    switch (type) {
    case BlockType::Ts:
        return "TS v1.03 sim";
    case BlockType::Tit:
        return "TIT v1.03 sim";
    case BlockType::Tu:
        return "TU v1.03 sim";
    }
    return {};
}

int SimBlock::RecordSize(BlockType type)
{
    switch (type) {
    case BlockType::Ts:
        return 80;
    case BlockType::Tit:
        return 24;
    case BlockType::Tu:
        return 200;
    }
    return 0;
}

QByteArray SimBlock::DefaultParameters(BlockType type)
{
    QByteArray r(ParameterRecordSize, '\0');
    switch (type) {
    case BlockType::Ts:
        Put16(r, 0, 60);  // telesignal cycle, s
        Put16(r, 2, 300); // counter cycle, s
        Put32(r, 4, 0x000000FF);
        Put32(r, 8, 0x00000F00);
        for (int n = 1; n <= Inputs; ++n)
            Put16(r, 12 + 2 * (n - 1), n <= 8 ? 10 : 40); // 5 and 20 ms, stored x2
        std::copy(std::begin(TsTail), std::end(TsTail), r.begin() + 76);
        break;
    case BlockType::Tit:
        Put16(r, 0, 10); // measurement cycle, s
        Put16(r, 2, 4);  // groups
        Put16(r, 4, 50); // aperture
        Put16(r, 6, 60); // telesignal cycle, s
        Put32(r, 8, 0xFFFF0000);
        Put16(r, 14, 10); // telecontrol hold, 0.1 s
        Put16(r, 20, 1);  // controlled point number
        r[22] = 7;        // 9600
        r[23] = 20;       // delay, ms
        break;
    case BlockType::Tu:
        for (int n = 1; n <= Inputs; ++n) {
            Put16(r, 2 + 2 * (n - 1), 200);
            Put16(r, 66 + 2 * (n - 1), 300);
            Put16(r, 130 + 2 * (n - 1), 700);
        }
        std::copy(std::begin(TuTail), std::end(TuTail), r.begin() + 194);
        break;
    }
    return r;
}

void SimBlock::setParameterBytes(int offset, const QByteArray& bytes)
{
    if (offset < 0 || offset >= ParameterRecordSize)
        return;
    const int n = std::min<int>(int(bytes.size()), ParameterRecordSize - offset);
    std::copy_n(bytes.constBegin(), n, parameters_.begin() + offset);
}

QByteArray SimBlock::memoryBytes(uint16_t address, int count) const
{
    QByteArray bytes(std::max(0, count), '\0');
    for (char& b : bytes)
        b = char(memory_[address++]);
    return bytes;
}

void SimBlock::writeMemory(uint16_t address, std::span<const uint8_t> bytes)
{
    for (uint8_t b : bytes)
        memory_[address++] = b;
}

void SimBlock::writeMemory(uint16_t address, const QByteArray& bytes)
{
    writeMemory(address, ByteSpan(bytes));
}

QByteArray SimBlock::versionText() const
{
    QByteArray text = memoryBytes(memory::VersionArea, memory::VersionAreaSize);
    text.removeIf([](char c) { return c == '\0' || c == char(0xFF); });
    return text;
}

void SimBlock::setVersionText(const QByteArray& text)
{
    QByteArray area = text.left(memory::VersionAreaSize);
    area.append(memory::VersionAreaSize - area.size(), '\0');
    writeMemory(memory::VersionArea, area);
}

Calibration SimBlock::calibration() const
{
    const uint8_t* p = memory_.data() + memory::Calibration;
    return {byteorder::le16(p), int32_t(byteorder::le32(p + 2)), int32_t(byteorder::le32(p + 6)),
            byteorder::le16(p + 10)};
}

void SimBlock::setCalibration(const Calibration& c)
{
    QByteArray r(memory::CalibrationSize, ' '); // the fields take 12 bytes, spaces follow
    Put16(r, 0, c.zero);
    Put32(r, 2, uint32_t(c.maximum));
    Put32(r, 6, uint32_t(c.minimum));
    Put16(r, 10, c.zone);
    writeMemory(memory::Calibration, r);
}

QStringList SimBlock::DefaultInterlockLines(uint8_t address)
{
    return {QStringLiteral("@ Логика блокировок ТУ %1").arg(address),
            QStringLiteral("ТУ1 = ТС0.1 И НЕ ТС0.2"),
            QStringLiteral("ТУ2 = ТС0.3 ИЛИ ТС0.4"),
            QStringLiteral("ТУ3 = НЕ ТС1.5"),
            QStringLiteral("ТУ4 = ТС1.6 И ТС1.7 И НЕ ТС1.8"),
            QStringLiteral("@")};
}

QByteArray SimBlock::InterlockBytes(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += ToCp1251(line) + '\0';
    return bytes;
}

QByteArray SimBlock::UnclosedInterlock()
{
    // Only the first byte is a marker: the text has no end within the reading limit.
    QByteArray bytes = ToCp1251(QStringLiteral("@ Логика без завершающей строки")) + '\0';
    for (int n = 1; bytes.size() <= 24000 + memory::PageSize; ++n)
        bytes += ToCp1251(QStringLiteral("ТУ%1 = ТС0.%2 И НЕ ТС1.%3")
                              .arg(1 + n % 32)
                              .arg(1 + n * 7 % 32)
                              .arg(1 + n * 13 % 32)) +
                 '\0';
    return bytes;
}

bool SimBlock::takes(uint8_t subFunction)
{
    if (silent || faults.silentTo[subFunction])
        return false;
    bool lost = false;
    for (SilentAt& s : faults.silentAt)
        if (s.sub == subFunction && s.nth > 0 && --s.nth == 0)
            lost = true;
    return !lost;
}

SimBlock::Chunk SimBlock::configure(uint8_t subFunction, std::span<const uint8_t> data)
{
    ++service_.requests[subFunction];
    switch (subFunction) {
    case sub::PointerSet:
        if (data.size() >= 2)
            pointer_ = byteorder::le16(data.data());
        return {};
    case sub::MemoryRead:
        return readMemoryChunk();
    case sub::MemoryWrite:
        writeMemoryChunk(data);
        return {};
    case sub::PageErase:
        erasePage();
        return {};
    case sub::Prepare:
        service_.writesSincePrepare = 0;
        service_.erasesSincePrepare = 0;
        return {};
    case sub::FirmwareCompletion:
        completeFirmware();
        return {};
    case sub::ConfigRead: {
        const int lo = data.size() > 0 ? data[0] : 0;
        const int hi = data.size() > 1 ? data[1] : 0;
        return parameterChunk(hi * 256 + lo);
    }
    case sub::ConfigWriteStart:
        incomingSize_ = 0;
        collectChunk(data);
        return {};
    case sub::ConfigWriteContinue:
        collectChunk(data);
        return {};
    case sub::ConfigWriteEnd:
        endConfigurationWrite();
        return {};
    case sub::DiagnosticsRead:
        return diagnostics();
    case sub::CounterPreset:
        return type_ == BlockType::Ts ? presetCounter(data) : Chunk{};
    default: // the completion among them: answered, nothing to do
        return {};
    }
}

SimBlock::Chunk SimBlock::readMemoryChunk()
{
    Chunk c;
    for (uint8_t& b : c)
        b = memory_[pointer_++];
    return c;
}

void SimBlock::writeMemoryChunk(std::span<const uint8_t> data)
{
    writeMemory(pointer_, data.first(std::min<size_t>(data.size(), 8)));
    pointer_ = uint16_t(pointer_ + 8);
    ++service_.writesSincePrepare;
}

void SimBlock::erasePage()
{
    const size_t page = pointer_ & ~(memory::PageSize - 1);
    std::fill_n(memory_.begin() + ptrdiff_t(page), memory::PageSize, uint8_t(0xFF));
    ++service_.erasesSincePrepare;
}

void SimBlock::completeFirmware()
{
    static_assert(memory::Staging + memory::FirmwareSize <= 0x10000 &&
                  memory::Firmware + memory::FirmwareSize <= memory::Staging);
    std::memcpy(memory_.data() + memory::Firmware, memory_.data() + memory::Staging,
                memory::FirmwareSize);
    ++service_.firmwareCompletions;
}

SimBlock::Chunk SimBlock::parameterChunk(int offset) const
{
    Chunk c{};
    for (int i = 0; i < 8; ++i)
        if (offset + i < parameters_.size())
            c[size_t(i)] = uint8_t(parameters_.at(offset + i));
    return c;
}

void SimBlock::collectChunk(std::span<const uint8_t> data)
{
    // Chunks are 8 bytes; a short one is padded with zeros. Past the record nothing is kept.
    if (incomingSize_ < 0 || incomingSize_ + 8 > ParameterRecordSize)
        return;
    Chunk c{};
    std::copy_n(data.begin(), std::min<size_t>(data.size(), c.size()), c.begin());
    std::copy(c.begin(), c.end(), incoming_.begin() + incomingSize_);
    incomingSize_ += 8;
}

void SimBlock::endConfigurationWrite()
{
    if (incomingSize_ < 0)
        return;
    std::copy_n(incoming_.begin(), incomingSize_, parameters_.begin());
    incomingSize_ = -1;
    ++service_.configurationWrites;
}

SimBlock::Chunk SimBlock::diagnostics() const
{
    Chunk c{};
    byteorder::putLe16(c.data(), restarts);
    byteorder::putLe16(c.data() + 2, repeats);
    std::copy(diagnosticsTail.begin(), diagnosticsTail.end(), c.begin() + 4);
    return c;
}

SimBlock::Chunk SimBlock::presetCounter(std::span<const uint8_t> data)
{
    // counter number (from 0), 0, value; the reply echoes them
    Chunk c{};
    std::copy_n(data.begin(), std::min<size_t>(data.size(), 6), c.begin());
    if (data.size() >= 6 && data[0] < Inputs)
        ts.counters[data[0]] = byteorder::le32(data.data() + 2);
    return c;
}

} // namespace kpsim
