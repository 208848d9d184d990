// SPDX-License-Identifier: GPL-3.0-or-later
// Telecontrol: command bytes, the select-ready-execute-result exchange with its guard, the
// series over 32 relays, the result and diagnostic lines.

#include "exchange/linkfixture.h"
#include "fielddata/telecontrol.h"
#include "kpsim.h"
#include "support/eventwait.h"
#include "support/localtext.h"

#include <QLocale>

class TestTelecontrol : public QObject
{
    Q_OBJECT

    static QByteArray hex(const char* h) { return QByteArray::fromHex(h); }

    // The fixture with telecontrol registered as the main window registers it.
    struct Bench : LinkFixture {
        Telecontrol tc{link, trace};
        QList<QByteArray> requests; // numbered requests the program sent
        uint8_t seq = 0;
        Bench()
        {
            dispatcher.RegisterRecordHandler([this](const CanRecord& r) { tc.HandleRecord(r); });
            open();
        }
        // The block's records, from the adapter, in a numbered data datagram; a little after
        // the receipt, as the CAN bus brings them.
        void blockSendsLater(const QByteArray& records)
        {
            QTimer::singleShot(5, [this, records] { blockSends(records); });
        }
        void blockSends(const QByteArray& records)
        {
            QByteArray d = hex("00") + char(records.size()) + char(seq++) + char(0x19) + records;
            fromAdapter(d);
        }
        // Answers every request with a receipt, and runs `block` for it.
        void adapterAnswers(std::function<void(const QByteArray&)> block)
        {
            onSent = [this, block](const QByteArray& d) {
                if (d.size() < 4 || d[3] != 0x19)
                    return;
                requests << d;
                fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
                fromAdapter(packet::Bytes({0x83, 0x00, uint8_t(d[2])}));
                if (block)
                    block(d);
            };
        }
    };

    // Ready with coefficient 300; result done at 12:30:05 with number 250.
    static QByteArray ready(int b)
    {
        return hex("4218") + char(b) +
               hex("0303"
                   "00012c");
    }
    static QByteArray done(int b)
    {
        return hex("4218") + char(b) +
               hex("0108"
                   "0000") +
               hex("cdaf0000") /* 1970-01-01 12:30:05 */ + hex("fa00");
    }

private slots:
    void commandBytes()
    {
        QCOMPARE(Telecontrol::SelectCommand(5, 1), hex("00060019"
                                                       "421805000100"));
        QCOMPARE(Telecontrol::ExecuteCommand(5), hex("00060019"
                                                     "021805050100"));
        QCOMPARE(Telecontrol::SelectCommand(0, 256).mid(4), hex("421800ff0100"));
    }

    void readyThenExecuteThenResult()
    {
        Bench b;
        b.tc.Address = 5;
        b.tc.Relay = 1;
        b.adapterAnswers([&](const QByteArray& d) {
            if (uint8_t(d[4]) == 0x42)
                b.blockSendsLater(ready(5));
            else if (uint8_t(d[4]) == 0x02)
                b.blockSendsLater(done(5));
        });
        QVERIFY(b.tc.Operate());
        QCOMPARE(b.requests.size(), 2);
        QCOMPARE(b.requests[0].mid(4), hex("421805000100"));
        QCOMPARE(b.requests[1].mid(4), hex("021805050100"));
        QCOMPARE(b.tc.TuEvent,
                 QStringList({" Команда выдана", "Подготовка выполнена Коэф реле=300",
                              "Выдана команда исполнения",
                              "ТУ выполнено  Время =" + LongTimeText(QTime(12, 30, 5)) + "(250)"}));
        QVERIFY(!b.tc.Timer3.isActive());
        QVERIFY(!b.tc.TuPreparing);
        QVERIFY(b.tc.TuResultArrived);
        const QStringList notes = b.notes();
        QVERIFY(notes.contains("ТУ установить"));
        QVERIFY(notes.contains("ТУ Выполнить"));
        QVERIFY(!b.tc.Running());
    }

