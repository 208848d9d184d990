// SPDX-License-Identifier: GPL-3.0-or-later
// The link end to end against the simulated controlled point on loopback: the keep-alive brings
// the adapter's connection request, the link starts, requests get receipts and block replies.

#include "exchange/announcements.h"
#include "exchange/dispatcher.h"
#include "exchange/linkcore.h"
#include "exchange/tracelog.h"
#include "kpsim.h"

#include <QtTest>

class TestLinkUp : public QObject
{
    Q_OBJECT

    struct Program {
        TraceLog trace;
        LinkCore link{trace};
        ReceiveDispatcher dispatcher{link, trace};
        AdapterAnnouncements announcements{link, trace};

        explicit Program(quint16 simPort)
        {
            link.settings.BaseIP = QStringLiteral("127.0.0.1");
            link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
            link.settings.BasePortD = QString::number(simPort);
            link.settings.DebugMode = true;
            link.Timer4.setInterval(100); // a quicker keep-alive for the test
            link.onDatagram = [this](const TPacket& d, const QHostAddress& from) {
                dispatcher.Dispatch(d, from);
            };
            dispatcher.onAnnouncement = [this](const TPacket& d, const QHostAddress& from) {
                announcements.Handle(d, from);
            };
        }
        bool connect()
        {
            if (!link.Enable(true).isEmpty())
                return false;
            QElapsedTimer t;
            t.start();
            while (!link.LinkOpen && t.elapsed() < 3000)
                QTest::qWait(10);
            return link.LinkOpen;
        }
    };

    static kpsim::Options simOptions()
    {
        kpsim::Options o;
        o.port = 0;
        o.blocks = {{kpsim::BlockType::Ts, 0, {}}, {kpsim::BlockType::Tu, 3, {}}};
        return o;
    }

private slots:
    void linkComesUpAndBlocksAnswer()
    {
        kpsim::KpSim sim(simOptions());
        QVERIFY(sim.start());
        Program p(sim.localPort());
        QVERIFY(p.connect());
        QVERIFY(sim.linkStarted());
        QCOMPARE(p.link.CanChannel, 0);
        QVERIFY(p.announcements.ListAdapters.first().contains("STR:KpSim adapter"));

        // The version area of the telesignal block at address 0.
        QCOMPARE(p.link.SendAndWait(packet::Request(0xC4, 0x18, 0, 0x07, {0x80, 0x20})),
                 Reply::Answered);
        QByteArray version;
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(p.link.SendAndWait(packet::Request(0xC4, 0x18, 0, 0x06, {})), Reply::Answered);
            version += p.link.ReplyData->left(8);
        }
        QVERIFY2(version.startsWith("TS"), version.constData());
        QCOMPARE(p.link.TxSequence, 7u);
        QCOMPARE(p.trace.NewestNote(), "КВТ"); // the program acknowledged the reply

        // An absent block: receipt, no reply.
        QElapsedTimer t;
        t.start();
        QCOMPARE(p.link.SendAndWait(packet::Request(0xC8, 0x18, 5, 0x06, {})), Reply::NoAnswer);
        QVERIFY(t.elapsed() >= 1090);
        QVERIFY(p.link.LinkOpen);
        QVERIFY(sim.counters().receiptsExpected >= 7);
    }

    void km4AdapterGetsItsModeAndChannel()
    {
        kpsim::Options o = simOptions();
        o.versionMajor = 4;
        kpsim::KpSim sim(o);
        QVERIFY(sim.start());
        QSignalSpy modes(&sim, &kpsim::KpSim::linkStartReceived);
        Program p(sim.localPort());
        p.link.settings.Km4Cfg = 3; // "KM4 CAN1-50kb"
        QVERIFY(p.connect());
        QTRY_COMPARE(modes.size(), 1);
        QCOMPARE(modes[0][0].toInt(), 1);
        QCOMPARE(modes[0][1].value<char>(), 'S');
        QCOMPARE(p.link.CanChannel, 1);
        QCOMPARE(p.link.SendAndWait(packet::Request(0xC2, 0x18, 3, 0x0E, {0, 0})), Reply::Answered);
    }

    void lostReceiptsAreRetransmitted()
    {
        kpsim::KpSim sim(simOptions());
        QVERIFY(sim.start());
        Program p(sim.localPort());
        QVERIFY(p.connect());
        sim.faults().dropReceipts = 2;
        QCOMPARE(p.link.SendAndWait(packet::Request(0xC4, 0x18, 0, 0x0E, {0, 0})), Reply::Answered);
        QCOMPARE(p.link.TxSequence, 1u);
        QVERIFY(p.link.LinkOpen);
    }

    void silentAdapterLosesTheLink()
    {
        kpsim::KpSim sim(simOptions());
        QVERIFY(sim.start());
        Program p(sim.localPort());
        QVERIFY(p.connect());
        p.link.Timer4.stop();
        sim.faults().silent = true;
        QCOMPARE(p.link.SendAndWait(packet::Request(0xC4, 0x18, 0, 0x0E, {0, 0})), Reply::NoAnswer);
        QVERIFY(!p.link.LinkOpen);
        QTRY_COMPARE(sim.counters().requests, 6); // the sixth is not awaited by the program
    }

    void wrongSequenceNumbersAreRejected()
    {
        kpsim::KpSim sim(simOptions());
        QVERIFY(sim.start());
        Program p(sim.localPort());
        QVERIFY(p.connect());
        p.link.Timer4.stop();
        sim.faults().wrongReceiptSequence = true;
        (void)p.link.SendRequest(packet::Request(0xC4, 0x18, 0, 0x0E, {0, 0}));
        QVERIFY(!p.link.LinkOpen);
        QCOMPARE(p.link.TxSequence, 0u);
    }
};

QTEST_GUILESS_MAIN(TestLinkUp)
#include "tst_linkup.moc"
