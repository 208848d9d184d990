// SPDX-License-Identifier: GPL-3.0-or-later
// The module test window: its controls with their captions and initial texts, the edits kept
// in the window's own settings file, the buttons forwarded to the module test and the window
// following a run; shown from the main window's frames.

#include "app/programcore.h"
#include "app/tform1.h"
#include "app/windows.h"
#include "fielddata/datapage.h"
#include "fielddata/telecontrolgroup.h"
#include "support/convert.h"
#include "support/eventwait.h"
#include "support/messagebox.h"
#include "testbench/protocoltools.h"
#include "testbench/ttestconf.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

class TestTTestconf : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString cwd_;
    QStringList messages_;

    QString storePath() const { return dir_->filePath("TavenaConfig-Testconf.conf"); }
    QSettings* store() const { return new QSettings(storePath(), QSettings::IniFormat); }

private slots:
    void initTestCase()
    {
        messagebox::SetPresenter([this](QWidget*, QMessageBox::Icon, const QString& caption,
                                        const QString& text, QMessageBox::StandardButtons) {
            messages_ << caption + ": " + text;
            return QMessageBox::Ok;
        });
    }
    void init()
    {
        eventwait::SetClosing(false);
        messages_.clear();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        cwd_ = QDir::currentPath();
        QDir::setCurrent(dir_->path()); // a run's log goes here
    }
    void cleanup() { QDir::setCurrent(cwd_); }

    void editsWithTheirLabelsAndInitialTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label");
        // The c of "cек" is a Latin letter.
        QTest::newRow("cycle time") << "Edit_ts_cycletime"
                                    << "100" << QString("Время цикла ТС (") + QChar(0x63) + "ек)";
        QTest::newRow("filter") << "Edit_ts_entr"
                                << "50"
                                << "Фильтрация (мсек)";
        QTest::newRow("type") << "Edit_tu_type"
                              << "0"
                              << "Тип";
        QTest::newRow("hold") << "Edit_tu_exit"
                              << "200"
                              << "Удерж";
        QTest::newRow("minimum") << "Edit_tu_min"
                                 << "0"
                                 << "Мин";
        QTest::newRow("maximum") << "Edit_tu_max"
                                 << "0"
                                 << "Макс";
    }
    void editsWithTheirLabelsAndInitialTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, label);
        ProgramCore core;
        TTestconf w(core.Test, core.Bench, core.Editor, store());
        auto* edit = w.findChild<QLineEdit*>(name);
        QVERIFY(edit);
        QCOMPARE(edit->text(), text);
        auto* caption = w.findChild<QLabel*>(name + "Label");
        QVERIFY(caption);
        QCOMPARE(caption->text(), label);
        QCOMPARE(caption->buddy(), edit);
    }

    void buttonsAndGrids()
    {
        ProgramCore core;
        TTestconf w(core.Test, core.Bench, core.Editor, store());
        QCOMPARE(w.windowTitle(), "Проверка модулей");
        QVERIFY(w.windowFlags() & Qt::Tool);
        QCOMPARE(w.windowModality(), Qt::NonModal);
        const std::pair<const char*, const char*> buttons[] = {
            {"Button_ts_write", "Записать конфигурацию ТС"},
            {"Button_tu_write", "Записать конфигурацию ТУ"},
            {"Button_clear_testactions", "Очистить лог"},
            {"Button_test", "Запуск проверки"},
            {"Button_test_big", "Запуск проверки (30)"},
            {"Button_close_window", "Закрыть окно"}};
        for (const auto& [name, caption] : buttons) {
            auto* b = w.findChild<QPushButton*>(name);
            QVERIFY2(b, name);
            QCOMPARE(b->text(), QString(caption));
        }

        // The action log: two columns, no fixed rows, five empty rows.
        QCOMPARE(w.TestActions->model()->columnCount(), 2);
        QCOMPARE(w.TestActions->model()->rowCount(), 5);
        QCOMPARE(w.TestActions->columnWidth(0), 64);
        QCOMPARE(w.TestActions->columnWidth(1), 330);
        QVERIFY(w.TestActions->horizontalHeader()->isHidden());
        QVERIFY(w.TestActions->verticalHeader()->isHidden());

        // The matrix: 34 x 33 with the fixed column 0 and row 0 as headers.
        QAbstractItemModel* m = w.StringGrid1->model();
        QCOMPARE(m->columnCount() + 1, 34);
        QCOMPARE(m->rowCount() + 1, 33);
        QCOMPARE(m->headerData(0, Qt::Horizontal).toString(), "1");
        QCOMPARE(m->headerData(32, Qt::Horizontal).toString(), "Result");
        QCOMPARE(m->headerData(31, Qt::Vertical).toString(), "32");
        QCOMPARE(w.StringGrid1->columnWidth(0), 19);
        QCOMPARE(w.StringGrid1->columnWidth(31), 19);
        QCOMPARE(w.StringGrid1->columnWidth(32), 57);
        QCOMPARE(w.StringGrid1->verticalHeader()->width(), 19);

        w.show();
        QTest::mouseClick(w.Button_close_window, Qt::LeftButton);
        QVERIFY(w.isHidden());
    }

    // The edits are kept in the window's own file, beside the main settings and apart from
    // their keys.
    void editsKeptInTheirOwnFile()
    {
        const QString mainPath = dir_->filePath("TavenaConfig.conf");
        {
            AppWindows windows = CreateWindows({}, new QSettings(mainPath, QSettings::IniFormat));
            windows.Testconf->Edit_ts_entr->setText("75");
            windows.Testconf->Edit_tu_max->setText("900");
        }
        QSettings own(storePath(), QSettings::IniFormat);
        QCOMPARE(own.value("Edit_ts_entr.Text").toString(), "75");
        QCOMPARE(own.value("Edit_tu_max.Text").toString(), "900");
        QSettings main(mainPath, QSettings::IniFormat);
        QVERIFY(main.allKeys().filter("Edit_").isEmpty());

        ProgramCore core;
        TTestconf again(core.Test, core.Bench, core.Editor, store());
        QCOMPARE(again.Edit_ts_entr->text(), "75");
        QCOMPARE(again.Edit_tu_max->text(), "900");
        QCOMPARE(again.Edit_ts_cycletime->text(), "100");
    }

    // The buttons reach the module test with the edits' texts; the window shows the run's
    // state, its messages and the wait panel.
    void buttonsForwardAndTheWindowFollowsARun()
    {
        ProgramCore core;
        TTestconf w(core.Test, core.Bench, core.Editor, store());
        core.Test.StartDelay = core.Test.CyclePacing = 0;

        w.Edit_ts_entr->setText("5x");
        QTest::mouseClick(w.Button_ts_write, Qt::LeftButton);
        QCOMPARE(core.Test.TestActions.cell(4, 1), "Начинаю запись конфигурации ТС");
        QCOMPARE(messages_, QStringList{"Ошибка ввода: Фильтрация (мсек): «5x» — не целое число."});
        QTest::mouseClick(w.Button_clear_testactions, Qt::LeftButton);
        QCOMPARE(w.TestActions->model()->rowCount(), 1);

        // With the link closed the telesignal block does not answer: the run ends at once.
        QSignalSpy wait(&w, &TTestconf::waitPanelRequested);
        QStringList seen;
        connect(&core.Test.TestActions, &QAbstractItemModel::rowsInserted, this, [&] {
            seen << w.Button_test->text() + "/" + w.Button_test_big->text() + "/" +
                        (w.Button_ts_write->isEnabled() ? "on" : "off") + "/" +
                        (w.isVisible() ? "shown" : "hidden");
        });
        messages_.clear();
        QVERIFY(!w.SaveProtocol->isEnabled()); // no run has ended yet
        QTest::mouseClick(w.Button_test, Qt::LeftButton);
        QCOMPARE(seen.first(), "Остановить проверку/Остановить проверку/off/shown");
        QCOMPARE(w.Button_test->text(), "Новая проверка");
        QCOMPARE(w.Button_test_big->text(), "Новая проверка (30)");
        QVERIFY(w.Button_tu_write->isEnabled());
        QCOMPARE(messages_, QStringList{"Запись конфигурации: Нет ответа от блока! Повторите!"});
        QCOMPARE(wait.size(), 2);
        QCOMPARE(wait[0][0].toBool(), true);
        QCOMPARE(wait[1][0].toBool(), false);
        const QModelIndex newest = w.TestActions->model()->index(2, 1);
        QCOMPARE(newest.data().toString(), "Проверка была остановлена");
        QCOMPARE(newest.data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
        QCOMPARE(w.TestActions->model()->index(0, 0).data(Qt::ForegroundRole).value<QColor>(),
                 QColor(255, 0, 0));

        // Ctrl+S saves the run's protocol, proposed beside its log; clearing the log afterwards
        // does not change what the protocol says.
        QTest::mouseClick(w.Button_clear_testactions, Qt::LeftButton);
        QVERIFY(w.SaveProtocol->isEnabled());
        QString proposed;
        const QString pdf = dir_->filePath("protocol.pdf");
        w.SaveDialog = [&](const QString& p) { return proposed = p, pdf; };
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(proposed.startsWith(dir_->filePath("TestLogs/Протокол ")), qPrintable(proposed));
        const auto text = PdfText(pdf);
        if (!text)
            QSKIP("pdftotext is not installed (scripts/deps.sh installs it)");
        for (const char* expected : {"не записана конфигурация ТС", "Циклов выполнено +0 из 1",
                                     "Проверка была остановлена", "Фильтрация \\(мсек\\) +5x"})
            QVERIFY2(text->contains(QRegularExpression(QString::fromUtf8(expected))),
                     qPrintable(*text));
    }

    // A double click on " Телесигналы " or " Телеуправление " shows the window; its wait panel
    // is the main window's.
    void shownFromTheMainWindow()
    {
        AppWindows windows =
            CreateWindows({}, new QSettings(dir_->filePath("main.conf"), QSettings::IniFormat));
        QTest::mouseDClick(windows.Form1->TabSheet10->gbTS, Qt::LeftButton);
        QVERIFY(windows.Testconf->isVisible());
        windows.Testconf->hide();
        QTest::mouseDClick(windows.Form1->gbTU, Qt::LeftButton);
        QVERIFY(windows.Testconf->isVisible());
        emit windows.Testconf->waitPanelRequested(true);
        QVERIFY(!windows.Form1->WaitPanel->isHidden());
        emit windows.Testconf->waitPanelRequested(false);
        QVERIFY(windows.Form1->WaitPanel->isHidden());
    }
};

QTEST_MAIN(TestTTestconf)
#include "tst_ttestconf.moc"
