// SPDX-License-Identifier: GPL-3.0-or-later
#include "simblock.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kpsim
{

uint8_t DataFunction(BlockType type)
{
    switch (type) {
    case BlockType::Ts:
        return 0x44;
    case BlockType::Tit:
        return 0x48;
    case BlockType::Tu:
        return 0x42;
    }
    return 0;
}

uint8_t ConfigFunction(BlockType type)
{
    return uint8_t(DataFunction(type) | 0x80);
}

std::optional<BlockType> TypeFromConfigFunction(uint8_t function)
{
    for (BlockType t : {BlockType::Ts, BlockType::Tit, BlockType::Tu})
        if (ConfigFunction(t) == function)
            return t;
    return std::nullopt;
}

QString TypeName(BlockType type)
{
    switch (type) {
    case BlockType::Ts:
        return QStringLiteral("ts");
    case BlockType::Tit:
        return QStringLiteral("tit");
    case BlockType::Tu:
        return QStringLiteral("tu");
    }
    return {};
}

std::optional<BlockType> TypeFromName(QStringView name)
{
    for (BlockType t : {BlockType::Ts, BlockType::Tit, BlockType::Tu})
        if (name.compare(TypeName(t), Qt::CaseInsensitive) == 0)
            return t;
    return std::nullopt;
}

SimBlock::SimBlock(BlockType type, uint8_t address, QByteArray versionText)
    : type_(type), address_(address), memory_(0x10000, 0), parameters_(DefaultParameters(type))
{
    setVersionText(versionText.isEmpty() ? DefaultVersionText(type) : versionText);
    if (type == BlockType::Tit)
        setCalibration(DefaultCalibration());
    if (type == BlockType::Tu)
        setInterlock(InterlockBytes(DefaultInterlockLines(address)));
    seedLiveState(1);
}

uint64_t Noise(uint64_t seed, uint64_t a, uint64_t b, uint64_t c)
{
    // splitmix64 over the arguments in turn
    uint64_t x = seed;
    for (uint64_t v : {a, b, c}) {
        x += 0x9E3779B97F4A7C15ULL + v;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        x ^= x >> 31;
    }
    return x;
}

void SimBlock::seedLiveState(uint32_t seed)
{
    const uint64_t h = Noise(seed, 0x5EED, address_, uint8_t(type_));
    ts.inputs = uint32_t(h) & ~ts.stuckAtZero;
    tu.interlocks = uint32_t(h >> 32);
    for (int k = 0; k < Inputs; ++k) {
        ts.counters[size_t(k)] = uint32_t(Noise(seed, 0xC0, address_, uint64_t(k)) % 100000);
        tu.coefficients[size_t(k)] =
            uint16_t(480 + Noise(seed, 0xC0EF, address_, uint64_t(k)) % 64);
    }
}

void SimBlock::stickInputs(uint32_t mask)
{
    ts.stuckAtZero = mask;
    ts.inputs &= ~mask;
}

TsEvent SimBlock::changeInput(int input, bool value, const Stamp& stamp)
{
    const uint32_t bit = uint32_t(1) << ((input - 1) & 31);
    value = value && !(ts.stuckAtZero & bit);
    ts.inputs = value ? ts.inputs | bit : ts.inputs & ~bit;
    ts.archivePosition = uint8_t((ts.archivePosition + 1) & 31);
    TsEvent e{input, value, false, false, stamp, ts.archivePosition};
    ts.archive[ts.archivePosition] = e;
    return e;
}

TsEvent SimBlock::changeDoublePoint(int input, bool value, bool second, const Stamp& stamp)
{
    if (input < Inputs) {
        const uint32_t bit = uint32_t(1) << (input & 31);
        second = second && !(ts.stuckAtZero & bit);
        ts.inputs = second ? ts.inputs | bit : ts.inputs & ~bit;
    }
    TsEvent e = changeInput(input, value, stamp);
    e.doublePoint = true;
    e.second = second;
    ts.archive[e.archivePosition] = e;
    return e;
}

int16_t SimBlock::Reading(uint32_t seed, uint8_t address, int channel, uint32_t step)
{
    // Per channel: a level, a swing and a period of 60..240 readings; then a little noise.
    const uint64_t h = Noise(seed, 0x717, address, uint64_t(channel));
    const double level = 2000 + double(h % 10000);
    const double swing = 400 + double((h >> 16) % 2001);
    const double period = 60 + double((h >> 32) % 181);
    const double phase = double((h >> 48) & 0xFFFF) / 65536.0 * 2 * std::numbers::pi;
    const double noise = double(Noise(seed, address, uint64_t(channel), step) % 61) - 30;
    const double v = level + swing * std::sin(2 * std::numbers::pi * step / period + phase) + noise;
    return int16_t(std::clamp(std::lround(v), -32768L, 32767L));
}

std::vector<int16_t> SimBlock::nextReadings(uint32_t seed)
{
    std::vector<int16_t> r(size_t(std::clamp(tit.channels, 0, Channels)));
    for (size_t i = 0; i < r.size(); ++i)
        r[i] = Reading(seed, address_, int(i), tit.step);
    ++tit.step;
    return r;
}

void SimBlock::advanceCounters(uint32_t seed, uint32_t round)
{
    for (int k = 0; k < std::clamp(ts.counterChannels, 0, Inputs); ++k)
        ts.counters[size_t(k)] += uint32_t(Noise(seed, 0x7115, address_ * 64 + k, round) % 20);
}

} // namespace kpsim
