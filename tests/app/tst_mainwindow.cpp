// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: start-up order and visibility, the command-line switch, the settings store,
// the link colour and the datagram counters.

#include "app/tform1.h"
#include "app/windows.h"
#include "blocks/ttxtblk.h"
#include "exchange/tracepage.h"
#include "fielddata/datapage.h"
#include "fielddata/ttiival.h"
#include "support/eventwait.h"
#include "support/filedialog.h"
#include "support/messagebox.h"
#include "testbench/ttestconf.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUdpSocket>
#include <QtTest>

// Records the widgets in the order of their construction.
struct CreationOrder : QObject {
    QList<QObject*> created;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Create)
            created << o;
        return false;
    }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString iniPath() const { return dir.filePath("TavenaConfig.conf"); }
    QSettings* store() const { return new QSettings(iniPath(), QSettings::IniFormat); }

    QStringList messages;
    QStringList captions;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        messagebox::SetPresenter([this](QWidget*, QMessageBox::Icon, const QString& caption,
                                        const QString& text, QMessageBox::StandardButtons) {
            messages << text;
            captions << caption;
            return QMessageBox::Ok;
        });
    }
    void init()
    {
        eventwait::SetClosing(false); // a window closed by an earlier test ended its waits
        QFile::remove(iniPath());
        messages.clear();
        captions.clear();
    }

    void windowsCreatedInOrderWithTheirCaptions()
    {
        SetApplicationIdentity();
        QCOMPARE(QGuiApplication::applicationDisplayName(), "Тавена конфигуратор");
        // Every widget announces its construction with a Create event; the order of the
        // windows' last announcements (an address may be reused after a delete) is their
        // creation order.
        CreationOrder order;
        qApp->installEventFilter(&order);
        AppWindows w = CreateWindows({}, store());
        qApp->removeEventFilter(&order);
        const QList<QObject*> windows = {w.Form1.get(), w.TiiVal.get(), w.Testconf.get(),
                                         w.TxtBLK.get(), w.Form7.get()};
        for (int i = 1; i < windows.size(); ++i)
            QVERIFY2(order.created.lastIndexOf(windows[i - 1]) <
                         order.created.lastIndexOf(windows[i]),
                     qPrintable(windows[i]->objectName()));
        QVERIFY(order.created.lastIndexOf(windows[0]) >= 0);
        QCOMPARE(w.Form1->windowTitle(), "КП Тавена конфигуратор");
        QCOMPARE(w.Form1->size(), QSize(780, 994));
        QCOMPARE(w.TiiVal->windowTitle(), "Ввод нового значения ТИИ");
        QCOMPARE(w.Testconf->windowTitle(), "Проверка модулей");
        QCOMPARE(w.TxtBLK->windowTitle(), "Текст логики блокировок");
        QCOMPARE(w.TxtBLK->size(), QSize(491, 462));
        QCOMPARE(w.Form7->objectName(), "TForm7");
        for (QWidget* hidden :
             {static_cast<QWidget*>(w.TiiVal.get()), static_cast<QWidget*>(w.Testconf.get()),
              static_cast<QWidget*>(w.TxtBLK.get()), w.Form7.get()})
            QVERIFY(!hidden->isVisible());
    }

    // Screen readers find every table and list by its name.
    void everyTableAndListIsNamed()
    {
        AppWindows w = CreateWindows({QStringLiteral("d")}, store());
        for (QWidget* window :
             {static_cast<QWidget*>(w.Form1.get()), static_cast<QWidget*>(w.TiiVal.get()),
              static_cast<QWidget*>(w.Testconf.get()), static_cast<QWidget*>(w.TxtBLK.get())})
            for (const auto* view : window->findChildren<QAbstractItemView*>())
                if (!qobject_cast<const QHeaderView*>(view))
                    QVERIFY2(!view->accessibleName().isEmpty(), qPrintable(view->objectName()));
    }

    void tabsStatusBarAndTimers()
    {
        TForm1 f({}, store());
        QTabWidget* tabs = f.PageControl1;
        const QStringList captions = {"Трассировка обмена", "Данные по ФБ",
                                      "Конфигурация и прошивка ФБ", "Список адаптеров с сети",
                                      "Базовые настройки"};
        QCOMPARE(tabs->count(), 5);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(tabs->tabText(i), captions[i]);
        QCOMPARE(tabs->currentIndex(), int(TForm1::TabSettings));
        for (int i = 0; i < 4; ++i)
            QVERIFY(!tabs->isTabVisible(i));
        QVERIFY(tabs->isTabVisible(TForm1::TabSettings));

        QCOMPARE(f.StatusPanel[0]->width(), 100);
        QCOMPARE(f.StatusPanel[1]->width(), 100);
        QCOMPARE(f.StatusPanel[2]->width(), 50);

        struct T {
            QTimer* timer;
            const char* name;
            int interval;
            bool running;
        };
        const T timers[] = {{&f.Link.Timer1, "Timer1", 100, false},
                            {&f.Link.Timer2, "Timer2", 500, false},
                            {&f.Tc.Timer3, "Timer3", 3000, false},
                            {&f.Link.Timer4, "Timer4", 1000, false},
                            {&f.Link.TimerDisconnect, "TimerDisconnect", 30000, false},
                            {&f.timerWait, "timerWait", 500, true},
                            {&f.TimerTest, "TimerTest", 2000, false},
                            {&f.Timer5, "Timer5", 1000, true}};
        for (const T& t : timers) {
            QCOMPARE(t.timer->objectName(), QLatin1String(t.name));
            QCOMPARE(t.timer->interval(), t.interval);
            QCOMPARE(t.timer->isActive(), t.running);
        }
    }

    void settingsTabControls()
    {
        TForm1 f({}, store());
        QCOMPARE(f.BaseMask->text(), "255.255.255.0");
        QCOMPARE(f.BasePortC->text(), "971");
        QVERIFY(f.BasePortC->isReadOnly());
        QCOMPARE(f.BasePortD->text(), "972");
        QCOMPARE(f.LabeledEdit1->text(), "100");
        QVERIFY(f.BaseIP->text().isEmpty());
        QCOMPARE(f.Km4Cfg->count(), 5);
        QCOMPARE(f.Km4Cfg->itemText(3), "KM4 CAN1-50kb");
        QVERIFY(f.Km4Cfg->itemText(4).isEmpty());
        QCOMPARE(f.Km4Cfg->currentIndex(), 0);
        QVERIFY(!f.Connect->isChecked());
        QVERIFY(f.TrassEnable->isChecked());
        QVERIFY(!f.BitBtn2->isEnabled());
        QVERIFY(f.Button1->isEnabled());
        QVERIFY(f.OpenSock->isHidden());
        // Engineers and screen readers find the edits by their captions.
        auto* label = f.findChild<QLabel*>("BaseIPadapterLabel");
        QVERIFY(label);
        QCOMPARE(label->text(), "IP адрес адаптера");
        QCOMPARE(label->buddy(), f.BaseIPadapter);
    }

    void engineeringControlsFollowTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("debug");
        QTest::newRow("none") << QStringList{} << false;
        QTest::newRow("d") << QStringList{"d"} << true;
        QTest::newRow("DEBUG") << QStringList{"DEBUG"} << true;
        QTest::newRow("among others") << QStringList{"-x", "DeBuG", "y"} << true;
        QTest::newRow("not a prefix") << QStringList{"debugging", "dd"} << false;
    }
    void engineeringControlsFollowTheCommandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, debug);
        TForm1 f(args, store());
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        for (QWidget* w :
             {static_cast<QWidget*>(f.BaseGW), static_cast<QWidget*>(f.BaseMask),
              static_cast<QWidget*>(f.BasePortC), static_cast<QWidget*>(f.BasePortD),
              static_cast<QWidget*>(f.LabeledEdit1), static_cast<QWidget*>(f.TrassEnable)})
            QCOMPARE(w->isVisible(), debug);
        QCOMPARE(f.findChild<QLabel*>("BaseGWLabel")->isVisible(), debug);
        QCOMPARE(f.GroupBox7->isHidden(), !debug);
        QCOMPARE(f.BitBtn55->isHidden(), !debug);
        QVERIFY(f.SpeedButton2->isHidden()); // never shown
        for (QWidget* w : {static_cast<QWidget*>(f.BaseIP), static_cast<QWidget*>(f.BaseIPadapter),
                           static_cast<QWidget*>(f.BaseMacAdapter), static_cast<QWidget*>(f.Km4Cfg),
                           static_cast<QWidget*>(f.Connect), static_cast<QWidget*>(f.Button1),
                           static_cast<QWidget*>(f.BitBtn2)})
            QVERIFY(w->isVisible());
        QCOMPARE(f.Link.settings.DebugMode, debug);
    }

    void settingsWrittenAndReadBack()
    {
        {
            TForm1 f({}, store());
            f.BaseIP->setText("127.0.0.1");
            f.BaseIPadapter->setText("127.0.0.2");
            f.BaseMacAdapter->setText("00:1A:2B:3C:4D:5E");
            f.BaseGW->setText("10.0.0.254");
            f.BasePortD->setText("9720");
            f.LabeledEdit1->setText("250");
            f.Km4Cfg->setCurrentIndex(3);
            f.Connect->setChecked(true);
            f.TrassEnable->setChecked(false);
            f.close();
        }
        {
            QSettings s(iniPath(), QSettings::IniFormat);
            QCOMPARE(s.value("BaseIPadapter.Text").toString(), "127.0.0.2");
            QCOMPARE(s.value("Km4Cfg.ItemIndex").toInt(), 3);
            QCOMPARE(s.value("N3.Checked").toString(), "true");
            QVERIFY(!s.contains("Connect.Checked"));
            QVERIFY(!s.contains("TrassEnable.Checked"));
        }
        TForm1 f({}, store());
        QCOMPARE(f.BaseIP->text(), "127.0.0.1");
        QCOMPARE(f.BaseIPadapter->text(), "127.0.0.2");
        QCOMPARE(f.BaseMacAdapter->text(), "00:1A:2B:3C:4D:5E");
        QCOMPARE(f.BaseGW->text(), "10.0.0.254");
        QCOMPARE(f.BasePortD->text(), "9720");
        QCOMPARE(f.LabeledEdit1->text(), "250");
        QCOMPARE(f.Km4Cfg->currentIndex(), 3);
        QCOMPARE(f.Link.settings.BasePortD, "9720"); // the core sees what the operator sees
        QCOMPARE(f.Link.settings.Timeout, "250");
        QCOMPARE(f.Link.settings.Km4Cfg, 3);
        QVERIFY(!f.Connect->isChecked());
        QVERIFY(f.TrassEnable->isChecked());
    }

    void valuesOfLaterControlsKeptUnchanged()
    {
        {
            QSettings s(iniPath(), QSettings::IniFormat);
            s.setValue("N1.Checked", true);
            s.setValue("N2.Checked", false);
            s.setValue("N3.Checked", false);
            s.setValue("gbTS.Height", 321);
            s.setValue("gbTIT.Height", 123);
        }
        {
            TForm1 f({}, store());
        }
        QSettings s(iniPath(), QSettings::IniFormat);
        QCOMPARE(s.value("N1.Checked").toString(), "true");
        QCOMPARE(s.value("N3.Checked").toString(), "false");
        QCOMPARE(s.value("gbTS.Height").toInt(), 321);
        QCOMPARE(s.value("gbTIT.Height").toInt(), 123);
    }

    void corruptStoreGivesInitialValues_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray binary;
        for (int i = 0; i < 512; ++i)
            binary.append(char((i * 37) ^ 0x5A));
        QTest::newRow("binary") << binary;
        QTest::newRow("nonsense values") << QByteArray("[General]\nKm4Cfg.ItemIndex=banana\n"
                                                       "N1.Checked=maybe\nN3.Checked=0\n"
                                                       "gbTS.Height=-5\nWindow.Geometry=@junk\n"
                                                       "Window.State=x\n");
        QTest::newRow("out of range") << QByteArray("[General]\nKm4Cfg.ItemIndex=17\n"
                                                    "N1.Checked=true\nN2.Checked=true\n"
                                                    "N3.Checked=false\n");
        QTest::newRow("unterminated") << QByteArray("[General\nBaseIP.Text=\"127.0");
    }
    void corruptStoreGivesInitialValues()
    {
        QFETCH(QByteArray, content);
        {
            QFile file(iniPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        StoredSettings s;
        QSettings store(iniPath(), QSettings::IniFormat);
        s.Load(store);
        QCOMPARE(s.Km4CfgItemIndex, 0);
        QVERIFY(s.N3 && !s.N1 && !s.N2);
        QVERIFY(!s.gbTSHeight);
        QCOMPARE(s.BaseMask, "255.255.255.0");
        TForm1 f({}, this->store());
        QCOMPARE(f.Km4Cfg->currentIndex(), 0);
        QCOMPARE(f.LabeledEdit1->text(), "100");
    }

    void traceTabAndMenu()
    {
        TForm1 f({}, store());
        QTableView* grid = f.findChild<QTableView*>("TrassG");
        QVERIFY(grid);
        QCOMPARE(grid->columnWidth(0), 82);
        QCOMPARE(grid->columnWidth(1), 128);
        QCOMPARE(grid->columnWidth(2), 515);
        auto* listen = f.findChild<QAction*>("Listen");
        QVERIFY(listen && listen->isCheckable());
        QCOMPARE(listen->text(), "Прослушка");
        listen->trigger();
        QVERIFY(f.Trace.Listen);
        QCOMPARE(f.findChild<QAction*>("TrassWriteFile")->text(), "Запись в файл");
        auto* list = f.findChild<QListWidget*>("ListBox2");
        list->addItems({"a", "b"});
        const int rows = f.Trace.GridRowCount();
        f.findChild<QAction*>("TrassClear")->trigger();
        QCOMPARE(list->count(), 1);
        QVERIFY(list->item(0)->text().isEmpty());
        QCOMPARE(f.Trace.GridRowCount(), rows);
        f.TrassEnable->setChecked(false);
        QVERIFY(!f.Trace.TrassEnable);
    }

    void recordingFromTheTraceMenu()
    {
        TForm1 f({}, store());
        QAction* record = f.findChild<QAction*>("TrassWriteFile");
        QVERIFY(record->isCheckable() && !record->isChecked());
        QString answer, proposed;
        filedialog::SetSavePresenter(
            [&](QWidget*, const QString&, const QString& p, const QString&) {
                proposed = p;
                return answer;
            });

        answer = dir.filePath("trace.pcapng");
        record->trigger();
        QVERIFY(record->isChecked());
        QVERIFY(f.Capture.Recording());
        static const QRegularExpression name(
            QStringLiteral("/trace-\\d{4}-\\d\\d-\\d\\d-\\d\\d-\\d\\d-\\d\\d\\.pcapng$"));
        QVERIFY2(name.match(proposed).hasMatch(), qPrintable(proposed));
        record->trigger();
        QVERIFY(!record->isChecked());
        QVERIFY(!f.Capture.Recording());
        QCOMPARE(f.Capture.Start(answer), QString()); // started by the core: the item follows
        QVERIFY(record->isChecked());
        f.Capture.Stop();
        QVERIFY(!record->isChecked());

        answer.clear(); // the operator cancels the dialog
        record->trigger();
        QVERIFY(!record->isChecked());
        QVERIFY(proposed.startsWith(dir.path())); // proposed where the last recording went

        answer = dir.filePath("missing/trace.pcapng");
        record->trigger();
        QVERIFY(!record->isChecked());
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].contains(answer));
        filedialog::SetSavePresenter({});
    }

    void disconnectReturnsTheButtonFace()
    {
        TForm1 f({}, store());
        const QColor face = f.Connect->palette().color(QPalette::Window);
        f.Link.TimerDisconnect.setInterval(80);
        f.Link.SetLinkOpen(true);
        QVERIFY(f.ConnectShowsLink());
        f.Link.TimerDisconnect.start();
        QTRY_VERIFY(!f.ConnectShowsLink());
        QVERIFY(!f.Link.LinkOpen);
        QCOMPARE(f.Connect->palette().color(QPalette::Window), face);
    }

    void connectClickReportsABadTimeout()
    {
        TForm1 f({"d"}, store());
        f.show();
        f.BaseIPadapter->setText("127.0.0.1");
        f.BaseIP->setText("127.0.0.1");
        f.LabeledEdit1->setText("abc");
        QTest::mouseClick(f.Connect, Qt::LeftButton, {}, QPoint(8, f.Connect->height() / 2));
        QVERIFY(f.Connect->isChecked());
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0], "Время ожидания: «abc» — не целое число.");
        QCOMPARE(captions[0], "Ошибка ввода");
        QCOMPARE(f.Link.SocketData.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!f.Link.Timer4.isActive());
    }

    void linkStartShowsTheTabsAndEnablesTheClock_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("engineer") << QStringList{"d"};
        QTest::newRow("operator") << QStringList{};
    }
    void linkStartShowsTheTabsAndEnablesTheClock()
    {
        QFETCH(QStringList, args);
        const bool debug = !args.isEmpty();
        TForm1 f(args, store());
        f.show();
        QUdpSocket adapter;
        QVERIFY(adapter.bind(QHostAddress::LocalHost, 0));
        f.BaseIP->setText("127.0.0.1");
        f.BaseIPadapter->setText("127.0.0.1");
        f.BasePortD->setText(QString::number(adapter.localPort()));
        f.Link.Timer4.setInterval(20);
        f.Connect->click();
        QTRY_VERIFY(adapter.hasPendingDatagrams()); // the keep-alive
        const QNetworkDatagram keepAlive = adapter.receiveDatagram();
        QCOMPARE(keepAlive.data(), QByteArray::fromHex("8000"));
        adapter.writeDatagram(QByteArray::fromHex("8000010302") + "adapter",
                              keepAlive.senderAddress(), quint16(keepAlive.senderPort()));
        QVERIFY(!f.findChild<QPushButton*>("QScan")->isEnabled());
        QTRY_VERIFY(f.Link.LinkOpen);
        QVERIFY(f.ConnectShowsLink());
        QVERIFY(f.BitBtn2->isEnabled());
        QVERIFY(f.findChild<QPushButton*>("QScan")->isEnabled());
        QVERIFY(f.findChild<QPushButton*>("BitBtn1")->isEnabled());
        QCOMPARE(f.PageControl1->isTabVisible(TForm1::TabTrace), debug);
        QVERIFY(f.PageControl1->isTabVisible(TForm1::TabData));
        QVERIFY(f.PageControl1->isTabVisible(TForm1::TabBlocks));
        QVERIFY(!f.PageControl1->isTabVisible(TForm1::TabAdapters));
        QCOMPARE(f.TrassEnable->isChecked(), debug);
        QCOMPARE(f.ListAdapters->count(), 1);
        QCOMPARE(f.ListAdapters->item(0)->checkState(), Qt::Checked);

        // Unchecking closes the link; the tabs stay.
        f.Connect->click();
        QVERIFY(!f.Link.LinkOpen);
        QVERIFY(!f.ConnectShowsLink());
        QVERIFY(f.PageControl1->isTabVisible(TForm1::TabData));
    }

    void adapterConfiguratorAbsentSaysSo()
    {
        TForm1 f({}, store());
        f.Button1->click();
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].contains("velmarcfgdll"));
        QVERIFY(f.Button1->isEnabled());
    }

    void unitsAndPaneHeightsPersist()
    {
        {
            TForm1 f({}, store());
            f.Tables.setUnit(LiveTables::Volts);
            f.TabSheet10->setGbTSHeight(233);
            f.close();
        }
        {
            QSettings s(iniPath(), QSettings::IniFormat);
            QCOMPARE(s.value("N1.Checked").toString(), "true");
            QCOMPARE(s.value("N3.Checked").toString(), "false");
            QCOMPARE(s.value("gbTS.Height").toInt(), 233);
        }
        TForm1 f({}, store());
        QCOMPARE(f.Tables.unit(), int(LiveTables::Volts));
        QCOMPARE(f.TabSheet10->gbTSHeight(), 233);
        QVERIFY(f.TabSheet10->N1->isChecked());
    }

    void queryServiceMissingIsSaidOnce()
    {
        QUdpSocket squatter; // holds the service's port, or fails as the program will
        squatter.bind(QHostAddress::LocalHost, LocalQueryService::QueryPort);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Служба опроса ТС \\(127.0.0.1:956\\)"
                                                " не запущена: .+"));
        TForm1 f({}, store());
        QVERIFY(
            f.StatusMessage->text().startsWith("Служба опроса ТС (127.0.0.1:956) не запущена: "));
        QCOMPARE(f.Trace.GridRowCount(), 3); // the trace holds datagrams only
        QVERIFY(messages.isEmpty());         // no box at start-up
    }

    void pageActionsReachTheAdapter()
    {
        TForm1 f({}, store());
        QUdpSocket adapter;
        QVERIFY(adapter.bind(QHostAddress::LocalHost, 0));
        f.BaseIP->setText("127.0.0.1");
        f.BaseIPadapter->setText("127.0.0.1");
        f.BasePortD->setText(QString::number(adapter.localPort()));
        f.Link.Timer4.stop();
        f.Connect->click();
        f.Link.Timer4.stop();
        f.Link.StartLink({}, 0);
        f.Tables.ArchivePos = 31;
        QByteArray got;
        connect(&adapter, &QUdpSocket::readyRead, &f, [&] {
            const QNetworkDatagram d = adapter.receiveDatagram();
            got = d.data();
            adapter.writeDatagram(QByteArray::fromHex("8200") + got.mid(2, 1), d.senderAddress(),
                                  quint16(d.senderPort()));
        });
        f.TabSheet10->N5->trigger(); // "Запрос архива", position 31 + 1 wraps to 0
        QCOMPARE(got, QByteArray::fromHex("000600194418000001"
                                          "00"));
        QVERIFY(f.Link.LinkOpen);
    }

    // Qt's own buttons and dialogs speak Russian, like the rest of the program.
    void qtTextsAreRussian()
    {
        QVERIFY(InstallQtTranslations());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Отмена");
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Retry"), "Повторить");
    }

    void countersInTheStatusBar()
    {
        TForm1 f({}, store());
        for (int i = 0; i < 17; ++i)
            f.Link.Receive(QByteArray::fromHex("8000"), QHostAddress::LocalHost);
        for (int i = 0; i < 4; ++i)
            (void)f.Link.SendRequest({}); // the link is closed: only counted
        f.Timer5.setInterval(20);
        QTRY_COMPARE(f.StatusPanel[0]->text(), "Прм:17");
        QCOMPARE(f.StatusPanel[1]->text(), "Прд:4");
    }

    void waitPanelBlinks()
    {
        TForm1 f({}, store());
        f.show();
        f.timerWait.setInterval(20);
        f.ShowWaitPanel(true);
        QCOMPARE(f.WaitPanel->text(), "Ожидайте завершения операции!");
        QTRY_VERIFY(f.WaitPanel->text().isEmpty());
        QTRY_COMPARE(f.WaitPanel->text(), "Ожидайте завершения операции!");
        f.ShowWaitPanel(false);
        QVERIFY(f.WaitPanel->isHidden());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