    void noReadyEndsAfterTheGuard()
    {
        Bench b;
        b.adapterAnswers(nullptr);
        QElapsedTimer t;
        t.start();
        QVERIFY(b.tc.Operate());
        QVERIFY2(t.elapsed() >= 2990 && t.elapsed() < 3250,
                 qPrintable(QString::number(t.elapsed())));
        QCOMPARE(b.tc.TuEvent, QStringList({" Команда выдана", " Нет ответа от блока!"}));
        QCOMPARE(b.requests.size(), 1); // no execute command without a ready record
        QVERIFY(!b.tc.Timer3.isActive());
    }

    void closedLinkEndsAfterTheGuardToo()
    {
        Bench b;
        b.link.SetLinkOpen(false);
        b.tc.Timer3.setInterval(200);
        QVERIFY(b.tc.Operate());
        QCOMPARE(b.tc.TuEvent.last(), " Нет ответа от блока!");
        QTest::qWait(30);
        QVERIFY(b.sent.isEmpty());
    }

    void allThirtyTwoRelaysInTurn()
    {
        Bench b;
        b.tc.Address = 2;
        b.tc.Relay = 17;
        QList<int> relays;
        QSignalSpy spin(&b.tc, &Telecontrol::relayChanged);
        b.adapterAnswers([&](const QByteArray& d) {
            if (uint8_t(d[4]) == 0x42) {
                relays << uint8_t(d[7]) + 1;
                b.blockSends(ready(2));
            } else {
                b.blockSends(done(2));
            }
        });
        b.tc.OperateAll();
        QCOMPARE(relays.size(), 32);
        for (int k = 0; k < 32; ++k)
            QCOMPARE(relays[k], k + 1);
        QCOMPARE(b.tc.Relay, 33);
        QCOMPARE(spin.last()[0].toInt(), 33);
        QCOMPARE(b.requests.size(), 64);
    }

    void failedRelayDoesNotStopTheSeries()
    {
        Bench b;
        b.tc.Timer3.setInterval(100);
        int selects = 0;
        b.adapterAnswers([&](const QByteArray& d) {
            if (uint8_t(d[4]) != 0x42)
                return b.blockSends(done(0));
            if (++selects != 3) // relay 3 stays silent
                b.blockSends(ready(0));
        });
        b.tc.OperateAll();
        QCOMPARE(selects, 32);
        QCOMPARE(b.tc.Relay, 33);
    }

    void secondCommandRefusedWhileOneRuns()
    {
        Bench b;
        b.adapterAnswers(nullptr);
        b.tc.Timer3.setInterval(300);
        bool nested = true;
        QTimer::singleShot(100, [&] { nested = b.tc.Operate(); });
        QVERIFY(b.tc.Operate());
        QVERIFY(!nested);
        QCOMPARE(b.requests.size(), 1);
    }

    // Another operation holding the channel refuses both buttons; closing the program in the
    // middle of "Включить все" ends it at once, with no further command and no event line.
    void refusedByAnotherOperationAndStoppedByClosing()
    {
        Bench b;
        b.adapterAnswers([&](const QByteArray& d) {
            if (uint8_t(d[4]) == 0x42 && uint8_t(d[7]) == 1) // relay 2 selected: the window closes
                eventwait::SetClosing(true);
            else if (uint8_t(d[4]) == 0x42)
                b.blockSends(ready(0));
            else
                b.blockSends(done(0));
        });
        {
            const auto discovery = b.link.Operations.Begin(QStringLiteral("поиск блоков"));
            QVERIFY(!b.tc.Operate());
            b.tc.OperateAll();
            QTest::qWait(30);
            QVERIFY(b.requests.isEmpty());
        }
        b.tc.OperateAll();
        const QStringList events = b.tc.TuEvent;
        eventwait::SetClosing(false);
        QTest::qWait(50);
        QCOMPARE(b.requests.size(), 3); // relay 1 selected and executed, relay 2 selected
        QCOMPARE(b.tc.Relay, 2);
        // Relay 1's lines stay: relay 2's command never started.
        QVERIFY2(events.size() > 1 && !events.contains(" Нет ответа от блока!"),
                 qPrintable(events.join('|')));
        QVERIFY(!b.tc.Timer3.isActive());
    }

