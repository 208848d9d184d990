// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The block service: finds the function blocks on the CAN bus (announcements, then a probe of
// every admitted type and address with the version, parameter record and diagnostics of each
// block found), keeps what it found, shows the selected block's parameters in the grid and
// writes them back. Calibration, interlock logic and firmware programming work on what it
// keeps: the block table, the list of lines with their ticks, the selected block.

#include "blocks/blocklist.h"
#include "blocks/blocktypes.h"
#include "blocks/parameters.h"
#include "exchange/linkcore.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

class OperatorIo;
class PolicyOperator;
class ReceiveDispatcher;
class TraceLog;

class BlockService : public QObject
{
    Q_OBJECT
public:
    static constexpr int AnnouncementWaitInterval = 2000;
    static constexpr int Lines = 32; // images and diagnostics records kept (24 blocks at most)
    static constexpr int VersionReads = 6;

    BlockService(LinkCore& link, ReceiveDispatcher& dispatcher, TraceLog& trace,
                 QObject* parent = nullptr);
    ~BlockService() override;

    // Who is asked and told: the window's message boxes, or a policy. Never null.
    OperatorIo* Operator;
    void SetOperator(OperatorIo* op);

    int AnnouncementWait = AnnouncementWaitInterval; // ms of the announcement phase

    // A block found by discovery: its configuration function byte (0: none there) and its
    // line in bloks.
    struct Entry {
        qint32 function = 0;
        qint32 line = 0;
    };
    // By bus address 0..7 and slot 1..3.
    std::array<std::array<Entry, blocks::Slots>, blocks::Addresses> BlockTable{};
    Entry& TableEntry(int slot, int address)
    {
        return BlockTable[size_t(address)][size_t(slot - 1)];
    }
    const Entry& TableEntry(int slot, int address) const
    {
        return BlockTable[size_t(address)][size_t(slot - 1)];
    }

    // Per line of bloks: the parameter image as read (bytes a cancelled read did not reach
    // keep earlier contents), whether the whole record was read in the latest discovery, and
    // the diagnostics record (restarts, transmission repeats, four more bytes).
    std::array<params::Image, Lines> BlockImages{};
    std::array<bool, Lines> RecordRead{};
    std::array<std::array<uint8_t, 17>, Lines> BlockDiag{};

    BlockList bloks;
    ParameterGrid ConfigBl;

    // The block shown in the grid (0 / 0 after discovery), and the work buffer of the writes.
    qint32 SelectedBlockFunction = 0;
    qint32 SelectedBlockAddress = 0;
    std::array<uint8_t, params::BufferSize> ConfigBuffer{};
    QString DiagRest, DiagRep; // "Кол-во рестартов", "Кол-во повторов передач"

    // The loaded firmware image, as the image loading sets it; discovery ticks the blocks
    // whose version differs while an image is open.
    bool ImageOpened = false;
    QString ImageVersion;

    // The state of the tab's controls, as the operations leave it.
    bool QScanEnabled = false;     // "Найти установленные блоки"
    bool WriteEnabled = false;     // "Записать параметры блока"
    bool CalibrationShown = false; // Panel6 "Калибровка АЦП"
    bool InterlockShown = false; // "Чтение БЛК", "Запись БЛК", "из Файла", "в Файл"

    // The link has started: discovery may run.
    void LinkStarted();

    // "Найти установленные блоки": announcements for 2 s, then the probe.
    void QScanClick();
    // The hidden twin: the probe of all 24 positions, without announcements.
    void BitBtn1Click();
    // The probe of one position (slot 1..3, address 0..7) alone, without announcements: the
    // list then holds that block if it answers.
    void ReadBlock(int slot, int address);
    // A click on a line of bloks (-1: none selected).
    void bloksClick(int line);
    // The selection procedure: the grid's edits into the shown image, then the selected
    // line's block shown. False when a grid cell stopped it with its conversion error.
    bool SelectionProcedure();
    // "Записать параметры блока".
    void BitBtn6Click();
    // Writes the record of block F at A, for an operation that holds the operation guard: its
    // chunks (the first as write start, the others as write continue), the write end, then
    // the completion, whose outcome does not matter. A missing reply stops the write and is
    // told to `op`. Answered once the write end was answered.
    Reply WriteRecord(OperatorIo& op, uint8_t f, uint8_t a, std::span<const uint8_t> record);
    // "Размножить".
    void MenuItem2Click();

    // The restart and transmission repeat counts of a line's diagnostics record.
    struct DiagCounts {
        int restarts = 0;
        int repeats = 0;
    };
    DiagCounts Counts(int line) const;

    // The line of the shown block, -1 when none.
    int ShownLine() const { return shownLine_; }
    // The version text of a list line (what follows the address), as discovery read it.
    QString VersionOfLine(int line) const;

signals:
    // One of the tab's control states above changed.
    void controlsChanged();
    // A discovery has rebuilt the list.
    void discovered();

private:
    // only: the one position probed (slot, address), or none for all.
    void Discover(bool announced, std::optional<std::pair<int, int>> only = std::nullopt);
    bool Probe(int slot, int address, bool& abandonSlot);
    void SetControls(bool* field, bool value);
    bool Found(uint8_t function, int address) const;

    LinkCore& link_;
    ReceiveDispatcher& dispatcher_;
    TraceLog& trace_;
    std::unique_ptr<PolicyOperator> defaultOperator_;
    int shownLine_ = -1;
    QStringList versions_; // per line
};
