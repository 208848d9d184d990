// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tform1.h"

#include "blocks/blockspage.h"
#include "blocks/kpconfigview.h"
#include "exchange/adapterconfig.h"
#include "exchange/tracepage.h"
#include "fielddata/datapage.h"
#include "fielddata/telecontrolgroup.h"
#include "firmware/firmwareview.h"
#include "support/convert.h"
#include "support/eventwait.h"
#include "support/messagebox.h"
#include "tavenaversion.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{
const QString WaitCaption = QStringLiteral("Ожидайте завершения операции!");
const QColor LinkColour(0x00, 0xFF, 0x00);

void setupTimer(QTimer& timer, const char* name, int interval)
{
    timer.setObjectName(QLatin1String(name));
    timer.setInterval(interval);
}
} // namespace

TForm1::TForm1(const QStringList& args, QSettings* store, QWidget* parent)
    : QMainWindow(parent), store_(store ? store : OpenSettingsStore())
{
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral("КП Тавена конфигуратор"));
    resize(780, 994);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    BuildPages(central);
    WaitPanel = new QLabel(WaitCaption, central);
    WaitPanel->setObjectName(QStringLiteral("WaitPanel"));
    WaitPanel->setAlignment(Qt::AlignCenter);
    WaitPanel->setStyleSheet(
        QStringLiteral("background-color: red; color: white; font-weight: bold;"));
    WaitPanel->setMinimumHeight(28);
    WaitPanel->hide();
    layout->addWidget(PageControl1, 1);
    layout->addWidget(WaitPanel);
    setCentralWidget(central);
    BuildStatusBar();

    setupTimer(timerWait, "timerWait", 500);
    setupTimer(Timer5, "Timer5", 1000);
    ConnectSignals();
    FormCreate(args);
    StartLocalQuery();
    timerWait.start();
    Timer5.start();
}

void TForm1::BuildPages(QWidget* central)
{
    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TabSheet2 = new TracePage(Trace, Capture, PageControl1);
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    gbTU = new TelecontrolGroup(Tc);
    TabSheet10 = new DataPage(Tables, Core.Requests, gbTU, PageControl1);
    TabSheet10->setObjectName(QStringLiteral("TabSheet10"));
    TabSheet9 = new BlocksPage(Blocks, Core.Editor, PageControl1);
    TabSheet9->setObjectName(QStringLiteral("TabSheet9"));
    TabSheet9->AttachCalibration(Core.Calibration);
    SpeedButton2 = TabSheet9->SpeedButton2;
    GroupBox7 = TabSheet9->GroupBox7;
    BitBtn55 = TabSheet9->BitBtn55;
    FirmwareButtons = new firmware::FirmwareView(Core.Image, Core.Firmware, Blocks, *TabSheet9);
    KpConfigButtons = new KpConfigView(Core.KpConfig, Link.settings, *TabSheet9);
    TabSheet5 = new QWidget(PageControl1);
    TabSheet5->setObjectName(QStringLiteral("TabSheet5"));
    auto* adaptersLayout = new QVBoxLayout(TabSheet5);
    ListAdapters = new QListWidget(TabSheet5);
    ListAdapters->setObjectName(QStringLiteral("ListAdapters"));
    ListAdapters->setAccessibleName(QStringLiteral("Список адаптеров с сети"));
    adaptersLayout->addWidget(ListAdapters);
    TabSheet6 = BuildSettingsTab();
    TabSheet6->setObjectName(QStringLiteral("TabSheet6"));

    PageControl1->addTab(TabSheet2, QStringLiteral("Трассировка обмена"));
    PageControl1->addTab(TabSheet10, QStringLiteral("Данные по ФБ"));
    PageControl1->addTab(TabSheet9, QStringLiteral("Конфигурация и прошивка ФБ"));
    PageControl1->addTab(TabSheet5, QStringLiteral("Список адаптеров с сети"));
    PageControl1->addTab(TabSheet6, QStringLiteral("Базовые настройки"));
}

