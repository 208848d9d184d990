// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The configuration of a whole controlled point, saved, compared and restored on the block
// service's operations: a discovery, the calibration of the measurement blocks and the logic of
// the telecontrol blocks in interlock mode; the parameter records written as the file says and
// read back.

#include "blocks/kpconfig.h"

#include <QObject>
#include <optional>

class AdcCalibration;
class BlockService;
class InterlockTransfer;
class LinkCore;
class OperatorIo;

namespace kpconfig
{

// One difference between a file and the controlled point.
struct Difference {
    blocks::Ref block; // the block of the file (or on the bus, for one not in the file)
    QString key;       // "version", a parameter's key, "calibration.zero", "interlock", "block"
    QString name;      // the parameter's row header, or what the key names
    QString inFile;    // as the file has it
    QString inBlock;   // as the block holds it
    bool operator==(const Difference&) const = default;
};

// Where the blocks of a file go: a file block into a bus block of the same type.
using Mapping = QList<std::pair<blocks::Ref, blocks::Ref>>;

struct RestoreOptions {
    QList<blocks::Ref> blocks; // the file's blocks to write; none: all
    Mapping map;               // a file block into another bus block
    bool parameters = true;    // the parameter records
    bool calibration = false;  // factory calibration is precious: only when asked
    bool interlock = false;
};

struct RestoreResult {
    QList<blocks::Ref> written;    // the bus blocks written
    QList<blocks::Ref> missing;    // file blocks whose bus block was not found
    QList<blocks::Ref> differ;     // bus blocks that do not hold what was written
    QList<Difference> differences; // what they hold otherwise
    bool Held() const { return missing.isEmpty() && differ.isEmpty(); }
};

class Service : public QObject
{
    Q_OBJECT
public:
    Service(LinkCore& link, BlockService& blocks, AdcCalibration& calibration,
            InterlockTransfer& interlock, QObject* parent = nullptr);

    // A discovery, then the calibration of every measurement block and the logic of every
    // telecontrol block in interlock mode. Nothing when an operation was refused or stopped,
    // or a read did not complete (the engineer was told).
    std::optional<File> Backup(const LinkSettings& adapter, const QString& program);
    // A discovery, the reads the file has, and the differences: block by block, parameter by
    // parameter; blocks in the file but not on the bus and on the bus but not in the file; a
    // version that differs. Nothing when stopped or a read did not complete.
    std::optional<QList<Difference>> Compare(const File& file, const Mapping& map = {});
    // The bus block a file block goes to, and a type mismatch named with both blocks.
    static std::optional<QString> MappingProblem(const File& file, const RestoreOptions& options);
    // Writes the file's blocks into the blocks the latest discovery found (as options say),
    // then reads them back and compares. Nothing when a write was refused or not answered
    // (told), or a mapping crosses types (told, nothing sent).
    std::optional<RestoreResult> Restore(const File& file, const RestoreOptions& options);

private:
    bool Write(const Block& block, blocks::Ref target, const RestoreOptions& options);
    // The differences of the file's blocks; with `others`, also the blocks on the bus that the
    // file does not name.
    std::optional<QList<Difference>> CompareBlocks(const File& file, const Mapping& map,
                                                   bool others);
    bool ReadParts(Block& block, bool calibration, bool interlock);
    QList<Difference> BlockDifferences(const Block& inFile, const Block& onBus) const;

    LinkCore& link_;
    BlockService& blocks_;
    AdcCalibration& calibration_;
    InterlockTransfer& interlock_;
};

} // namespace kpconfig
