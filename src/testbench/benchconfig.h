// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The uniform configuration of the test bench's blocks: the same setting for all 32 inputs of
// a telesignal block (WriteTsConfig) or all 32 outputs of a telecontrol block (WriteTuConfig).
// The record is assembled over a copy of the parameter editor's work buffer ConfigBuffer (the
// bytes the bench does not set go out as they stand there: those of the block shown last), and
// written as the parameter write writes a record.

#include <QObject>
#include <cstdint>
#include <memory>
#include <span>

class BlockService;
class ParameterEditor;
class OperatorIo;
class PolicyOperator;

class BenchConfig : public QObject
{
    Q_OBJECT
public:
    BenchConfig(BlockService& blocks, const ParameterEditor& editor, QObject* parent = nullptr);
    ~BenchConfig() override;

    // Who is told that a block did not answer, and who shows the wait panel: the module test
    // window, or a policy. Never null.
    OperatorIo* Operator;
    void SetOperator(OperatorIo* op);

    // The telesignal record: cycle time, 0 for the counters' cycle time and both masks, then
    // 32 filter values of 2 x filterMs (units of 0.5 ms); bytes 76-79 are left as they are.
    static void FillTsRecord(std::span<uint8_t> buffer, int cycleTime, int filterMs);
    // The telecontrol record: control type, then 32 hold times, 32 coefficient minima and 32
    // maxima; bytes 194-199 are left as they are.
    static void FillTuRecord(std::span<uint8_t> buffer, int type, int hold, int minimum,
                             int maximum);

    // The writes to the block at `address`, for an operation that holds the operation guard.
    // The wait panel is shown meanwhile; a block that does not answer is told to the operator.
    // True when the write end was answered.
    bool WriteTsConfig(int address, int cycleTime, int filterMs);
    bool WriteTuConfig(int address, int type, int hold, int minimum, int maximum);

    // The version text of the block in `slot` (1 telesignal, 3 telecontrol) at `address` as the
    // latest discovery read it; empty when none found it.
    QString VersionOf(int slot, int address) const;

private:
    bool Write(uint8_t function, int address, std::span<const uint8_t> record);

    BlockService& blocks_;
    const ParameterEditor& editor_;
    std::unique_ptr<PolicyOperator> defaultOperator_;
};
