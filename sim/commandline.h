// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Command line of the kp-sim program.

#include "kpsim.h"

#include <QStringList>
#include <optional>

namespace kpsim
{

struct CommandLine {
    Options options;
    bool help = false;
    QString helpText;
    // --write-image: the program writes the sample image here and exits.
    QString imagePath;
    QByteArray imageVersion;
    QString capturePath; // --capture: the exchange recorded here
    // --replay: the adapter's side of this recorded exchange is played back.
    QString replayPath;
    std::optional<quint16> replayAdapterPort;
    double replaySpeed = 1;
    bool thenSimulate = false;
    QStringList given; // the options given, by name (while the command line is read)
};

// Parses the arguments (the first is the program name). A bind address outside the loopback
// range is refused unless --allow-any is given. On failure returns nothing and the message.
std::optional<CommandLine> ParseCommandLine(const QStringList& arguments, QString* error);

// "ts:0,tu:1,tit:2" -> blocks; an unknown type, an address outside 0..7 or a block named
// twice is an error.
std::optional<QList<BlockSpec>> ParseBlocks(const QString& text, QString* error);
QString BlocksText(const QList<BlockSpec>& blocks);

// Rates of the demo: states every 2 s, an event every 4 s, readings every second, counters
// and interlocks every 5 s, diagnostics every 10 s.
Rates DemoRates();

// "0:0,1:2:nc" -> relays of telecontrol block 0 drive inputs of telesignal block 0, those of
// block 1 inputs of block 2 through normally closed contacts.
std::optional<QList<Wiring>> ParseWiring(const QString& text, QString* error);
// "6" every relay of every block; "1=6" every relay of block 1; "1:5=6" relay 5 of block 1.
std::optional<QList<TuAnswer>> ParseTuAnswers(const QString& text, QString* error);
// "0:5,1:32" -> relay 5 of block 0 and relay 32 of block 1.
std::optional<QList<RelayRef>> ParseRelays(const QString& text, QString* error);

// The one line printed at start.
QString StartMessage(const Options& options, quint16 port);

} // namespace kpsim
