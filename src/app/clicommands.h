// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The subcommands of tavena-cli on the program's core, with the link already up. Each returns
// the process's exit code; output meant for people is Russian like the window's, JSON keys
// are ASCII.

#include "blocks/blocktypes.h"
#include "blocks/kpconfigservice.h"
#include "fielddata/trends.h"

#include <QStringList>
#include <QTextStream>

struct ProgramCore;
class CliOperator;
class Interrupts;

namespace exitcode
{
constexpr int Done = 0;
constexpr int NoAnswer = 1;    // a block or the adapter did not answer; the stage is named
constexpr int Usage = 2;       // bad usage or input, with the offending text
constexpr int NoLink = 3;      // no adapter opened the link
constexpr int BenchFaults = 4; // the module test found faulty relays
constexpr int Differs = 5;     // the controlled point does not hold what the file says
constexpr int Interrupted = 130;
} // namespace exitcode

struct Cli {
    ProgramCore& core;
    CliOperator& op;
    Interrupts& interrupts;
    bool json = false;
    QTextStream out{stdout};
    // The configuration file of backup, diff and restore, read and checked before the link.
    std::optional<kpconfig::File> config;

    // A message on standard error, and the code to exit with.
    int Fail(int code, const QString& message);
    // The code for an operation that has run: 0, or 1 when something did not answer, or the
    // interruption's.
    int Outcome();
    // Prints a JSON value as one line.
    void Print(const class QJsonValue& value);
    // A line "what: ts:1, tu:0" ("—" for none), unless the list is empty and not `always`.
    void PrintList(const QString& what, const QList<blocks::Ref>& list, bool always = false);
};

// The blocks as a JSON array of their names.
class QJsonArray RefsJson(const QList<blocks::Ref>& list);

int Scan(Cli& cli);
int ParamsGet(Cli& cli, blocks::Ref block);
// assignments: "key=value" each; file: a JSON object of keys and values (or {"values": ...}).
int ParamsSet(Cli& cli, blocks::Ref block, const QStringList& assignments, const QString& file);
struct FlashRequest {
    QString image;
    QList<blocks::Ref>
        blocks;          // the blocks to program, or none for those the image makes out of date
    bool loader = false; // the loader instead of the firmware
    bool verify = false; // the programmed blocks read again: they must report the version
};
int Flash(Cli& cli, const FlashRequest& request);
// The module test: its log file under logBase/TestLogs (the working directory when empty), the
// result matrix of the last cycle on standard output.
int Bench(Cli& cli, int cycles, const QString& logBase);
// The calibration record of a measurement block; `set` holds the fields to change (zero,
// maximum, minimum, zone; empty texts are kept), written and read back.
int Calibration(Cli& cli, blocks::Ref block, bool set, const QStringList& fields);
// The interlock logic of a telecontrol block in interlock mode, to or from a .blk file.
int Interlock(Cli& cli, blocks::Ref block, bool write, const QString& file);
// The configuration file `path` read and checked, into cli.config; the exit code when it does
// not do (nothing has been sent).
std::optional<int> LoadConfig(Cli& cli, const QString& path);
int Backup(Cli& cli, const QString& path);
int Diff(Cli& cli);
int Restore(Cli& cli, const kpconfig::RestoreOptions& options);
int ClockSet(Cli& cli);
int TelecontrolCommand(Cli& cli, blocks::Ref block, int relay);
int Watch(Cli& cli);
// The series as CSV, the columns of the trend window's export, a row as values come.
int WatchCsv(Cli& cli, const QList<trend::Key>& series);
