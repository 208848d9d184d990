// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/operatorio.h"

#include "support/eventwait.h"

bool OperatorIo::Retry(const QString& caption, const QString& text, int attempt)
{
    return !eventwait::Closing() && AskRetry(caption, text, attempt);
}

void OperatorIo::Tell(const QString& caption, const QString& text)
{
    if (!eventwait::Closing())
        ShowMessage(caption, text);
}

bool OperatorIo::Confirm(const QString& caption, const QString& text)
{
    return !eventwait::Closing() && AskYesNo(caption, text);
}

void PolicyOperator::Progress(int minimum, int maximum, int position)
{
    ProgressMinimum = minimum;
    ProgressMaximum = maximum;
    ProgressPosition = position;
}

void PolicyOperator::Busy(bool on)
{
    BusyShown = on;
    BusyCount += on ? 1 : 0;
}

bool PolicyOperator::AskRetry(const QString& caption, const QString& text, int attempt)
{
    Messages << caption + QStringLiteral(": ") + text;
    return attempt < retries_;
}

void PolicyOperator::ShowMessage(const QString& caption, const QString& text)
{
    Messages << caption + QStringLiteral(": ") + text;
}

bool PolicyOperator::AskYesNo(const QString& caption, const QString& text)
{
    Messages << caption + QStringLiteral(": ") + text;
    return yes_;
}
