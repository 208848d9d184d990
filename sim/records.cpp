// SPDX-License-Identifier: GPL-3.0-or-later
#include "records.h"

#include "support/byteorder.h"

#include <algorithm>
#include <cmath>

namespace kpsim::record
{

namespace
{

// Record header; the data bytes are appended by the caller and the DLC follows their count.
class Builder
{
public:
    Builder(uint8_t function, uint8_t flags, uint8_t address, uint8_t sub)
    {
        bytes_.reserve(13);
        for (uint8_t b : {function, flags, address, sub, uint8_t(0)})
            bytes_.append(char(b));
    }
    Builder& u8(uint8_t v)
    {
        bytes_.append(char(v));
        return *this;
    }
    Builder& le16(uint16_t v)
    {
        uint8_t b[2];
        byteorder::putLe16(b, v);
        return u8(b[0]).u8(b[1]);
    }
    Builder& le32(uint32_t v)
    {
        uint8_t b[4];
        byteorder::putLe32(b, v);
        return u8(b[0]).u8(b[1]).u8(b[2]).u8(b[3]);
    }
    Builder& be16(uint16_t v)
    {
        uint8_t b[2];
        byteorder::putBe16(b, v);
        return u8(b[0]).u8(b[1]);
    }
    QByteArray done()
    {
        bytes_[4] = char(bytes_.size() - 5);
        return bytes_;
    }

private:
    QByteArray bytes_;
};

uint16_t Code(double v)
{
    return uint16_t(std::clamp(std::lround(v), 0L, 65535L));
}

} // namespace

QByteArray TsState(uint8_t address, uint32_t inputs, uint8_t archivePosition)
{
    return Builder(TsFunction, StateFlags, address, 0).le32(inputs).u8(archivePosition).done();
}

QByteArray TsEventRecord(uint8_t address, const TsEvent& e)
{
    uint8_t bits = uint8_t((e.input - 1) & 0x1F);
    if (e.doublePoint)
        bits |= 0x20;
    if (e.doublePoint && e.second)
        bits |= 0x40;
    if (e.value)
        bits |= 0x80;
    return Builder(TsFunction, EventFlags, address, bits)
        .le32(e.stamp.seconds)
        .le16(e.stamp.millis)
        .u8(e.archivePosition & 0x1F)
        .done();
}

QByteArray TsEventEmpty(uint8_t address)
{
    return Builder(TsFunction, EventFlags, address, 0).done();
}

QByteArray TiiCounter(uint8_t address, int channel, uint32_t value, uint32_t stamp)
{
    return Builder(TsFunction, CounterFlags, address, uint8_t(channel))
        .le32(value)
        .le32(stamp)
        .done();
}

QByteArray TitValues(uint8_t address, int first, std::span<const int16_t> readings)
{
    Builder b(TitFunction, StateFlags, address, uint8_t(first & 0x3F));
    for (int16_t r : readings.first(std::min<size_t>(readings.size(), MaxTitReadings)))
        b.le16(uint16_t(r));
    return b.done();
}

QByteArray TitStamp(uint8_t address, uint32_t stamp)
{
    return Builder(TitFunction, StateFlags, address, TitStampBit).le32(stamp).done();
}

QByteArray Interlocks(uint8_t address, uint32_t bits)
{
    return Builder(TuFunction, StateFlags, address, TuInterlocks).u8(0).le32(bits).done();
}

QByteArray TuReadyRecord(uint8_t address, uint8_t relayIndex, uint16_t coefficient)
{
    return Builder(TuFunction, StateFlags, address, TuReady)
        .u8(relayIndex)
        .be16(coefficient)
        .done();
}

QByteArray TuDone(uint8_t address, uint8_t relayIndex, const Stamp& stamp)
{
    return Builder(TuFunction, StateFlags, address, TuResult)
        .u8(relayIndex)
        .u8(status::Done)
        .le32(stamp.seconds)
        .le16(stamp.millis)
        .done();
}

QByteArray TuFailed(uint8_t address, uint8_t relayIndex, uint8_t status, uint16_t coefficient)
{
    return Builder(TuFunction, StateFlags, address, TuResult)
        .u8(relayIndex)
        .u8(status)
        .be16(coefficient)
        .done();
}

QByteArray TuDiagnosticsRecord(uint8_t address, uint8_t form, uint16_t temperatureCode,
                               uint16_t voltageCode)
{
    return Builder(TuFunction, StateFlags, address, form)
        .be16(temperatureCode)
        .be16(voltageCode)
        .done();
}

std::pair<uint16_t, uint16_t> DiagnosticCodes(uint8_t form, double volts, double celsius)
{
    if (form == TuDiagnosticsSecond)
        return {Code(celsius + 278), Code(volts * 10)};
    return {Code((celsius * 3.55 / 1000 + 0.986) / 0.0006105), Code(volts / 0.01783)};
}

} // namespace kpsim::record
