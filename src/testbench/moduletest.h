// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The module test: relay by relay, a bench on which relay k of the telecontrol block at bus
// address 0 is wired to input k of the telesignal block at address 0. The run configures both
// blocks, then for each cycle switches relays 1 to 32 in turn with the telecontrol exchange and,
// after each, compares block 0's row of the telesignal table with the expected pattern: input
// k reads 0 while relay k is held, every other input 1. The results go to the matrix
// StringGrid1, the entries to the action log TestActions and to the run's log file.
//
// The state of the module test window lives here too: whether a run is going, the captions of
// the start buttons, and the bench configuration buttons with their log entries.

#include "fielddata/livetables.h"
#include "testbench/actionlog.h"
#include "testbench/runrecord.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>

class BenchConfig;
class LinkCore;
class Telecontrol;

class ModuleTest : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxCycles = 50;
    static constexpr int Relays = 32;
    static constexpr int BenchAddress = 0;
    static constexpr int StartDelayInterval = 3000;
    static constexpr int CyclePacingInterval = 1000;
    static constexpr int RelayPauseInterval = 150;
    static constexpr int ResultColumn = 33;

    ModuleTest(LinkCore& link, Telecontrol& telecontrol, LiveTables& tables, BenchConfig& bench,
               QObject* parent = nullptr);

    // Paces the start and the cycles; its handler only stops it.
    QTimer TimerTest;
    int StartDelay = StartDelayInterval;   // ms after the configuration step
    int CyclePacing = CyclePacingInterval; // ms before every cycle
    int RelayPause = RelayPauseInterval;   // ms after every relay, without handling any event
    // The clock of the entries and the log file's name.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    ActionLog TestActions;
    GridTableModel StringGrid1; // 34 x 33: inputs 1..32 and "Result" over relays 1..32

    bool TestRunning = false;
    bool StopRequested = false;
    // The start buttons' captions and whether the configuration buttons may be used.
    QString ButtonTestCaption = QStringLiteral("Запуск проверки");
    QString ButtonTestBigCaption = QStringLiteral("Запуск проверки (30)");
    bool ConfigButtonsEnabled = true;
    // The log file of the latest run, absolute; empty before the first.
    QString LogFile;
    // Where the runs make "TestLogs": the working directory when empty.
    QString LogBase;

    // A run of the given cycles, or the stop while a run is going ("Запуск проверки" with 1,
    // "Запуск проверки (30)" with 30).
    void StartOrStop(int cycles);
    // The run, behind the operation guard; at most 50 cycles.
    void RunModuleTest(int cycles);

    // A text the engineer typed, with the label of its edit (named in a conversion error).
    struct Typed {
        QString label;
        QString text;
    };
    // The bench configuration of the telesignal block at `address` from the filter time and
    // cycle time, and of the telecontrol block from the coefficient minimum and maximum, hold
    // time and type, between their two log entries.
    void ConfigureTs(int address, const Typed& entr, const Typed& cycleTime);
    void ConfigureTu(int address, const Typed& minimum, const Typed& maximum, const Typed& exit,
                     const Typed& type);
    // "Очистить лог".
    void ClearLog() { TestActions.Clear(); }

    // The latest run as its protocol tells it; Ended() is false before the first run has ended.
    const RunRecord& LastRun() const { return record_; }

signals:
    // The captions or the configuration buttons' state changed.
    void buttonsChanged();
    // A run started: the window is to be shown.
    void windowWanted();

private:
    void TimerTestTimer() { TimerTest.stop(); }
    void Pace(int ms);
    // True when the run is to end: the stop was asked for, or the program is closing.
    bool Stopping();
    void SetRunning(bool running);
    // An entry in TestActions and in the log file; only in the file; the newest row's text
    // replaced in TestActions, a line of its own in the file.
    void Entry(const QString& text, ActionLog::Colour colour);
    void FileLine(const QString& text);
    void ReplaceLastEntry(const QString& text, ActionLog::Colour colour);
    // One cycle; false when it was stopped.
    bool Cycle(int cycle, bool& errors);
    // The comparison after relay r; false when it failed.
    bool Check(int relay);
    // A bench configuration write, timed into its step.
    bool Configure(RunRecord::Step& step, const std::function<bool()>& write);
    // The run's beginning, a stop inside a cycle and its end in the record.
    void StoppedAt(int relay);
    void BeginRecord(int cycles);
    void EndRecord();
    void ResetRow();
    // A configuration button: its entry, the texts converted, the write, the entry after it.
    void ConfigButton(const QString& what, const QList<Typed>& texts,
                      const std::function<void(const QList<int>&)>& write);

    RunRecord record_;
    LinkCore& link_;
    Telecontrol& tc_;
    LiveTables& tables_;
    BenchConfig& bench_;
};
