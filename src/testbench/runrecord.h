// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a module test run leaves for its protocol and its JUnit report: when it ran, against
// which adapter and blocks, how far it got and how it ended, the time and the faults of every
// relay, the result matrix as the window shows it and the whole action log. The module test
// fills it as the run goes and keeps it, unchanged, until the next run starts: "Очистить лог"
// and the configuration buttons after the run do not change what the protocol says.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

struct RunRecord {
    enum class Ending {
        Completed,           // every planned cycle ran
        Stopped,             // stopped before the relays or between cycles
        StoppedAtRelay,      // stopped in a cycle, before relay `stoppedAtRelay`
        ConfigurationFailed, // a bench configuration write was not answered
    };

    // A configuration write of the bench before the relays.
    struct Step {
        QString name; // "конфигурация ТС", "конфигурация ТУ"
        std::optional<bool> written; // nothing when the run did not get to it
        double seconds = 0;
    };

    // One relay over all cycles run.
    struct Relay {
        int checks = 0;     // how many cycles switched it
        double seconds = 0; // the command, the pause and the comparison, all cycles together
        // Every cycle it failed in: the cycle and the 32 inputs as read ('-' for an empty cell).
        QList<std::pair<int, QString>> faults;
    };

    // A block of the bench: its type name ("ТС", "ТУ"), bus address and version text as the
    // latest discovery read it (empty when none found it).
    struct Block {
        QString type;
        int address = 0;
        QString version;
    };

    QDateTime started, ended; // ended is invalid while the run goes on
    QString adapter;          // the adapter's address as typed
    QList<Block> blocks;
    int cyclesPlanned = 0;
    int cyclesRun = 0;
    Ending ending = Ending::Completed;
    int stoppedAtRelay = 0;
    Step tsConfig{QStringLiteral("конфигурация ТС"), std::nullopt, 0};
    Step tuConfig{QStringLiteral("конфигурация ТУ"), std::nullopt, 0};
    std::array<Relay, 32> relays{};
    // The matrix at the end: per relay the 32 inputs' cells and the result cell.
    QList<QStringList> matrix;
    // The action log at the end: time and text of each entry.
    QList<std::pair<QString, QString>> actions;

    bool Ended() const { return ended.isValid(); }
    // The relays with at least one fault, in order.
    QList<int> FaultyRelays() const;
    // How the run ended, in words: "завершена", "остановлена на реле 7", ...
    QString EndingText() const;
    // The verdict: "Неисправных реле нет", "Неисправные реле: 5, 12", or for a run that did
    // not end its cycles what it found among the relays it checked.
    QString Verdict() const;
    // One fault in words: "вход 5 = 1, ожидался 0; …" for the inputs that disagreed.
    static QString FaultText(int relay, const QString& inputs);
};

// A setting of the module test window as it stood: its caption and its text.
struct ShownSetting {
    QString caption;
    QString text;
};
