// SPDX-License-Identifier: GPL-3.0-or-later
// The module test's action log and its log file: the empty row kept below the newest entry,
// the file's name, bytes and creation.

#include "support/cp1251.h"
#include "support/localtext.h"
#include "testbench/actionlog.h"
#include "testbench/testlog.h"

#include <QTemporaryDir>
#include <QtTest>

class TestTestLog : public QObject
{
    Q_OBJECT

    static QStringList texts(const ActionLog& log)
    {
        QStringList all;
        for (int r = 0; r < log.rowCount(); ++r)
            all << log.cell(r, 0) + "|" + log.cell(r, 1);
        return all;
    }

private slots:
    void actionLogKeepsOneEmptyRowBelowTheNewestEntry()
    {
        ActionLog log;
        QCOMPARE(log.columnCount(), 2);
        QCOMPARE(texts(log), QStringList(5, "|"));

        // An entry goes into the row above the one it adds.
        log.Append("10:00:00", "a", ActionLog::Red);
        QCOMPARE(texts(log), QStringList({"|", "|", "|", "|", "10:00:00|a", "|"}));
        QCOMPARE(log.colour(4), unsigned(ActionLog::Red));
        QCOMPARE(log.data(log.index(4, 1), ActionLog::ColourRole).toUInt(), 0xFF0000u);
        QVERIFY(!log.data(log.index(5, 1), ActionLog::ColourRole).isValid());

        // "Очистить лог" leaves one empty row; the next entry goes into it.
        log.Clear();
        QCOMPARE(texts(log), QStringList({"|"}));
        log.ReplaceLast("nothing to replace", ActionLog::Red);
        QCOMPARE(texts(log), QStringList({"|"}));
        log.Append("10:00:01", "b", ActionLog::Blue);
        log.Append("10:00:02", "c", ActionLog::Blue);
        QCOMPARE(texts(log), QStringList({"10:00:01|b", "10:00:02|c", "|"}));

        // The newest entry rewritten: its time stays, both cells turn red.
        log.ReplaceLast("d", ActionLog::Red);
        QCOMPARE(texts(log), QStringList({"10:00:01|b", "10:00:02|d", "|"}));
        QCOMPARE(log.colour(0), unsigned(ActionLog::Blue));
        QCOMPARE(log.colour(1), unsigned(ActionLog::Red));
    }

    void fileNameFromTheStart_data()
    {
        QTest::addColumn<QDateTime>("started");
        QTest::addColumn<QString>("name");
        QTest::newRow("morning") << QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3))
                                 << "TestLogs/07-12-2026 09-05-03.log";
        QTest::newRow("evening") << QDateTime(QDate(2027, 1, 31), QTime(23, 59, 59))
                                 << "TestLogs/31-01-2027 23-59-59.log";
    }
    void fileNameFromTheStart()
    {
        QFETCH(QDateTime, started);
        QFETCH(QString, name);
        QCOMPARE(testlog::FileName(started), name);
    }

    void fileCreatedEmptyThenAppendedLineByLine()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString name = "TestLogs/07-12-2026 09-05-03.log";
        QDir(dir.path()).mkpath("TestLogs");
        {
            QFile old(dir.filePath(name));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("left from before");
        }
        QString error;
        const auto path = testlog::Create(QDir(dir.path()), name, &error);
        QVERIFY2(path, qPrintable(error));
        QCOMPARE(*path, dir.filePath(name));
        QCOMPARE(QFileInfo(*path).size(), 0);

        const QTime time(9, 5, 3);
        testlog::AppendTestLog(*path, testlog::Line(time, "Цикл №1"));
        testlog::AppendTestLog(*path, "Ж");
        QFile f(*path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray expected = LongTimeText(time).toLatin1() + "\t" +
                                    QByteArray::fromHex("d6e8eaeb20b9") /* Цикл № */ + "1\r\n" +
                                    QByteArray::fromHex("c6") + "\r\n";
        QCOMPARE(f.readAll(), expected);

        // A line that cannot be written is dropped.
        testlog::AppendTestLog(dir.filePath("missing/x.log"), "lost");
        QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
    }

    // What cannot be created is named with its path and the reason.
    void creationFailures_data()
    {
        QTest::addColumn<QString>("blocker"); // a file, or a directory, where one is needed
        QTest::addColumn<bool>("blockerIsDirectory");
        QTest::addColumn<QString>("named");
        QTest::newRow("a file named TestLogs")
            << "TestLogs" << false << "Не удалось создать каталог журналов «%1/TestLogs»: ";
        QTest::newRow("a directory named as the log")
            << "TestLogs/07-12-2026 09-05-03.log" << true
            << "Не удалось создать файл журнала «%1/TestLogs/07-12-2026 09-05-03.log»: ";
    }
    void creationFailures()
    {
        QFETCH(QString, blocker);
        QFETCH(bool, blockerIsDirectory);
        QFETCH(QString, named);
        QTemporaryDir dir;
        if (blockerIsDirectory) {
            QVERIFY(QDir(dir.path()).mkpath(blocker));
        } else {
            QFile f(dir.filePath(blocker));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QString error;
        QVERIFY(!testlog::Create(QDir(dir.path()), "TestLogs/07-12-2026 09-05-03.log", &error));
        QVERIFY2(error.startsWith(named.arg(dir.path())), qPrintable(error));
        // The reason follows the path, then what became of the run.
        QVERIFY2(error.size() > named.arg(dir.path()).size() + 20, qPrintable(error));
        QVERIFY(error.endsWith("Проверка не начата."));
    }
};

QTEST_GUILESS_MAIN(TestTestLog)
#include "tst_testlog.moc"
