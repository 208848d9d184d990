// SPDX-License-Identifier: GPL-3.0-or-later
// The module test run against the simulated bench: relay k of telecontrol block 0 wired to
// input k of telesignal block 0 through normally closed contacts. Whole runs with every relay
// passing, with faults of the bench, stopped, with a configuration that fails, at the cycle
// limit, and without a log file.

#include "blocks/simfixture.h"
#include "support/cp1251.h"
#include "support/eventwait.h"
#include "support/localtext.h"
#include "testbench/junitreport.h"
#include "testbench/testlog.h"

#include <QTemporaryDir>

// The entries of a run.
namespace entry
{
const QString TsStart = QStringLiteral("Начинаю запись конфигурации ТС для проверки");
const QString TsDone = QStringLiteral("Конфигурация ТС для проверки записана");
const QString TsFailed = QStringLiteral("Ошибка при записи конфигурации ТС");
const QString TuStart = QStringLiteral("Начинаю запись конфигурации ТУ для проверки");
const QString TuDone = QStringLiteral("Конфигурация ТУ для проверки записана");
const QString TuFailed = QStringLiteral("Ошибка при записи конфигурации ТУ");
const QString Soon = QStringLiteral("Проверка будет начата через 4 секунды...");
const QString Begin = QStringLiteral("Начинаю проверку модуля");
const QString Stopped = QStringLiteral("Проверка была остановлена");
const QString Passed = QStringLiteral("Проверка завершена, ошибок не найдено");
const QString Faults = QStringLiteral("Проверка завершена. ВНИМАНИЕ: найдены ошибки");
const QString Plan1 = QStringLiteral("Начал проверку. Циклов по плану: 1");
} // namespace entry

class TestModuleTest : public QObject
{
    Q_OBJECT

    static kpsim::Options benchOptions(const char* blocks = "ts:0,tu:0")
    {
        kpsim::Options o = SimFixture::withBlocks(blocks);
        o.wiring = {kpsim::Wiring{0, 0, true}};
        return o;
    }

    // The bench with short intervals; the run starts at 09:05:03 on 7 December 2026 by the
    // test's clock.
    struct Bench : SimFixture {
        ModuleTest& test = core.Test;
        QList<int> selected; // relays the telecontrol block was asked to select

        explicit Bench(kpsim::Options o = benchOptions()) : SimFixture(std::move(o))
        {
            core.Bench.SetOperator(&op);
            test.StartDelay = 5;
            test.CyclePacing = 5;
            test.RelayPause = 20;
            test.Now = [] { return QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)); };
            QObject::connect(&sim, &kpsim::KpSim::telecontrolSelected,
                             [this](int, int relay) { selected << relay; });
        }
        QStringList entries() const
        {
            QStringList all;
            for (int r = 0; r < test.TestActions.rowCount(); ++r)
                all << test.TestActions.cell(r, 1);
            return all;
        }
        // The log file's lines as written, each checked for its time and TAB.
        QStringList fileLines() const
        {
            QFile f(testlog::FileName(test.Now()));
            if (!f.open(QIODevice::ReadOnly))
                return {"no file"};
            const QByteArray bytes = f.readAll();
            if (!bytes.endsWith("\r\n"))
                return {"no CR LF at the end"};
            QStringList lines;
            const QByteArray head = LongTimeText(QTime(9, 5, 3)).toLatin1() + '\t';
            QList<QByteArray> all = bytes.split('\n');
            all.removeLast(); // what follows the last CR LF
            for (const QByteArray& line : all) {
                if (!line.startsWith(head) || !line.endsWith('\r'))
                    return {"bad line: " + QString::fromLatin1(line.toHex())};
                lines << FromCp1251(line.mid(head.size()).chopped(1));
            }
            return lines;
        }
        QStringList results() const
        {
            QStringList all;
            for (int r = 1; r <= ModuleTest::Relays; ++r)
                all << test.StringGrid1.cell(r, ModuleTest::ResultColumn);
            return all;
        }
    };

    std::unique_ptr<QTemporaryDir> dir_;
    QString cwd_;

    QString inDir(const QString& name) const { return dir_->filePath(name); }

