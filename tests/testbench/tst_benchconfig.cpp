// SPDX-License-Identifier: GPL-3.0-or-later
// The bench configuration: the telesignal and telecontrol records byte for byte as the buttons
// write them, the chunk walk, the block they go to, a block that stops answering, and the
// buttons' log entries.

#include "blocks/blockservice.h"
#include "blocks/parametereditor.h"
#include "exchange/linkfixture.h"
#include "fielddata/livetables.h"
#include "fielddata/telecontrol.h"
#include "support/convert.h"
#include "support/localtext.h"
#include "support/operatorio.h"
#include "testbench/benchconfig.h"
#include "testbench/moduletest.h"

class TestBenchConfig : public QObject
{
    Q_OBJECT

    static QByteArray hex(const char* h) { return QByteArray::fromHex(h); }

    // The bench core facing the stand-in adapter, which acknowledges every request and answers
    // it as the block would, but for the one request it is told to leave unanswered.
    struct Bench : LinkFixture {
        LiveTables tables;
        Telecontrol tc{link, trace};
        BlockService blocks{link, trace};
        ParameterEditor editor{blocks}; // no block shown: the bytes the bench sets none of are 0
        BenchConfig config{blocks, editor};
        ModuleTest test{link, tc, tables, config};
        int address = 0; // the block last shown in the main window
        PolicyOperator op;
        QList<QByteArray> requests;
        int unanswered = -1; // index of the request the block does not answer
        uint8_t seq = 0;

        Bench()
        {
            config.SetOperator(&op);
            test.Now = [] { return QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9)); };
            open();
            onSent = [this](const QByteArray& d) {
                if (d.size() < 9 || uint8_t(d[3]) != 0x19)
                    return;
                fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
                fromAdapter(packet::Bytes({0x83, 0x00, uint8_t(d[2])}));
                if (int(requests.size()) != unanswered)
                    fromAdapter(hex("000d") + char(seq++) + char(0x19) + d.mid(4, 4) +
                                hex("080000000000000000"));
                requests << d;
            };
        }
        QStringList entries() const
        {
            QStringList all;
            for (int r = 0; r < test.TestActions.rowCount(); ++r)
                if (!test.TestActions.cell(r, 1).isEmpty())
                    all << test.TestActions.cell(r, 1);
            return all;
        }
        // The texts as the buttons read them, each with its edit's label.
        void click(const QString& kind, const QStringList& texts)
        {
            if (kind == "ts")
                test.ConfigureTs(address, {"Фильтрация (мсек)", texts[0]},
                                 {"Время цикла ТС (cек)", texts[1]});
            else
                test.ConfigureTu(address, {"Мин", texts[0]}, {"Макс", texts[1]},
                                 {"Удерж", texts[2]}, {"Тип", texts[3]});
        }
    };

    static QByteArray repeated(const char* h, int n) { return hex(h).repeated(n); }

