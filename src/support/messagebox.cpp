// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/messagebox.h"

#include "support/eventwait.h"

#include <QApplication>

namespace
{
messagebox::Presenter presenter;
}

namespace messagebox
{

QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                 const QString& text, QMessageBox::StandardButtons buttons)
{
    // While the program closes nobody is asked or told anything: the answer is the one that
    // stops (Cancel, No), and a plain message is simply not shown.
    if (eventwait::Closing()) {
        for (const auto stop : {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Abort})
            if (buttons & stop)
                return stop;
        return QMessageBox::Ok;
    }
    if (presenter)
        return presenter(parent, icon, caption, text, buttons);
    QMessageBox box(icon, caption.isEmpty() ? QApplication::applicationDisplayName() : caption,
                    text, buttons, parent);
    return QMessageBox::StandardButton(box.exec());
}

void Error(QWidget* parent, const QString& text, const QString& caption)
{
    Show(parent, QMessageBox::Critical, caption, text, QMessageBox::Ok);
}

void SetPresenter(Presenter p)
{
    presenter = std::move(p);
}

} // namespace messagebox

void MessageBoxOperator::Progress(int minimum, int maximum, int position)
{
    if (onProgress)
        onProgress(minimum, maximum, position);
}

void MessageBoxOperator::Busy(bool on)
{
    if (onBusy)
        onBusy(on);
}

bool MessageBoxOperator::AskRetry(const QString& caption, const QString& text, int)
{
    return messagebox::Show(parent_, QMessageBox::Warning, caption, text,
                            QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
}

void MessageBoxOperator::ShowMessage(const QString& caption, const QString& text)
{
    messagebox::Show(parent_, QMessageBox::Warning, caption, text, QMessageBox::Ok);
}

bool MessageBoxOperator::AskYesNo(const QString& caption, const QString& text)
{
    return messagebox::Show(parent_, QMessageBox::Question, caption, text,
                            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}
