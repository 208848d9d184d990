// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a long operation asks of the person it runs for, and what it tells them: Retry/Cancel
// after a missing reply, a message with OK, a Yes/No question, the progress and the blinking
// "Ожидайте завершения операции!" panel. The window answers with modal message boxes and its
// progress bar; a test or a script answers by policy. While the program is closing nobody is
// asked or told anything: the answers are the ones that stop (Cancel, No).

#include <QString>
#include <QStringList>

class OperatorIo
{
public:
    virtual ~OperatorIo() = default;

    // Retry/Cancel; true for Retry. `attempt` counts the times the same request was already
    // retried, so that a policy can give up after some.
    bool Retry(const QString& caption, const QString& text, int attempt = 0);
    // A message with OK.
    void Tell(const QString& caption, const QString& text);
    // Yes/No; true for Yes.
    bool Confirm(const QString& caption, const QString& text);

    // The progress bar's range and position.
    virtual void Progress(int minimum, int maximum, int position)
    {
        (void)minimum, (void)maximum, (void)position;
    }
    // The wait panel shown or hidden.
    virtual void Busy(bool on) { (void)on; }

protected:
    virtual bool AskRetry(const QString& caption, const QString& text, int attempt) = 0;
    virtual void ShowMessage(const QString& caption, const QString& text) = 0;
    virtual bool AskYesNo(const QString& caption, const QString& text) = 0;
};

// Answers by policy: Retry up to `retries` times for the same request, then Cancel; Yes/No as
// `yes`.
// Every question and message is kept, as "caption: text", for the caller to read.
class PolicyOperator : public OperatorIo
{
public:
    explicit PolicyOperator(int retries = 0, bool yes = false) : retries_(retries), yes_(yes) {}

    QStringList Messages; // every question and message, in order
    int ProgressMinimum = 0, ProgressMaximum = 100, ProgressPosition = 0;
    bool BusyShown = false; // the wait panel as it stands
    int BusyCount = 0;      // how often it was shown

    void Progress(int minimum, int maximum, int position) override;
    void Busy(bool on) override;

protected:
    bool AskRetry(const QString& caption, const QString& text, int attempt) override;
    void ShowMessage(const QString& caption, const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;

private:
    int retries_;
    bool yes_;
};