    void resultErrorLines_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line2");
        const char* texts[] = {"(недопустимый адрес!)",
                               "(в конф-ции неправильный тип управления!)",
                               "(в конф-ции не указано время удержания!)",
                               "(аппаратный сбой - несоотвествие выбора реле!)",
                               "(аппаратный сбой - несоотвествие выбора реле!)",
                               "(малое сопротивление реле (замыкание)!)",
                               "(большое сопротивление реле (обрыв)!)",
                               "(не дождались команды подтветждения!)",
                               nullptr,
                               "(ошибка контрольных цепей БРП!)",
                               "(малое напряжение питания!)"};
        for (int s = 1; s <= 11; ++s)
            QTest::addRow("status %d", s)
                << s << (texts[s - 1] ? QString(texts[s - 1]) : QString("5 (9) Коэф реле=513"));
    }
    void resultErrorLines()
    {
        QFETCH(int, status);
        QFETCH(QString, line2);
        Bench b;
        b.blockSends(hex("42180401"
                         "04"
                         "00") +
                     char(status) + hex("0201"));
        QTRY_COMPARE(b.tc.TuEvent.size(), 2);
        QCOMPARE(b.tc.TuEvent[0], QString("Ошибка Блок = 5 (%1) Коэф реле=513").arg(status));
        QCOMPARE(b.tc.TuEvent[1], line2);
        QVERIFY(b.tc.TuResultArrived);
        QCOMPARE(
            b.trace.data(b.trace.index(b.trace.NewestRow() - 1, 1), Qt::DisplayRole).toString(),
            "ТУ ошибка");
    }

    void diagnosticItems()
    {
        Bench b;
        const QChar dp = QLocale::system().decimalPoint().at(0);
        // first form: temperature code 2000, voltage code 1350 (big-endian)
        b.blockSends(hex("42180202"
                         "04"
                         "07d0"
                         "0546"));
        QTRY_COMPARE(b.tc.BlockItems[2], QString("2 V=24") + dp + "1В T=66C");
        QVERIFY(b.tc.BlockChecked[2]);
        // second form replaces it: voltage = code / 10, temperature = code - 278
        b.blockSends(hex("42180208"
                         "04"
                         "0158"
                         "00f2"));
        QTRY_COMPARE(b.tc.BlockItems[2], QString("2 V=24") + dp + "2В T=66C");
        // a block above 7 and a short record change nothing
        b.blockSends(hex("42180902"
                         "04"
                         "07d0"
                         "0546"
                         "42180302"
                         "02"
                         "07d0"));
        QTRY_COMPARE(b.link.RxCount, 3u);
        QCOMPARE(b.tc.BlockItems[3], "3 Блок ТУ");
        QVERIFY(!b.tc.BlockChecked[3]);
    }

    void relaySwitchedInTheSimulatedBlock()
    {
        kpsim::Options o;
        o.port = 0;
        o.blocks = {{kpsim::BlockType::Tu, 3, {}}};
        kpsim::KpSim sim(o);
        QVERIFY(sim.start());
        QSignalSpy switched(&sim, &kpsim::KpSim::relaySwitched);
        Bench b;
        b.link.settings.BasePortD = QString::number(sim.localPort());
        b.link.settings.DebugMode = true;
        b.link.SetLinkOpen(false);
        b.link.Timer4.setInterval(50);
        QCOMPARE(b.link.Enable(true), QString());
        QTRY_VERIFY(b.link.LinkOpen);
        b.tc.Address = 3;
        b.tc.Relay = 7;
        QVERIFY(b.tc.Operate());
        // The simulated block answers at once, before the command's own lines are written.
        QVERIFY2(b.tc.TuEvent.join('|').contains("|ТУ выполнено  Время ="),
                 qPrintable(b.tc.TuEvent.join('|')));
        QVERIFY(!switched.isEmpty());
        QCOMPARE(switched.at(0), QVariantList({3, 7, true})); // block 3, relay 7, on
    }

    void recordsOutsideACommandOnlyShow()
    {
        Bench b;
        b.blockSends(ready(1));
        QTRY_COMPARE(b.tc.TuEvent, QStringList({"Подготовка выполнена Коэф реле=300"}));
        QTest::qWait(30);
        QCOMPARE(b.requests.size(), 0);
        // a result without its status byte is not reported as done
        b.blockSends(hex("42180101"
                         "01"
                         "00"));
        QTRY_COMPARE(b.tc.TuEvent.last(), "Ошибка Блок = 2 (неполная запись результата)");
    }
};

QTEST_GUILESS_MAIN(TestTelecontrol)
#include "tst_telecontrol.moc"