private slots:
    void init()
    {
        eventwait::SetClosing(false);
        cwd_ = QDir::currentPath();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QDir::setCurrent(dir_->path()); // the logs go here
    }
    void cleanup() { QDir::setCurrent(cwd_); }

    void oneCycleEveryRelayPasses()
    {
        Bench b;
        QVERIFY(b.up());
        // The bench's blocks at address 0 are configured, whichever block the list shows.
        QSignalSpy buttons(&b.test, &ModuleTest::buttonsChanged);
        QSignalSpy window(&b.test, &ModuleTest::windowWanted);
        QElapsedTimer t;
        t.start();
        b.test.StartOrStop(1);
        QVERIFY2(t.elapsed() >= 32 * 20, qPrintable(QString::number(t.elapsed())));

        QStringList ok(32, "OK");
        QCOMPARE(b.results(), ok);
        for (int r = 1; r <= 32; ++r)
            for (int i = 1; i <= 32; ++i)
                QCOMPARE(b.test.StringGrid1.cell(r, i), i == r ? "0" : "1");
        QCOMPARE(b.selected.size(), 32);
        QCOMPARE(b.selected.last(), 32);
        for (const QString& kind : b.requestKinds())
            QVERIFY2(kind.contains("/0/"), qPrintable(kind));

        // The telecontrol entry was overwritten by the red announcement, which keeps its time.
        QCOMPARE(b.entries(),
                 QStringList({entry::TsStart, entry::TsDone, entry::TuStart, entry::Soon,
                              entry::Begin, "Цикл №1", entry::Passed, ""}));
        const ActionLog& log = b.test.TestActions;
        const QList<unsigned> colours = {
            ActionLog::Red,  ActionLog::Blue, ActionLog::Red,  ActionLog::Red,
            ActionLog::Blue, ActionLog::Blue, ActionLog::Blue, 0};
        for (int r = 0; r < colours.size(); ++r)
            QCOMPARE(log.colour(r), colours[r]);
        QCOMPARE(log.cell(3, 0), LongTimeText(QTime(9, 5, 3)));

        // The file: TestLogs/07-12-2026 09-05-03.log, every line with time and TAB.
        QVERIFY(QFileInfo::exists(inDir("TestLogs/07-12-2026 09-05-03.log")));
        QCOMPARE(b.test.LogFile, inDir("TestLogs/07-12-2026 09-05-03.log"));
        QCOMPARE(b.fileLines(),
                 QStringList({entry::Plan1, entry::TsStart, entry::TsDone, entry::TuStart,
                              entry::TuDone, entry::Soon, entry::Begin, "Цикл №1", entry::Passed}));

        // Both bench blocks hold the bench configuration.
        const QByteArray ts = b.block(kpsim::BlockType::Ts, 0).parameters();
        QCOMPARE(ts.left(12), QByteArray::fromHex("640000000000000000000000"));
        QCOMPARE(ts.mid(12, 64), QByteArray::fromHex("6400").repeated(32));
        const QByteArray tu = b.block(kpsim::BlockType::Tu, 0).parameters();
        QCOMPARE(tu.left(194), QByteArray::fromHex("0000") +
                                   QByteArray::fromHex("c800").repeated(32) +
                                   QByteArray(128, '\0'));

        QVERIFY(!b.test.TestRunning);
        QCOMPARE(b.test.ButtonTestCaption, "Новая проверка");
        QCOMPARE(b.test.ButtonTestBigCaption, "Новая проверка (30)");
        QVERIFY(b.test.ConfigButtonsEnabled);
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(window.size(), 1);
        QVERIFY(!b.core.Link.Operations.Busy());
    }

    // Faults of the bench: each failing relay has its entry; the run goes on to the end.
    void faultsOfTheBench_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QList<int>>("failing");
        QList<int> after7;
        for (int r = 8; r <= 32; ++r)
            after7 << r;
        QTest::newRow("relay 5 drives nothing") << "relay 5" << QList<int>{5};
        QTest::newRow("input 7 stays at 0 after its relay was released") << "input 7" << after7;
        QTest::newRow("table cleared before relay 3 is compared") << "cleared" << QList<int>{3};
    }
    void faultsOfTheBench()
    {
        QFETCH(QString, fault);
        QFETCH(QList<int>, failing);
        kpsim::Options o = benchOptions();
        if (fault == "relay 5")
            o.faultyRelays = {kpsim::RelayRef{0, 5}};
        Bench b(o);
        QVERIFY(b.up());
        int operated = 0;
        QObject::connect(&b.sim, &kpsim::KpSim::relaySwitched, [&](int, int relay, bool on) {
            if (on)
                operated = relay;
            if (fault == "input 7" && !on && relay == 7)
                b.block(kpsim::BlockType::Ts, 0).stickInputs(1u << 6);
        });
        // The result record comes after the inputs' change: the table is cleared just before
        // the comparison.
        QObject::connect(&b.core.Tc, &Telecontrol::tuEventAdded, [&](const QString& line) {
            if (fault == "cleared" && operated == 3 && line.startsWith("ТУ выполнено"))
                b.core.Tables.ClearStates();
        });
        b.test.StartOrStop(1);

        QStringList results(32, "OK");
        QStringList errorEntries;
        for (int r : failing) {
            results[r - 1] = "ERROR";
            errorEntries << QStringLiteral("ВНИМАНИЕ! Ошибка в реле %1").arg(r);
        }
        QCOMPARE(b.results(), results);
        const QStringList entries = b.entries();
        QCOMPARE(entries.filter("ВНИМАНИЕ!"), errorEntries);
        QCOMPARE(b.fileLines().filter("ВНИМАНИЕ!"), errorEntries);
        QCOMPARE(entries.at(entries.size() - 2), entry::Faults);
        QCOMPARE(b.test.TestActions.colour(entries.indexOf(errorEntries[0])),
                 unsigned(ActionLog::Red));

        if (fault == "relay 5") // input 5 still reads 1
            QCOMPARE(b.test.StringGrid1.cell(5, 5), "1");
        if (fault == "input 7")
            QCOMPARE(b.test.StringGrid1.cell(8, 7), "0");
        if (fault == "cleared") // an empty cell is shown empty, not as 0
            for (int i = 1; i <= 32; ++i)
                QCOMPARE(b.test.StringGrid1.cell(3, i), "");
    }

    // A stop is honoured at the next check point; the captions change back only after the
    // final entry.
    void stoppedDuringTheRun_data()
    {
        QTest::addColumn<bool>("bigButton");
        QTest::addColumn<bool>("duringStartWait");
        QTest::addColumn<QString>("stopEntry");
        QTest::addColumn<QString>("ending"); // as the protocol says it
        QTest::addColumn<int>("skipped");    // relays the JUnit report marks as not checked
        QTest::newRow("before relay 11")
            << false << false << "ВНИМАНИЕ! Проверка остановлена на реле 11"
            << "остановлена на реле 11 в цикле 1" << 22;
        QTest::newRow("by the other button")
            << true << false << "ВНИМАНИЕ! Проверка остановлена на реле 11"
            << "остановлена на реле 11 в цикле 1" << 22;
        QTest::newRow("during the start wait")
            << false << true << entry::Soon << "остановлена" << 32;
    }
    void stoppedDuringTheRun()
    {
        QFETCH(bool, bigButton);
        QFETCH(bool, duringStartWait);
        QFETCH(QString, stopEntry);
        QFETCH(QString, ending);
        QFETCH(int, skipped);
        Bench b;
        QVERIFY(b.up());
        b.test.StartDelay = 300;
        const auto stop = [&] {
            QCOMPARE(b.test.ButtonTestCaption, "Остановить проверку");
            QCOMPARE(b.test.ButtonTestBigCaption, "Остановить проверку");
            bigButton ? b.test.StartOrStop(30) : b.test.StartOrStop(1);
        };
        QObject::connect(&b.sim, &kpsim::KpSim::relaySwitched, [&](int, int relay, bool on) {
            if (!duringStartWait && on && relay == 10)
                stop();
        });
        QObject::connect(&b.sim, &kpsim::KpSim::configurationWritten, [&](int function, int) {
            if (duringStartWait && function == 0xC2)
                QTimer::singleShot(100, stop);
        });
        QStringList captionsAtEntries;
        QObject::connect(&b.test.TestActions, &QAbstractItemModel::rowsInserted,
                         [&] { captionsAtEntries << b.test.ButtonTestCaption; });
        b.test.RunModuleTest(30);

        const QStringList entries = b.entries();
        QCOMPARE(entries.mid(entries.size() - 3), QStringList({stopEntry, entry::Stopped, ""}));
        QCOMPARE(b.selected.size(), duringStartWait ? 0 : 10);
        QCOMPARE(captionsAtEntries.last(), "Остановить проверку");
        QCOMPARE(b.test.ButtonTestCaption, "Новая проверка");
        QVERIFY(!b.test.TestRunning);
        QCOMPARE(b.fileLines().last(), entry::Stopped);
        QCOMPARE(b.test.LastRun().EndingText(), ending);
        QCOMPARE(b.test.LastRun().Verdict(), "Проверка не закончена; среди проверенных реле "
                                             "неисправных нет");
        QVERIFY(junitreport::Xml(b.test.LastRun(), "host")
                    .contains(QStringLiteral("skipped=\"%1\"").arg(skipped).toUtf8()));
    }

    // A configuration write that fails ends the run; a telecontrol error entry is overwritten
    // at once by the announcement in the log, kept in the file, and nothing is waited for.
    void configurationFails_data()
    {
        QTest::addColumn<QString>("blocks");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("ending");
        QTest::newRow("telesignal")
            << "tu:0" << QStringList{entry::TsStart, entry::TsFailed, entry::Stopped, ""}
            << QStringList{entry::Plan1, entry::TsStart, entry::TsFailed, entry::Stopped}
            << "не записана конфигурация ТС";
        QTest::newRow("telecontrol")
            << "ts:0" << QStringList{entry::TsStart, entry::TsDone,  entry::TuStart,
                                     entry::Soon,    entry::Stopped, ""}
            << QStringList{entry::Plan1,    entry::TsStart, entry::TsDone, entry::TuStart,
                           entry::TuFailed, entry::Soon,    entry::Stopped}
            << "не записана конфигурация ТУ";
    }
    void configurationFails()
    {
        QFETCH(QString, blocks);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, lines);
        QFETCH(QString, ending);
        Bench b(benchOptions(blocks.toLatin1().constData()));
        QVERIFY(b.up());
        b.test.StartDelay = 10000;
        QElapsedTimer t;
        t.start();
        b.test.StartOrStop(1);
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(b.entries(), entries);
        QCOMPARE(b.fileLines(), lines);
        QCOMPARE(b.op.Messages,
                 QStringList{"Запись конфигурации: Нет ответа от блока! Повторите!"});
        QVERIFY(b.selected.isEmpty());
        // The telecontrol block is not written after a telesignal failure.
        QCOMPARE(b.requestKinds().filter("c2/").isEmpty(), blocks == "tu:0");
        QCOMPARE(b.test.ButtonTestCaption, "Новая проверка");
        QCOMPARE(b.test.LastRun().EndingText(), ending);
    }

    void atMostFiftyCycles()
    {
        Bench b;
        QVERIFY(b.up());
        b.test.CyclePacing = 0;
        b.test.RelayPause = 0;
        b.test.RunModuleTest(51);
        const QStringList lines = b.fileLines();
        QCOMPARE(lines.first(), "Начал проверку. Циклов по плану: 50");
        QCOMPARE(lines.filter("Цикл №").size(), 50);
        QCOMPARE(lines.filter("Цикл №").last(), "Цикл №50");
        QCOMPARE(lines.last(), entry::Passed);
        QCOMPARE(b.selected.size(), 50 * 32);
    }

    // Without its log file the run does not start: the operator is told what could not be
    // created and why, nothing is sent, the window stays as it was.
    void noLogFileNoRun_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<bool>("directory");
        QTest::newRow("directory") << "TestLogs" << false;
        QTest::newRow("file") << "TestLogs/07-12-2026 09-05-03.log" << true;
    }
    void noLogFileNoRun()
    {
        QFETCH(QString, blocker);
        QFETCH(bool, directory);
        if (directory) {
            QVERIFY(QDir().mkpath(blocker));
        } else {
            QFile f(blocker);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        Bench b;
        QVERIFY(b.up());
        QSignalSpy buttons(&b.test, &ModuleTest::buttonsChanged);
        QSignalSpy window(&b.test, &ModuleTest::windowWanted);
        b.test.StartOrStop(30);
        QCOMPARE(b.op.Messages.size(), 1);
        QVERIFY2(b.op.Messages[0].startsWith("Проверка модулей: Не удалось создать "),
                 qPrintable(b.op.Messages[0]));
        QVERIFY2(b.op.Messages[0].contains(inDir(blocker)), qPrintable(b.op.Messages[0]));
        QVERIFY(!b.test.TestRunning);
        QCOMPARE(b.test.ButtonTestCaption, "Запуск проверки");
        QCOMPARE(b.test.ButtonTestBigCaption, "Запуск проверки (30)");
        QVERIFY(b.test.ConfigButtonsEnabled);
        QCOMPARE(buttons.size(), 0);
        QCOMPARE(window.size(), 0);
        QCOMPARE(b.entries(), QStringList(5, ""));
        QTest::qWait(20);
        QVERIFY(b.requests.isEmpty());
        QVERIFY(!b.core.Link.Operations.Busy());
    }
};

QTEST_GUILESS_MAIN(TestModuleTest)
#include "tst_moduletest.moc"
