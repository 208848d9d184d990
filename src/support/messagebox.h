#pragma once
// Modal messages to the operator. Every window shows its messages through here, so that the
// headless tests can answer them instead of a person.

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
