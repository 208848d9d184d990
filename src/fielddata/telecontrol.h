// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Telecontrol: relays of the telecontrol blocks switched by select-before-operate commands, and
// the blocks' supply voltage and temperature from their diagnostic records.
//
// A command sends the select command, waits for the block's ready record, sends the execute
// command and waits for the result record, all under one 3000 ms guard (Timer3). The progress
// lines go to TuEvent.

#include "exchange/packet.h"
#include "support/owned.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

class LinkCore;
class TraceLog;

class Telecontrol : public QObject
{
    Q_OBJECT
public:
    static constexpr int Blocks = 8;
    static constexpr int GuardInterval = 3000;

    Telecontrol(LinkCore& link, TraceLog& trace, QObject* parent = nullptr);

    QTimer Timer3; // guard of one command

    // The operator's choice ("Адрес блока", "Номер реле"), mirrored from the spin edits and
    // read afresh by each command step.
    int Address = 0; // 0..7
    int Relay = 1;   // 1..256

    // The progress of the current command.
    QStringList TuEvent;
    // RxCheckListBox1: "b Блок ТУ", replaced by the block's diagnostics, checked once it reported.
    QStringList BlockItems;
    QList<bool> BlockChecked;

    bool Running() const { return running_; }

    // A preparation was issued and the block has not reported ready yet; the block's result
    // record (or the guard) has come. Kept from the block's records.
    Owned<bool, Telecontrol> TuPreparing{false};
    Owned<bool, Telecontrol> TuResultArrived{false};

    // One command for the chosen relay (Address, Relay; the execute command reads Address
    // again). Refused while another operation runs (another command would share the ready and
    // result flags and the guard). False when refused or stopped (a timeout that is refused,
    // the program closing).
    bool Operate();
    // The same for the given block and relay (a script).
    bool Operate(int address, int relay);
    // Relays 1 to 32 of the chosen block in turn; the relay number ends at 33.
    void OperateAll();
    // One select-execute exchange for Address and Relay, for an operation that holds the
    // operation guard already. False when stopped.
    bool Command();
    // The same for the given block and relay, whatever the spin edits hold (the module test).
    bool Command(int address, int relay);

    // Records of telecontrol blocks (function 0x42): ready, result and diagnostics.
    void HandleRecord(const CanRecord& record);

    static TPacket SelectCommand(int address, int relay);
    static TPacket ExecuteCommand(int address);
    // Line 2 of a result with an error status.
    static QString ErrorText(int status, const QString& line1Tail);

signals:
    void tuEventCleared();
    void tuEventAdded(const QString& line);
    void blockItemChanged(int block);
    void relayChanged(int relay);

private:
    void AddEvent(const QString& line);
    // The exchange; the execute command reads `address` again.
    bool Exchange(const int& address, int relay);
    void Timer3Timer();
    void Diagnostics(const CanRecord& record, bool secondForm);
    void Result(const CanRecord& record);

    LinkCore& link_;
    TraceLog& trace_;
    bool running_ = false;
};
