// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The block service: finds the function blocks on the CAN bus (announcements, then a probe of
// every admitted type and address with the version, parameter record and diagnostics of each
// block found) and keeps what it found: the block table, the records as read, the list of
// lines with their ticks. It hands a block's record out as typed values and writes a block's
// record from values; every operation names its block.

#include "blocks/blocklist.h"
#include "blocks/blocktypes.h"
#include "blocks/parameters.h"
#include "exchange/linkcore.h"
#include "support/owned.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

class OperatorIo;
class PolicyOperator;
class TraceLog;

class BlockService : public QObject
{
    Q_OBJECT
public:
    static constexpr int AnnouncementWaitInterval = 2000;
    static constexpr int Lines = 32; // images and diagnostics records kept (24 blocks at most)
    static constexpr int VersionReads = 6;

    BlockService(LinkCore& link, TraceLog& trace, QObject* parent = nullptr);
    ~BlockService() override;

    // Who is asked and told: the window's message boxes, or a policy. Never null.
    OperatorIo& Operator() const { return *operator_; }
    void SetOperator(OperatorIo* op);

    // The announcement phase of discovery (2000 ms): its own timer.
    QTimer AnnouncementTimer;

    // A block found by discovery: its configuration function byte (0: none there) and its
    // line in bloks.
    struct Entry {
        qint32 function = 0;
        qint32 line = 0;
    };
    using Table = std::array<std::array<Entry, blocks::Slots>, blocks::Addresses>;
    // By bus address 0..7 and slot 1..3.
    Owned<Table, BlockService> BlockTable;
    const Entry& TableEntry(int slot, int address) const
    {
        return BlockTable->at(size_t(address)).at(size_t(slot - 1));
    }

    // Per line of bloks, as the latest discovery read them: the parameter image, whether the
    // whole record was read, and the diagnostics record (restarts, transmission repeats, four
    // more bytes). A discovery clears them all before its first probe.
    Owned<std::array<params::Image, Lines>, BlockService> BlockImages;
    Owned<std::array<bool, Lines>, BlockService> RecordRead;
    Owned<std::array<std::array<uint8_t, 17>, Lines>, BlockService> BlockDiag;
    // The announcements of the running discovery: (function byte, block address) of each.
    Owned<QList<std::pair<qint32, qint32>>, BlockService> FoundBlocks;
    Owned<qint32, BlockService> FoundCount{0};

    BlockList bloks;

    // The loaded firmware image's version: discovery ticks the blocks whose version differs
    // while an image is open.
    Owned<bool, BlockService> ImageOpened{false};
    Owned<QString, BlockService> ImageVersion;
    void SetImage(const QString& version);

    // "Найти установленные блоки" may run (the link has started), and a block was found.
    Owned<bool, BlockService> QScanEnabled{false};
    Owned<bool, BlockService> WriteEnabled{false};

    // The link has started: discovery may run.
    void LinkStarted();

    // Which positions a discovery probes: the announced ones after the 2 s announcement phase
    // ("Найти установленные блоки"), all 24 without it (its hidden twin), or one alone.
    enum class Scope : uint8_t { Announced, All };
    // False when refused (another operation runs) or stopped (the program is closing).
    bool Discover(Scope scope);
    bool ReadBlock(blocks::Ref block);
    // A discovery is running, and the line whose block it is reading now (-1: none).
    bool Discovering() const { return discovering_; }
    int ReadingLine() const { return readingLine_; }

    // What discovery found of a block: its line (-1: not found), the block of a line.
    int LineOf(blocks::Ref block) const;
    std::optional<blocks::Ref> BlockOfLine(int line) const;
    // The record of a block as the latest discovery read it: its bytes (RecordSize of the
    // type) or its values; nothing when it was not found or not read whole.
    std::optional<QByteArray> RecordOf(blocks::Ref block) const;
    std::optional<params::Values> ValuesOf(blocks::Ref block) const;
    // The version text of a block or of a list line (what follows the address), as read.
    QString VersionOf(blocks::Ref block) const;
    QString VersionOfLine(int line) const;
    // The restart and transmission repeat counts of a line's diagnostics record.
    struct DiagCounts {
        int restarts = 0;
        int repeats = 0;
    };
    DiagCounts Counts(int line) const;

    // Writes the block's record: the values over the record as read (bytes no field lists
    // keep what the block holds). Refused with a message, nothing sent, when the record was
    // not read whole in the latest discovery. Answered once the write end was answered.
    Reply WriteValues(blocks::Ref block, const params::Values& values);
    // Writes a record as it stands, for an operation that holds the operation guard: its
    // chunks (the first as write start, the others as write continue), the write end, then
    // the completion, whose outcome does not matter. A missing reply stops the write and is
    // told to `op`. Answered once the write end was answered.
    Reply WriteRecord(OperatorIo& op, uint8_t f, uint8_t a, std::span<const uint8_t> record);

    // Registered with the receive dispatcher: collects the announcement answers.
    void HandleRecord(const CanRecord& record);

    // Ticks and the line a programming run is working on.
    void SetTicked(int line, bool ticked);
    void SetActive(int line, const QString& note = {});

signals:
    // QScanEnabled or WriteEnabled changed.
    void controlsChanged();
    // A discovery has cleared what the previous one found, and has ended.
    void discoveryStarted();
    void discovered();

private:
    bool Run(Scope scope, std::optional<blocks::Ref> only);
    void Clear();
    bool Admitted(Scope scope, int slot, int address) const;
    bool Probe(int slot, int address, bool& abandonSlot);
    Reply ReadVersion(uint8_t f, uint8_t a, int line, const QString& head);
    Reply ReadRecord(uint8_t f, uint8_t a, int line);
    void SetControl(Owned<bool, BlockService>& field, bool value);

    LinkCore& link_;
    TraceLog& trace_;
    std::unique_ptr<PolicyOperator> defaultOperator_;
    OperatorIo* operator_;
    QStringList versions_; // per line
    bool discovering_ = false;
    int readingLine_ = -1;
};
