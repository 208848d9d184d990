// SPDX-License-Identifier: GPL-3.0-or-later
// The request channel: stamping, receipts, retransmission timing, the reply wait, receipts the
// program sends, and the counters.

#include "linkfixture.h"
#include "support/eventwait.h"

class TestRequestChannel : public QObject
{
    Q_OBJECT

    static TPacket probe() { return packet::Request(0xC4, 0x18, 3, 0x06, {}); }

private slots:
    void receiptInTimeGivesOneTransmissionAndTheNextNumber()
    {
        LinkFixture f;
        f.open(1);
        f.onSent = [&](const QByteArray& d) {
            f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
        };
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done);
        QCOMPARE(f.sent.size(), 1);
        QCOMPARE(f.sent[0], QByteArray::fromHex("010500"
                                                "19"
                                                "c4180306"
                                                "00"));
        QCOMPARE(f.link.TxSequence, 1u);
        QVERIFY(f.link.ReceiptArrived);
        QCOMPARE(f.link.LastRequest, f.sent[0]);

        f.link.TransmissionReported();
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done);
        QCOMPARE(f.sent.size(), 2);
        QCOMPARE(uint8_t(f.sent[1][2]), 1);
        QCOMPARE(f.link.TxSequence, 2u);
        QCOMPARE(f.link.TxCount, 2u);
        QVERIFY(f.notes().contains("КВТ"));
    }

    void sequenceWrapsFrom255To0OnTheWire()
    {
        LinkFixture f;
        f.open();
        f.advanceSequence(255);
        f.onSent = [&](const QByteArray& d) {
            f.fromAdapter(packet::Bytes({0x22, 0x00, uint8_t(d[2])})); // bit 0x20: a receipt too
            f.fromAdapter(packet::Bytes({0x83, 0x00, uint8_t(d[2])}));
        };
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done);
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done);
        QCOMPARE(f.sent.size(), 2);
        QCOMPARE(uint8_t(f.sent[0][2]), 255);
        QCOMPARE(uint8_t(f.sent[1][2]), 0);
        QCOMPARE(f.link.TxSequence, 257u);
    }

    void noReceiptRetransmitsAtDoublingIntervalsThenLosesTheLink()
    {
        LinkFixture f;
        f.open();
        QElapsedTimer t;
        t.start();
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done);
        const qint64 returned = t.elapsed();
        QTest::qWait(200); // late datagrams would show here
        QCOMPARE(f.sent.size(), 6);
        const qint64 expected[] = {0, 100, 300, 700, 1500, 3100};
        for (int i = 0; i < 6; ++i) {
            const qint64 at = f.sentAt[i] - f.sentAt[0];
            QVERIFY2(qAbs(at - expected[i]) <= 60, qPrintable(QString("%1: %2").arg(i).arg(at)));
            QCOMPARE(f.sent[i], f.sent[0]); // one sequence number for all
        }
        QVERIFY2(qAbs(returned - 3100) <= 80, qPrintable(QString::number(returned)));
        QVERIFY(!f.link.LinkOpen);
        QCOMPARE(f.notes().count("Повтор пакета!"), 5);
        QCOMPARE(f.trace.NewestNote(), "Разрыв соединения!");
        QVERIFY(f.cell(f.trace.NewestRow(), 2).isEmpty());
        QCOMPARE(f.link.TxSequence, 0u);
        QCOMPARE(f.link.Timer1.interval(), 3200); // left running with the last doubled interval
    }

    void staleReceiptIsAnErrorAndRetransmissionGoesOn()
    {
        LinkFixture f;
        f.open();
        f.advanceSequence(7);
        f.onSent = [&](const QByteArray& d) {
            if (f.sent.size() == 1)
                f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2] - 1)}));
            else
                f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
        };
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done);
        QCOMPARE(f.sent.size(), 2);
        QVERIFY(f.notes().contains("ERR КВТ"));
        QCOMPARE(f.notes().count("Повтор пакета!"), 1);
        QCOMPARE(f.link.TxSequence, 8u);
        QVERIFY(f.link.LinkOpen);
    }

    void pacingWaitsForTheTransmissionReport()
    {
        LinkFixture f;
        f.open();
        f.link.settings.Timeout = QStringLiteral("400");
        f.onSent = [&](const QByteArray& d) {
            f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
        };
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done); // receipt, but no transmission report
        QVERIFY(!f.link.TransmitDone);
        QTimer::singleShot(50, [&] { f.fromAdapter(packet::Bytes({0x83, 0x00, 0x00})); });
        QElapsedTimer t;
        t.start();
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done);
        QVERIFY2(t.elapsed() < 300, qPrintable(QString::number(t.elapsed()))); // released by 0x83
        QVERIFY(f.notes().contains("Передано"));

        t.restart();
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done); // no report: waits out the timeout
        QVERIFY2(t.elapsed() >= 390, qPrintable(QString::number(t.elapsed())));
    }

    void sendAndWait_data()
    {
        QTest::addColumn<bool>("receipt");
        QTest::addColumn<bool>("reply");
        QTest::addColumn<bool>("replyFirst");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("receipt and reply") << true << true << false << true << 0 << 300;
        QTest::newRow("reply before receipt") << true << true << true << true << 0 << 300;
        QTest::newRow("receipt only") << true << false << false << false << 1080 << 1250;
        QTest::newRow("nothing") << false << false << false << false << 3050 << 3300;
    }
    void sendAndWait()
    {
        QFETCH(bool, receipt);
        QFETCH(bool, reply);
        QFETCH(bool, replyFirst);
        QFETCH(bool, result);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        LinkFixture f;
        f.open();
        const QByteArray replyDatagram = QByteArray::fromHex("00"
                                                             "0e"
                                                             "05"
                                                             "19"
                                                             "c4180306"
                                                             "08"
                                                             "3132333435363738");
        f.onSent = [&](const QByteArray& d) {
            if (reply && replyFirst)
                f.fromAdapter(replyDatagram);
            if (receipt)
                f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
            if (reply && !replyFirst)
                f.fromAdapter(replyDatagram);
        };
        QElapsedTimer t;
        t.start();
        QCOMPARE(f.link.SendAndWait(probe()), result ? Reply::Answered : Reply::NoAnswer);
        QVERIFY2(t.elapsed() >= minMs && t.elapsed() <= maxMs,
                 qPrintable(QString::number(t.elapsed())));
        if (result)
            QCOMPARE(f.link.ReplyData->left(9), QByteArray("12345678") + '\0');
        QCOMPARE(f.link.LinkOpen, receipt);
    }

    void sendAndWaitWithTheLinkClosed()
    {
        LinkFixture f;
        QElapsedTimer t;
        t.start();
        QCOMPARE(f.link.SendAndWait(probe()), Reply::NoAnswer);
        QVERIFY2(t.elapsed() >= 1090 && t.elapsed() <= 1250,
                 qPrintable(QString::number(t.elapsed())));
        QCOMPARE(f.link.TxCount, 1u);
        QTest::qWait(50);
        QVERIFY(f.sent.isEmpty());
        QCOMPARE(f.trace.GridRowCount(), 3);
    }

    void badTimeoutStopsBeforeSending()
    {
        LinkFixture f;
        f.open();
        f.link.settings.Timeout = QStringLiteral("x1");
        QSignalSpy errors(&f.link, &LinkCore::operatorError);
        QCOMPARE(f.link.SendAndWait(probe()), Reply::Stopped);
        QCOMPARE(f.link.SendRequest(probe()), Sent::Stopped);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors[0][0].toString(), "Время ожидания: «x1» — не целое число.");
        QTest::qWait(50);
        QVERIFY(f.sent.isEmpty());
    }

    void replyGoesOutOnceUnchangedAndGrey()
    {
        LinkFixture f;
        f.link.SendReply(packet::Receipt(9)); // link closed: only counted
        QCOMPARE(f.link.TxCount, 1u);
        f.open();
        f.link.SendReply(packet::Receipt(9));
        QTRY_COMPARE(f.sent.size(), 1);
        QCOMPARE(f.sent[0], QByteArray::fromHex("820109"));
        QCOMPARE(f.trace.NewestNote(), "КВТ");
        QCOMPARE(f.trace.data(f.trace.index(f.trace.NewestRow(), 1), TraceLog::ColourRole).toUInt(),
                 0x808080u);
        // "Прослушка": sent, but not traced.
        f.trace.Listen = true;
        const int rows = f.trace.GridRowCount();
        f.link.SendReply(packet::Receipt(10));
        QTRY_COMPARE(f.sent.size(), 2);
        QCOMPARE(f.trace.GridRowCount(), rows);
        QCOMPARE(f.link.TxCount, 3u);
    }

    // What the channel refuses before anything is sent, and the intervals it derives from a
    // timeout near what a timer holds: never negative, never past the timer's limit.
    void timeoutsThatCannotBeHonouredAreRefused_data()
    {
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("message");
        QTest::newRow("negative") << "-1"
                                  << "не может быть отрицательным";
        QTest::newRow("past a timer") << "2147483648"
                                      << "больше наибольшего возможного";
    }
    void timeoutsThatCannotBeHonouredAreRefused()
    {
        QFETCH(QString, timeout);
        QFETCH(QString, message);
        LinkFixture f;
        f.open();
        f.link.settings.Timeout = timeout;
        QSignalSpy errors(&f.link, &LinkCore::operatorError);
        QCOMPARE(f.link.SendAndWait(probe()), Reply::Stopped);
        QCOMPARE(f.link.SendRequest(probe()), Sent::Stopped);
        QCOMPARE(f.link.Enable(true).contains(message), true);
        QCOMPARE(errors.size(), 2);
        QVERIFY2(errors[0][0].toString().contains(message), qPrintable(errors[0][0].toString()));
        QTest::qWait(50);
        QVERIFY(f.sent.isEmpty());
        QCOMPARE(f.trace.GridRowCount(), 3);
    }

    void largeTimeoutsGiveCappedIntervals()
    {
        LinkFixture f;
        f.link.settings.Timeout = QStringLiteral("999999999");
        QCOMPARE(f.link.Enable(true), QString());
        QCOMPARE(f.link.Timer1.interval(), 999999999);
        QCOMPARE(f.link.Timer2.interval(), LinkCore::MaxTimerInterval); // five times, capped

        // The reply guard, and the doubled receipt timeout after a missing receipt (its expiry
        // is played by stopping the timer).
        f.open();
        f.link.settings.Timeout = QString::number(LinkCore::MaxTimerInterval - 10);
        int guard = 0, doubled = 0;
        f.onSent = [&](const QByteArray&) {
            if (f.sent.size() == 1) {
                guard = f.link.Timer2.interval();
                QTimer::singleShot(0, [&] { f.link.Timer1.stop(); });
            } else {
                doubled = f.link.Timer1.interval();
                QTimer::singleShot(0, [] { eventwait::SetClosing(true); });
            }
        };
        QCOMPARE(f.link.SendAndWait(probe()), Reply::Stopped);
        eventwait::SetClosing(false);
        QCOMPARE(guard, LinkCore::MaxTimerInterval);
        QCOMPARE(doubled, LinkCore::MaxTimerInterval);
        QVERIFY(f.link.Timer1.interval() > 0);
    }

    // The guard that keeps operations from sharing the channel.
    void oneOperationAtATime()
    {
        OperationGuard guard;
        QSignalSpy refused(&guard, &OperationGuard::refused);
        {
            const auto first = guard.Begin(QStringLiteral("поиск блоков"));
            QVERIFY(first);
            QVERIFY(guard.Busy());
            QVERIFY(!guard.Begin(QStringLiteral("телеуправление")));
            QCOMPARE(refused.size(), 1);
            QCOMPARE(refused[0][0].toString(), "Дождитесь завершения: идёт поиск блоков");
        }
        QVERIFY(!guard.Busy());
        QVERIFY(guard.Begin(QStringLiteral("телеуправление")));
        QCOMPARE(refused.size(), 1);
    }

    // An adapter given by its host name is sent to once the name is known, and its receipts
    // count; a name that does not resolve is said, and nothing is sent.
    void adapterByHostName()
    {
        LinkFixture f;
        f.open();
        f.link.settings.BaseIPadapter = QStringLiteral("localhost");
        f.onSent = [&](const QByteArray& d) {
            f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
        };
        QCOMPARE(f.link.SendRequest(probe()), Sent::Done);
        QCOMPARE(f.sent.size(), 1);
        QVERIFY(f.link.ReceiptArrived);

        QSignalSpy unresolved(&f.link, &LinkCore::adapterUnresolved);
        f.link.settings.BaseIPadapter = QStringLiteral("no-such-adapter.invalid");
        QVERIFY(f.link.SendToAdapter(packet::Bytes({0x80, 0x00})));
        QVERIFY(unresolved.wait(10000));
        QVERIFY2(unresolved[0][0].toString().contains("no-such-adapter.invalid"),
                 qPrintable(unresolved[0][0].toString()));
        QTest::qWait(50);
        QCOMPARE(f.sent.size(), 1);
    }

    void closingEndsAWaitWithoutSendingMore()
    {
        LinkFixture f;
        f.open();
        QTimer::singleShot(150, [] { eventwait::SetClosing(true); });
        QElapsedTimer t;
        t.start();
        QCOMPARE(f.link.SendAndWait(probe()), Reply::Stopped);
        eventwait::SetClosing(false);
        QVERIFY(t.elapsed() < 400);
        // Once closing, nothing more is sent, counted or traced.
        eventwait::SetClosing(true);
        const int rows = f.trace.GridRowCount();
        QCOMPARE(f.link.SendRequest(probe()), Sent::Stopped);
        QCOMPARE(f.link.SendAndWait(probe()), Reply::Stopped);
        f.link.SendReply(packet::Receipt(1));
        eventwait::SetClosing(false);
        QTest::qWait(400);
        QCOMPARE(f.sent.size(), 2); // the first and one retransmission, nothing after closing
        QCOMPARE(f.trace.GridRowCount(), rows);
    }
};

QTEST_GUILESS_MAIN(TestRequestChannel)
#include "tst_requestchannel.moc"
