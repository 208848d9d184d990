// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window "КП Тавена конфигуратор": the page control with its five tabs, the status bar
// with the datagram counters, the "Базовые настройки" tab and the window's timers. It owns the
// core objects of the exchange for the life of the process.

#include "app/programcore.h"
#include "app/storedsettings.h"

#include <QMainWindow>
#include <QTimer>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSettings;
class QTabWidget;
class QToolButton;
class BlocksPage;
class DataPage;
class KpConfigView;
class TelecontrolGroup;
class TracePage;
namespace firmware
{
class FirmwareView;
}

class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    // args: the command-line arguments after the program name. store: the settings store to use
    // (the per-user store when null); the window takes ownership.
    explicit TForm1(const QStringList& args, QSettings* store = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    // Core objects.
    ProgramCore Core;
    TraceLog& Trace = Core.Trace;
    CaptureRecorder& Capture = Core.Capture;
    LinkCore& Link = Core.Link;
    ReceiveDispatcher& Dispatcher = Core.Dispatcher;
    AdapterAnnouncements& Announcements = Core.Announcements;
    LiveTables& Tables = Core.Tables;
    Telecontrol& Tc = Core.Tc;
    LocalQueryService& LocalQuery = Core.LocalQuery;
    BlockService& Blocks = Core.Blocks;

    // Page control and tabs.
    QTabWidget* PageControl1;
    TracePage* TabSheet2;
    DataPage* TabSheet10;
    TelecontrolGroup* gbTU;
    BlocksPage* TabSheet9;
    QWidget* TabSheet5;
    QWidget* TabSheet6;

    // "Базовые настройки".
    QLineEdit* BaseIP;
    QLineEdit* BaseIPadapter;
    QLineEdit* BaseMacAdapter;
    QLineEdit* BaseMask;
    QLineEdit* BaseGW;
    QLineEdit* BasePortC;
    QLineEdit* BasePortD;
    QLineEdit* LabeledEdit1;
    QComboBox* Km4Cfg;
    QCheckBox* Connect;
    QCheckBox* TrassEnable;
    QPushButton* Button1;
    QPushButton* BitBtn2;
    QPushButton* OpenSock;

    // "Список адаптеров с сети".
    QListWidget* ListAdapters;

    // Engineering controls of the block tab.
    QToolButton* SpeedButton2;
    QGroupBox* GroupBox7;
    QPushButton* BitBtn55;
    firmware::FirmwareView* FirmwareButtons; // "Загрузить образ", "Перепрограммировать", ...
    KpConfigView* KpConfigButtons; // the configuration file of the controlled point

    QLabel* WaitPanel;
    QLabel* StatusPanel[3];
    QLabel* StatusMessage; // plain notices beside the counters

    QTimer& TimerTest = Core.Test.TimerTest; // module test pacing
    QTimer timerWait;                        // blinks WaitPanel
    QTimer Timer5;                           // datagram counters

    // The tab indexes of the page control, in order.
    enum Tab { TabTrace = 0, TabData = 1, TabBlocks = 2, TabAdapters = 3, TabSettings = 4 };

    // Shows or hides the blinking "Ожидайте завершения операции!" panel.
    void ShowWaitPanel(bool show);
    // True while the link colour (lime) is shown on "Разрешить обмен".
    bool ConnectShowsLink() const;
    // A plain notice beside the counters of the status bar (a refused operation, an adapter
    // name that does not resolve).
    void ShowStatusNotice(const QString& text);

signals:
    // The module test window is asked for (double click on a frame of the data tab).
    void testWindowRequested();
    // Double click on the integral table, in grid coordinates, with the cell's text.
    void counterPresetRequested(int row, int col, const QString& cellText);
    // "График" of the data tab's tables: the inputs to show as curves.
    void trendRequested(const QList<trend::Key>& keys);
    // The main window has closed: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildPages(QWidget* central);
    void BuildStatusBar();
    void ConnectSignals();
    void FormCreate(const QStringList& args);
    void ConnectClick(bool checked);
    void OpenSockClick();
    // A link error in a box: "Ошибка ввода" when something typed does not convert, otherwise
    // the caption of the action.
    void ShowLinkError(const QString& error, bool withPort, const QString& action);
    void Timer5Timer();
    void timerWaitTimer();
    void LinkStateChanged(bool open);
    void LinkStarted();
    void StartLocalQuery();
    void BitBtn2Click();
    void Button1Click();
    void RestoreSettings();
    void SaveSettings();
    QWidget* BuildSettingsTab();
    QLineEdit* AddLabeledEdit(class QGridLayout* grid, int row, const char* name,
                              const QString& caption, QString* mirror);
    void SetEngineeringVisible(QWidget* control, bool visible);

    std::unique_ptr<QSettings> store_;
    StoredSettings stored_;
    bool saved_ = false;
};
