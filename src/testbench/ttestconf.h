// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Проверка модулей": the module test bench window. It shows the module test's action log and
// result matrix, holds the edits of the bench configuration (kept in its own settings file)
// and forwards the buttons to the module test; its messages are boxes over this window.

#include "support/messagebox.h"
#include "testbench/benchsettings.h"
#include "testbench/moduletest.h"

#include <QWidget>
#include <functional>
#include <memory>

class BenchConfig;
class ParameterEditor;
class QAction;
class QLineEdit;
class QPushButton;
class QSettings;
class QTableView;

class TTestconf : public QWidget
{
    Q_OBJECT
public:
    // store: the window's settings (its own file beside the main settings when null); the
    // window takes ownership.
    // The bench configuration buttons write to the block the main window's grid shows last
    // (editor).
    TTestconf(ModuleTest& test, BenchConfig& bench, const ParameterEditor& editor,
              QSettings* store = nullptr, QWidget* parent = nullptr);
    ~TTestconf() override;

    QLineEdit* Edit_ts_cycletime;
    QLineEdit* Edit_ts_entr;
    QPushButton* Button_ts_write;
    QLineEdit* Edit_tu_type;
    QLineEdit* Edit_tu_exit;
    QLineEdit* Edit_tu_min;
    QLineEdit* Edit_tu_max;
    QPushButton* Button_tu_write;
    QTableView* TestActions;
    QPushButton* Button_clear_testactions;
    QTableView* StringGrid1;
    QPushButton* Button_test;
    QPushButton* Button_test_big;
    QPushButton* Button_close_window;
    // "Сохранить протокол…": the context menu of StringGrid1 and TestActions, and Ctrl+S; only
    // once a run has ended.
    QAction* SaveProtocol;
    // Asks where to save (the file dialog); tests answer it themselves.
    std::function<QString(const QString& proposed)> SaveDialog;

    MessageBoxOperator Operator{this};

signals:
    // The main window's "Ожидайте завершения операции!" panel, shown or hidden.
    void waitPanelRequested(bool show);

private:
    QLineEdit* AddEdit(class QGridLayout* grid, int row, const benchsettings::Edit& e);
    QWidget* BuildTsConfig();
    QWidget* BuildTuConfig();
    void BuildLogAndMatrix();
    void Connect();
    void ShowButtons();
    ModuleTest::Typed Typed(const QLineEdit* edit);
    void Button_ts_writeClick();
    void Button_tu_writeClick();
    void Button_testClick();
    void Button_test_bigClick();
    void Button_clear_testactionsClick();
    void SaveProtocolClick();

    ModuleTest& test_;
    BenchConfig& bench_;
    const ParameterEditor& editor_;
    std::unique_ptr<QSettings> store_;
};
