// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Modal messages to the operator. Every window shows its messages through here, so that the
// headless tests can answer them instead of a person.

#include "support/operatorio.h"

#include <QMessageBox>
#include <QString>
#include <functional>

namespace messagebox
{

using Presenter = std::function<QMessageBox::StandardButton(
    QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
    QMessageBox::StandardButtons buttons)>;

// Shows the message and returns the button pressed. While the program is closing nothing is
// shown and the stopping answer (Cancel, No) is returned.
QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                 const QString& text,
                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// An error with OK only.
void Error(QWidget* parent, const QString& text, const QString& caption = {});

// Replaces the presenter (tests); an empty one restores the modal box.
void SetPresenter(Presenter presenter);

} // namespace messagebox

// The operator of an operation started from a window: modal message boxes over `parent`, the
// progress and the wait panel handed to whoever shows them.
class MessageBoxOperator : public OperatorIo
{
public:
    explicit MessageBoxOperator(QWidget* parent) : parent_(parent) {}

    std::function<void(int minimum, int maximum, int position)> onProgress;
    std::function<void(bool on)> onBusy;

    void Progress(int minimum, int maximum, int position) override;
    void Busy(bool on) override;

protected:
    bool AskRetry(const QString& caption, const QString& text, int attempt) override;
    void ShowMessage(const QString& caption, const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;

private:
    QWidget* parent_;
};
