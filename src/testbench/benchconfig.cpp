// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/benchconfig.h"

#include "blocks/blockservice.h"
#include "blocks/parametereditor.h"
#include "support/byteorder.h"
#include "support/operatorio.h"

namespace
{
constexpr int Channels = 32;

// Values typed by the engineer are kept in 16 bits.
void put16(std::span<uint8_t> buffer, int offset, int value)
{
    byteorder::putLe16(&buffer[size_t(offset)], uint16_t(unsigned(value)));
}
} // namespace

BenchConfig::BenchConfig(BlockService& blocks, const ParameterEditor& editor, QObject* parent)
    : QObject(parent), blocks_(blocks), editor_(editor),
      defaultOperator_(std::make_unique<PolicyOperator>())
{
    Operator = defaultOperator_.get();
}

BenchConfig::~BenchConfig() = default;

void BenchConfig::SetOperator(OperatorIo* op)
{
    Operator = op ? op : defaultOperator_.get();
}

void BenchConfig::FillTsRecord(std::span<uint8_t> buffer, int cycleTime, int filterMs)
{
    put16(buffer, 0, cycleTime);
    std::fill(buffer.begin() + 2, buffer.begin() + 12, uint8_t(0));
    for (int n = 0; n < Channels; ++n)
        put16(buffer, 12 + 2 * n, int(unsigned(filterMs) * 2u));
}

void BenchConfig::FillTuRecord(std::span<uint8_t> buffer, int type, int hold, int minimum,
                               int maximum)
{
    put16(buffer, 0, type);
    for (int n = 0; n < Channels; ++n) {
        put16(buffer, 2 + 2 * n, hold);
        put16(buffer, 66 + 2 * n, minimum);
        put16(buffer, 130 + 2 * n, maximum);
    }
}

bool BenchConfig::WriteTsConfig(int address, int cycleTime, int filterMs)
{
    auto record = editor_.ConfigBuffer.get();
    FillTsRecord(record, cycleTime, filterMs);
    return Write(blocks::FunctionTs, address, record);
}

bool BenchConfig::WriteTuConfig(int address, int type, int hold, int minimum, int maximum)
{
    auto record = editor_.ConfigBuffer.get();
    FillTuRecord(record, type, hold, minimum, maximum);
    return Write(blocks::FunctionTu, address, record);
}

bool BenchConfig::Write(uint8_t function, int address, std::span<const uint8_t> record)
{
    Operator->Busy(true);
    const Reply r = blocks_.WriteRecord(*Operator, function, uint8_t(address), record);
    Operator->Busy(false);
    return r == Reply::Answered;
}

QString BenchConfig::VersionOf(int slot, int address) const
{
    return blocks_.VersionOf({slot, address});
}
