// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The " Телеуправление " group (gbTU): the telecontrol blocks with their diagnostics, the block
// address and relay number, "Включить", "Включить все", and the command's progress.

#include <QGroupBox>

class QListWidget;
class QPushButton;
class QSpinBox;
class QWidget;
class Telecontrol;

class TelecontrolGroup : public QGroupBox
{
    Q_OBJECT
public:
    explicit TelecontrolGroup(Telecontrol& telecontrol, QWidget* parent = nullptr);

    QListWidget* RxCheckListBox1;
    QWidget* Panel1;
    QSpinBox* RxSpinEdit1;
    QSpinBox* RxSpinEdit2;
    QPushButton* RxSpeedButton1;
    QPushButton* RxSpeedButton2;
    QListWidget* TuEvent;

    // At link start: the buttons are enabled and stay so.
    void LinkStarted();

    // "Включить": one command for the chosen relay. "Включить все": relays 1 to 32 in turn.
    void RxSpeedButton1Click();
    void RxSpeedButton2Click();

signals:
    // gbTUDblClick: the module test window is asked for.
    void testWindowRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void BuildPanel();
    void ConnectSignals();

    Telecontrol& tc_;
};
