#include "simblock.h"

#include "support/byteorder.h"

#include <algorithm>

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

namespace
{

QByteArray DefaultVersionText(BlockType type)
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

} // namespace

SimBlock::SimBlock(BlockType type, uint8_t address, QByteArray versionText)
    : type_(type), address_(address),
      versionText_(versionText.isEmpty() ? DefaultVersionText(type)
                                         : versionText.left(VersionAreaSize)),
      memory_(0x10000, 0)
{
    const auto* text = reinterpret_cast<const uint8_t*>(versionText_.constData());
    writeMemory(VersionArea, std::span<const uint8_t>(text, size_t(versionText_.size())));

    parameters_.resize(ParameterRecordSize);
    for (int i = 0; i < ParameterRecordSize; ++i)
        parameters_[i] = char(uint8_t(i + 0x20 * address_));
}

void SimBlock::writeMemory(uint16_t address, std::span<const uint8_t> bytes)
{
    for (uint8_t b : bytes)
        memory_[address++] = b;
}

void SimBlock::setParameters(const QByteArray& record)
{
    parameters_ = record;
}

SimBlock::Chunk SimBlock::configure(uint8_t subFunction, std::span<const uint8_t> data)
{
    switch (subFunction) {
    case sub::PointerSet:
        if (data.size() >= 2)
            pointer_ = byteorder::le16(data.data());
        return {};
    case sub::MemoryRead:
        return readMemoryChunk();
    case sub::MemoryWrite:
        writeMemory(pointer_, data.first(std::min<size_t>(data.size(), 8)));
        pointer_ = uint16_t(pointer_ + 8);
        return {};
    case sub::ConfigRead: {
        const int lo = data.size() > 0 ? data[0] : 0;
        const int hi = data.size() > 1 ? data[1] : 0;
        return parameterChunk(hi * 256 + lo);
    }
    case sub::DiagnosticsRead:
        return diagnostics();
    default:
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

SimBlock::Chunk SimBlock::parameterChunk(int offset) const
{
    Chunk c{};
    for (int i = 0; i < 8; ++i)
        if (offset + i < parameters_.size())
            c[size_t(i)] = uint8_t(parameters_.at(offset + i));
    return c;
}

SimBlock::Chunk SimBlock::diagnostics() const
{
    Chunk c{};
    byteorder::putLe16(c.data(), restarts);
    byteorder::putLe16(c.data() + 2, repeats);
    std::copy(diagnosticsTail.begin(), diagnosticsTail.end(), c.begin() + 4);
    return c;
}

} // namespace kpsim