private slots:
    // Texts as the buttons read them: entr, cycle time; minimum, maximum, hold, type.
    void recordsByteForByte_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QByteArray>("record"); // bytes the write sends
        const QByteArray tsHead = hex("6400"
                                      "0000"
                                      "00000000"
                                      "00000000");
        QTest::newRow("telesignal defaults")
            << "ts" << QStringList{"50", "100"} << tsHead + repeated("6400", 32) + hex("00000000");
        QTest::newRow("telesignal values kept in 16 bits")
            << "ts" << QStringList{"40000", "-1"}
            << hex("ffff"
                   "0000"
                   "00000000"
                   "00000000") +
                   repeated("8038", 32) + hex("00000000");
        QTest::newRow("telecontrol defaults")
            << "tu" << QStringList{"0", "0", "200", "0"}
            << hex("0000") + repeated("c800", 32) + repeated("00", 128) + hex("000000000000");
        QTest::newRow("telecontrol values kept in 16 bits")
            << "tu" << QStringList{"-2", "65535", "70000", "5"}
            << hex("0500") + repeated("7011", 32) + repeated("feff", 32) + repeated("ffff", 32) +
                   hex("000000000000");
    }
    void recordsByteForByte()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, texts);
        QFETCH(QByteArray, record);
        Bench b;
        b.click(kind, texts);

        const char f = kind == "ts" ? char(0xC4) : char(0xC2);
        const int chunks = int(record.size()) / 8;
        QCOMPARE(b.requests.size(), chunks + 2);
        for (int k = 0; k < chunks; ++k) {
            // Nothing was ever selected: the block at address 0. Only the first chunk starts.
            const QByteArray& d = b.requests[k];
            QCOMPARE(d.size(), 17);
            QCOMPARE(d.left(2), hex("000d"));
            QCOMPARE(d.mid(3, 6),
                     hex("19") + f + hex("1800") + (k == 0 ? '\x0b' : '\x01') + '\x08');
            QCOMPARE(d.mid(9), record.mid(8 * k, 8));
        }
        QCOMPARE(b.requests[chunks].mid(3), hex("19") + f + hex("18000200"));
        QCOMPARE(b.requests[chunks + 1].mid(3), hex("19") + f + hex("18000300"));
        QCOMPARE(b.requests[chunks].left(2), hex("0005"));
        QVERIFY(b.op.Messages.isEmpty());
        QCOMPARE(b.op.BusyCount, 1);
        QVERIFY(!b.op.BusyShown);

        const QString what = kind == "ts" ? "ТС" : "ТУ";
        QCOMPARE(b.entries(), QStringList({"Начинаю запись конфигурации " + what,
                                           "Конфигурация " + what + " записана"}));
        const ActionLog& log = b.test.TestActions;
        QCOMPARE(log.rowCount(), 7); // the five empty rows, two entries, the empty row below
        QCOMPARE(log.cell(4, 0), LongTimeText(QTime(14, 5, 9)));
        QCOMPARE(log.colour(4), unsigned(ActionLog::Red));
        QCOMPARE(log.colour(5), unsigned(ActionLog::Blue));
    }

    void theSelectedBlockIsWritten()
    {
        Bench b;
        b.address = 5;
        b.click("tu", {"0", "0", "200", "0"});
        QCOMPARE(b.requests.size(), 27);
        for (const QByteArray& d : b.requests)
            QCOMPARE(uint8_t(d[6]), 5);
    }

    // The write stops at the request the block leaves unanswered; the completion's outcome
    // does not matter. The entry after the write comes whatever its result.
    void aBlockThatStopsAnswering_data()
    {
        QTest::addColumn<int>("unanswered");
        QTest::addColumn<int>("sent");
        QTest::addColumn<bool>("told");
        QTest::newRow("first chunk") << 0 << 1 << true;
        QTest::newRow("sixth chunk") << 5 << 6 << true;
        QTest::newRow("write end") << 10 << 11 << true;
        QTest::newRow("completion") << 11 << 12 << false;
    }
    void aBlockThatStopsAnswering()
    {
        QFETCH(int, unanswered);
        QFETCH(int, sent);
        QFETCH(bool, told);
        Bench b;
        b.unanswered = unanswered;
        b.click("ts", {"50", "100"});
        QCOMPARE(b.requests.size(), sent);
        QCOMPARE(b.op.Messages,
                 told ? QStringList{"Запись конфигурации: Нет ответа от блока! Повторите!"}
                      : QStringList{});
        QVERIFY(!b.op.BusyShown);
        QCOMPARE(b.entries(),
                 QStringList({"Начинаю запись конфигурации ТС", "Конфигурация ТС записана"}));
    }

    void aTextThatIsNoIntegerStopsBeforeSending_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("wrong");
        QTest::newRow("filter") << "ts" << QStringList{"5x", "100"}
                                << "Фильтрация (мсек): «5x» — не целое число.";
        QTest::newRow("cycle time")
            << "ts" << QStringList{"50", ""} << "Время цикла ТС (cек): «» — не целое число.";
        QTest::newRow("minimum") << "tu" << QStringList{"a", "0", "200", "0"}
                                 << "Мин: «a» — не целое число.";
        QTest::newRow("type") << "tu" << QStringList{"0", "0", "200", "1.5"}
                              << "Тип: «1.5» — не целое число.";
    }
    void aTextThatIsNoIntegerStopsBeforeSending()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, texts);
        QFETCH(QString, wrong);
        Bench b;
        b.click(kind, texts);
        QTest::qWait(20);
        QVERIFY(b.sent.isEmpty());
        QCOMPARE(b.op.Messages, QStringList{"Ошибка ввода: " + wrong});
        QCOMPARE(b.entries().size(), 1); // the start entry stays
    }

    void refusedWhileAnotherOperationRuns()
    {
        Bench b;
        const auto other = b.link.Operations.Begin("поиск блоков");
        QSignalSpy refused(&b.link.Operations, &OperationGuard::refused);
        b.click("ts", {"50", "100"});
        b.test.RunModuleTest(1);
        QCOMPARE(refused.size(), 2);
        QTest::qWait(20);
        QVERIFY(b.sent.isEmpty());
        QVERIFY(b.entries().isEmpty());
        QVERIFY(!b.test.TestRunning);
    }
};

QTEST_GUILESS_MAIN(TestBenchConfig)
#include "tst_benchconfig.moc"
