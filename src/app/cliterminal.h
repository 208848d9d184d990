// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command-line tool's end of an operation: questions answered by policy (Retry up to N
// times for the same request, then Cancel) or, with --interactive on a terminal, by the
// engineer at a prompt; messages on standard error with the window's captions; progress on
// standard error (a bar with percentage and rate on a terminal, one line per tenth otherwise);
// and Ctrl-C / SIGTERM, which end every wait at once so that nothing more is sent.

#include "support/operatorio.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QSocketNotifier;

class CliOperator : public OperatorIo
{
public:
    CliOperator(int retries, bool interactive);

    // What the operation said went wrong: the caption of the last missing reply, and whether
    // some data is incomplete because a question was answered Cancel.
    QString FailedStage;
    QStringList Messages;
    bool Failed() const { return !FailedStage.isEmpty(); }

    // The name of what runs, for the progress line.
    std::function<QString()> stage;
    // No progress shown (a one-block read is over before a bar would tell anything).
    bool quietProgress = false;

    void Progress(int minimum, int maximum, int position) override;
    // Ends a progress bar on a terminal with a line break.
    void EndProgress();

protected:
    bool AskRetry(const QString& caption, const QString& text, int attempt) override;
    void ShowMessage(const QString& caption, const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;

private:
    bool Ask(const QString& question);
    void Say(const QString& caption, const QString& text);

    int retries_;
    bool interactive_;
    bool terminal_;
    int minimum_ = 0, maximum_ = 0, lastTenth_ = -1, lastShown_ = -1;
    QElapsedTimer since_, drawn_;
    int startPosition_ = 0;
    bool barOpen_ = false;
};

// Turns SIGINT and SIGTERM into the program's closing: every wait ends and the operations stop
// without sending more. `interrupted` then tells the command where it stopped.
class Interrupts : public QObject
{
    Q_OBJECT
public:
    Interrupts();
    ~Interrupts() override;
    bool interrupted = false;
    int signal = 0;

signals:
    void arrived();

private:
    QSocketNotifier* notifier_;
};

// A line read from standard input while the event loop runs; empty at end of input.
QString ReadLineFromTerminal();
// True when the stream is a terminal.
bool IsTerminal(int fd);
