// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Конфигурация и прошивка ФБ" tab: the list of blocks found (bloks) with "Найти
// установленные блоки" and the progress bar, the group " Конфигурация блока " with the
// parameter grid ConfigBl and "Записать параметры блока", the diagnostics counters, and the
// type-specific commands: calibration (Panel6), interlock logic and firmware. It shows the
// block service's state and forwards the engineer's actions; the operations ask their
// questions through message boxes over this page.

#include "support/messagebox.h"

#include <QFrame>
#include <QStyledItemDelegate>
#include <QWidget>

class AdcCalibration;
class BlockService;
class ParameterEditor;
class CalibrationPanel;
class QAction;
class QGroupBox;
class QLayout;
class QLineEdit;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableView;
class QToolButton;

// A panel that acts on a double click, and on Enter or Space for the keyboard.
class ActionPanel : public QFrame
{
    Q_OBJECT
public:
    ActionPanel(const QString& caption, QWidget* parent);

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// The list's lines: the line a programming run is working on stands out.
class ActiveLineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

class BlocksPage : public QWidget
{
    Q_OBJECT
public:
    BlocksPage(BlockService& service, ParameterEditor& editor, QWidget* parent = nullptr);

    QListView* bloks;
    QPushButton* QScan;
    QPushButton* BitBtn1; // the probe without announcements; never shown
    QProgressBar* ProgressBar1;

    QGroupBox* GroupBox2; // " Конфигурация блока "
    QTableView* ConfigBl;
    QMenu* PopupMenu2;
    QAction* MenuItem2; // "Размножить"
    QPushButton* BitBtn6;

    QGroupBox* GroupBox7; // "Диагностика " (engineering)
    QLineEdit* DiagRest;
    QLineEdit* DiagRep;

    ActionPanel* Panel6;                // "Калибровка АЦП"
    CalibrationPanel* Panel5 = nullptr; // over ConfigBl, once the calibration is attached
    QPushButton* ReadBLK;
    QPushButton* WriteBLK;
    QPushButton* LoadFromFileBLK;
    QPushButton* SaveToFile;

    QPushButton* BitBtn4;  // "Загрузить образ"
    QPushButton* BitBtn3;  // "Перепрограммировать"
    QPushButton* BitBtn55; // "Перезапись загрузчика" (engineering)
    QToolButton* SpeedButton2;

    // The operator of the operations started here: message boxes over this page, the progress
    // bar, and the main window's wait panel through waitPanelRequested.
    MessageBoxOperator Operator{this};

    // At link start: the hidden probe button is enabled.
    void LinkStarted();
    // The calibration panel over the grid, opened and closed through Panel6.
    void AttachCalibration(AdcCalibration& calibration);
    ParameterEditor& Editor() const { return editor_; }
    BlockService& Service() const { return service_; }

    // "Найти установленные блоки", and its hidden twin without the announcement phase.
    void QScanClick();
    void BitBtn1Click();
    // A click (or the arrow keys) on a line of bloks: its block shown in the grid.
    void bloksClick(int line);
    // "Записать параметры блока": the grid's values into the block it shows.
    void BitBtn6Click();
    // "Размножить".
    void MenuItem2Click();

signals:
    void waitPanelRequested(bool show);

private:
    QLayout* BuildList();
    QLayout* BuildConfiguration();
    void Connect();
    void ShowProgress(int minimum, int maximum, int position);
    void ShowControls();
    void ShowSelected(int line);

    BlockService& service_;
    ParameterEditor& editor_;
    bool showingSelection_ = false;
};