void TForm1::BuildStatusBar()
{
    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    const int widths[3] = {100, 100, 50};
    for (int i = 0; i < 3; ++i) {
        StatusPanel[i] = new QLabel(status);
        StatusPanel[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        StatusPanel[i]->setFixedWidth(widths[i]);
        status->addWidget(StatusPanel[i]);
    }
    StatusPanel[2]->setToolTip(QStringLiteral("Версия " TAVENA_VERSION_TEXT));
    StatusMessage = new QLabel(status);
    StatusMessage->setObjectName(QStringLiteral("StatusMessage"));
    status->addWidget(StatusMessage, 1);
    setStatusBar(status);
}

void TForm1::ConnectSignals()
{
    connect(&Timer5, &QTimer::timeout, this, &TForm1::Timer5Timer);
    connect(&timerWait, &QTimer::timeout, this, &TForm1::timerWaitTimer);
    connect(&Link, &LinkCore::linkStateChanged, this, &TForm1::LinkStateChanged);
    connect(&Link, &LinkCore::operatorError, this, [this](const QString& message) {
        messagebox::Error(this, message, InputErrorCaption);
    });
    connect(&Announcements, &AdapterAnnouncements::adapterListed, this, [this](int i) {
        auto* item = new QListWidgetItem(Announcements.ListAdapters[i], ListAdapters);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    });
    connect(&Announcements, &AdapterAnnouncements::adapterChecked, this,
            [this](int i) { ListAdapters->item(i)->setCheckState(Qt::Checked); });
    connect(&Announcements, &AdapterAnnouncements::linkStarted, this, &TForm1::LinkStarted);
    connect(&Announcements, &AdapterAnnouncements::linkStarted, gbTU,
            &TelecontrolGroup::LinkStarted);
    connect(&Announcements, &AdapterAnnouncements::linkStarted, TabSheet9,
            &BlocksPage::LinkStarted);
    connect(TabSheet9, &BlocksPage::waitPanelRequested, this, &TForm1::ShowWaitPanel);
    // The status bar tells what was refused without a box.
    connect(&Link.Operations, &OperationGuard::refused, this, &TForm1::ShowStatusNotice);
    connect(&Core.Editor, &ParameterEditor::refused, this, &TForm1::ShowStatusNotice);
    connect(&Link, &LinkCore::adapterUnresolved, this, &TForm1::ShowStatusNotice);
    connect(TabSheet10, &DataPage::testWindowRequested, this, &TForm1::testWindowRequested);
    connect(TabSheet10, &DataPage::trendRequested, this, &TForm1::trendRequested);
    connect(gbTU, &TelecontrolGroup::testWindowRequested, this, &TForm1::testWindowRequested);
    connect(TabSheet10, &DataPage::integralDoubleClicked, this, [this](int row, int col) {
        emit counterPresetRequested(row, col, Tables.Integrals.cell(row, col));
    });
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
}

TForm1::~TForm1()
{
    SaveSettings();
}

QLineEdit* TForm1::AddLabeledEdit(QGridLayout* grid, int row, const char* name,
                                  const QString& caption, QString* mirror)
{
    auto* edit = new QLineEdit(*mirror, TabSheet6);
    edit->setObjectName(QLatin1String(name));
    auto* label = new QLabel(caption, TabSheet6);
    label->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    label->setBuddy(edit);
    edit->setProperty("label", QVariant::fromValue(static_cast<QObject*>(label)));
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    connect(edit, &QLineEdit::textChanged, this, [mirror](const QString& text) { *mirror = text; });
    return edit;
}

QWidget* TForm1::BuildSettingsTab()
{
    TabSheet6 = new QWidget(PageControl1);
    auto* grid = new QGridLayout(TabSheet6);
    LinkSettings& s = Link.settings;
    int row = 0;
    BaseIP =
        AddLabeledEdit(grid, row++, "BaseIP", QStringLiteral("IP адрес компьютера"), &s.BaseIP);
    BaseIPadapter = AddLabeledEdit(grid, row++, "BaseIPadapter",
                                   QStringLiteral("IP адрес адаптера"), &s.BaseIPadapter);
    BaseMacAdapter = AddLabeledEdit(grid, row++, "BaseMacAdapter",
                                    QStringLiteral("MAC адрес адаптера"), &s.BaseMacAdapter);
    BaseMask = AddLabeledEdit(grid, row++, "BaseMask", QStringLiteral("Маска сети"), &s.BaseMask);
    BaseGW = AddLabeledEdit(grid, row++, "BaseGW", QStringLiteral("Шлюз"), &s.BaseGW);
    BasePortC =
        AddLabeledEdit(grid, row++, "BasePortC", QStringLiteral("№ порта конф"), &s.BasePortC);
    BasePortC->setReadOnly(true);
    BasePortD =
        AddLabeledEdit(grid, row++, "BasePortD", QStringLiteral("№ порта данных"), &s.BasePortD);
    LabeledEdit1 =
        AddLabeledEdit(grid, row++, "LabeledEdit1", QStringLiteral("Время ожидания"), &s.Timeout);

    Km4Cfg = new QComboBox(TabSheet6);
    Km4Cfg->setObjectName(QStringLiteral("Km4Cfg"));
    Km4Cfg->setAccessibleName(QStringLiteral("Режим KM4"));
    Km4Cfg->addItems({QStringLiteral("KM4 CAN0-500kb"), QStringLiteral("KM4 CAN1-500kb"),
                      QStringLiteral("KM4 CAN0-50kb"), QStringLiteral("KM4 CAN1-50kb"), QString()});
    connect(Km4Cfg, &QComboBox::currentIndexChanged, this,
            [this](int i) { Link.settings.Km4Cfg = i; });
    grid->addWidget(Km4Cfg, row++, 1);

    Connect = new QCheckBox(QStringLiteral("Разрешить обмен"), TabSheet6);
    Connect->setObjectName(QStringLiteral("Connect"));
    Connect->setAutoFillBackground(true);
    connect(Connect, &QCheckBox::clicked, this, &TForm1::ConnectClick);
    grid->addWidget(Connect, row++, 1);

    TrassEnable = new QCheckBox(QStringLiteral("Трассировка обмена"), TabSheet6);
    TrassEnable->setObjectName(QStringLiteral("TrassEnable"));
    TrassEnable->setChecked(true);
    connect(TrassEnable, &QCheckBox::toggled, this, [this](bool on) { Trace.TrassEnable = on; });
    grid->addWidget(TrassEnable, row++, 1);

    Button1 = new QPushButton(QStringLiteral("Конфигуратор ВельмарIP"), TabSheet6);
    Button1->setObjectName(QStringLiteral("Button1"));
    grid->addWidget(Button1, row++, 1);
    BitBtn2 = new QPushButton(QStringLiteral("Установить время"), TabSheet6);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setEnabled(false);
    grid->addWidget(BitBtn2, row++, 1);
    OpenSock = new QPushButton(QStringLiteral("Открыть сеть"), TabSheet6);
    OpenSock->setObjectName(QStringLiteral("OpenSock"));
    OpenSock->hide();
    connect(OpenSock, &QPushButton::clicked, this, &TForm1::OpenSockClick);
    grid->addWidget(OpenSock, row++, 1);

    grid->setColumnStretch(2, 1);
    grid->setRowStretch(row, 1);
    return TabSheet6;
}

void TForm1::SetEngineeringVisible(QWidget* control, bool visible)
{
    control->setVisible(visible);
    if (auto* label = qobject_cast<QWidget*>(control->property("label").value<QObject*>()))
        label->setVisible(visible);
}

void TForm1::FormCreate(const QStringList& args)
{
    RestoreSettings();

    PageControl1->setTabVisible(TabTrace, false);
    PageControl1->setTabVisible(TabData, false);
    PageControl1->setTabVisible(TabBlocks, false);
    PageControl1->setTabVisible(TabAdapters, false);
    PageControl1->setCurrentIndex(TabSettings);

    QWidget* engineering[] = {BaseGW,       BaseMask,  BasePortC, BasePortD,
                              LabeledEdit1, GroupBox7, BitBtn55,  TrassEnable};
    SetEngineeringVisible(SpeedButton2, false);
    for (QWidget* w : engineering)
        SetEngineeringVisible(w, false);

    for (const QString& arg : args) {
        if (arg.compare(u"debug", Qt::CaseInsensitive) == 0 ||
            arg.compare(u"d", Qt::CaseInsensitive) == 0) {
            for (QWidget* w : engineering)
                SetEngineeringVisible(w, true);
            Link.settings.DebugMode = true;
        }
    }
}

void TForm1::RestoreSettings()
{
    stored_.Load(*store_);
    BaseGW->setText(stored_.BaseGW);
    BaseIP->setText(stored_.BaseIP);
    BaseMask->setText(stored_.BaseMask);
    BasePortC->setText(stored_.BasePortC);
    BasePortD->setText(stored_.BasePortD);
    BaseIPadapter->setText(stored_.BaseIPadapter);
    BaseMacAdapter->setText(stored_.BaseMacAdapter);
    LabeledEdit1->setText(stored_.LabeledEdit1);
    Km4Cfg->setCurrentIndex(stored_.Km4CfgItemIndex);
    Tables.setUnit(stored_.N1   ? LiveTables::Volts
                   : stored_.N2 ? LiveTables::Milliamps
                                : LiveTables::Quanta);
    if (stored_.gbTSHeight)
        TabSheet10->setGbTSHeight(*stored_.gbTSHeight);
    if (stored_.gbTITHeight)
        TabSheet10->setGbTITHeight(*stored_.gbTITHeight);
    Link.settings.Km4Cfg = stored_.Km4CfgItemIndex;
    if (!stored_.WindowGeometry.isEmpty())
        restoreGeometry(stored_.WindowGeometry);
    if (stored_.WindowState & Qt::WindowMaximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TForm1::SaveSettings()
{
    if (saved_)
        return;
    saved_ = true;
    stored_.BaseGW = BaseGW->text();
    stored_.BaseIP = BaseIP->text();
    stored_.BaseMask = BaseMask->text();
    stored_.BasePortC = BasePortC->text();
    stored_.BasePortD = BasePortD->text();
    stored_.BaseIPadapter = BaseIPadapter->text();
    stored_.BaseMacAdapter = BaseMacAdapter->text();
    stored_.LabeledEdit1 = LabeledEdit1->text();
    stored_.Km4CfgItemIndex = Km4Cfg->currentIndex();
    stored_.N1 = Tables.unit() == LiveTables::Volts;
    stored_.N2 = Tables.unit() == LiveTables::Milliamps;
    stored_.N3 = Tables.unit() == LiveTables::Quanta;
    stored_.gbTSHeight = TabSheet10->gbTSHeight();
    stored_.gbTITHeight = TabSheet10->gbTITHeight();
    stored_.WindowGeometry = saveGeometry();
    stored_.WindowState = int(windowState() & Qt::WindowMaximized);
    stored_.Save(*store_);
}

void TForm1::ShowStatusNotice(const QString& text)
{
    StatusMessage->setText(text);
    StatusMessage->setToolTip(text);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!Core.Firmware.MayClose())
        return event->ignore(); // the programming run goes on
    // Ends every wait in progress: the operations stop without a word, nothing more is sent.
    eventwait::SetClosing(true);
    Capture.Stop();
    SaveSettings();
    event->accept();
    emit closed();
}

void TForm1::ShowLinkError(const QString& error, bool withPort, const QString& action)
{
    if (error.isEmpty())
        return;
    const bool typed = !Link.TypedProblem(withPort).isEmpty();
    messagebox::Error(this, error, typed ? InputErrorCaption : action);
}

void TForm1::ConnectClick(bool checked)
{
    ShowLinkError(Link.Enable(checked), false, Connect->text());
}

void TForm1::OpenSockClick()
{
    OpenSock->setEnabled(false);
    ShowLinkError(Link.OpenDataPort(), true, OpenSock->text());
}

void TForm1::LinkStateChanged(bool open)
{
    QPalette palette = Connect->palette();
    palette.setColor(QPalette::Window, open ? LinkColour : QPalette().color(QPalette::Button));
    Connect->setPalette(palette);
}

bool TForm1::ConnectShowsLink() const
{
    return Connect->palette().color(QPalette::Window) == LinkColour;
}

void TForm1::Timer5Timer()
{
    StatusPanel[0]->setText(QStringLiteral("Прм:%1").arg(Link.RxCount));
    StatusPanel[1]->setText(QStringLiteral("Прд:%1").arg(Link.TxCount));
}

void TForm1::ShowWaitPanel(bool show)
{
    WaitPanel->setText(WaitCaption);
    WaitPanel->setVisible(show);
}

void TForm1::timerWaitTimer()
{
    if (WaitPanel->isVisible())
        WaitPanel->setText(WaitPanel->text().isEmpty() ? WaitCaption : QString());
}

void TForm1::LinkStarted()
{
    BitBtn2->setEnabled(true);
    if (Link.settings.DebugMode)
        PageControl1->setTabVisible(TabTrace, true);
    else
        TrassEnable->setChecked(false);
    PageControl1->setTabVisible(TabData, true);
    PageControl1->setTabVisible(TabBlocks, true);
}

void TForm1::BitBtn2Click()
{
    Announcements.SetClock();
}

void TForm1::Button1Click()
{
    Button1->setEnabled(false);
    QString error;
    if (!CallVelmarIPConfig(BaseMacAdapter->text().toLatin1(), BaseIPadapter->text().toLatin1(),
                            &error))
        messagebox::Error(this, error, Button1->text());
    Button1->setEnabled(true);
}

void TForm1::StartLocalQuery()
{
    // Without the service the program runs on; the notice is given once, in the status bar and
    // on standard error, without a box. The trace holds datagrams only.
    const QString error = LocalQuery.Bind();
    if (error.isEmpty())
        return;
    const QString notice =
        QStringLiteral("Служба опроса ТС (127.0.0.1:956) не запущена: %1").arg(error);
    StatusMessage->setText(notice);
    StatusMessage->setToolTip(notice);
    qWarning("%s", qUtf8Printable(notice));
}
