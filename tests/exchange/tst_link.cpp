// SPDX-License-Identifier: GPL-3.0-or-later
// The link core over loopback UDP: keep-alive, the timeout read afresh, binding.

#include "exchange/linkcore.h"
#include "exchange/tracelog.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

class TestLink : public QObject
{
    Q_OBJECT

    // A stand-in for the adapter: a socket on loopback that records what reaches it.
    struct Adapter {
        QUdpSocket socket;
        QList<QByteArray> got;
        QList<qint64> at;
        QElapsedTimer clock;
        Adapter()
        {
            socket.bind(QHostAddress::LocalHost, 0);
            clock.start();
            QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
                while (socket.hasPendingDatagrams()) {
                    got << socket.receiveDatagram().data();
                    at << clock.elapsed();
                }
            });
        }
    };

    static void aimAt(LinkCore& link, const Adapter& adapter)
    {
        link.settings.BaseIP = QStringLiteral("127.0.0.1");
        link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
        link.settings.BasePortD = QString::number(adapter.socket.localPort());
    }

private slots:
    void keepAliveOncePerSecondUntilUnchecked()
    {
        Adapter adapter;
        TraceLog trace;
        LinkCore link(trace);
        aimAt(link, adapter);
        QCOMPARE(link.Enable(true), QString());
        QCOMPARE(link.SocketData.state(), QAbstractSocket::BoundState);
        QCOMPARE(link.SocketData.localAddress(), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(link.SocketData.localPort() != 0);

        QTRY_COMPARE_WITH_TIMEOUT(adapter.got.size(), 3, 4000);
        for (const QByteArray& d : adapter.got)
            QCOMPARE(d, QByteArray::fromHex("8000"));
        for (int i = 1; i < adapter.at.size(); ++i) {
            const qint64 gap = adapter.at[i] - adapter.at[i - 1];
            QVERIFY2(gap > 850 && gap < 1250, qPrintable(QString::number(gap)));
        }
        // Each keep-alive is traced by the program with the grey note "ЗАПРОС".
        QCOMPARE(trace.NewestNote(), "ЗАПРОС");
        const QModelIndex note = trace.index(trace.NewestRow(), TraceLog::ColNote);
        QCOMPARE(trace.data(note, TraceLog::ColourRole).toUInt(), 0x808080u);
        QCOMPARE(trace.data(trace.index(trace.NewestRow(), 2), Qt::DisplayRole).toString(),
                 " 80 00");
        QCOMPARE(link.TxCount, 0u); // straight to the socket: not counted

        QCOMPARE(link.Enable(false), QString());
        const int sent = adapter.got.size();
        QTest::qWait(1500); // a silence is what is asserted here
        QCOMPARE(adapter.got.size(), sent);
    }

    void keepAliveSilentWhileLinkOpen()
    {
        Adapter adapter;
        TraceLog trace;
        LinkCore link(trace);
        aimAt(link, adapter);
        link.Timer4.setInterval(50);
        QCOMPARE(link.Enable(true), QString());
        QTRY_VERIFY(!adapter.got.isEmpty());
        link.SetLinkOpen(true);
        QTest::qWait(100);
        const int sent = adapter.got.size();
        QTest::qWait(300);
        QCOMPARE(adapter.got.size(), sent);
        link.SetLinkOpen(false); // lost link: the keep-alive resumes
        QTRY_VERIFY(adapter.got.size() > sent);
    }

    void blankAdapterAddressDoesNothing()
    {
        Adapter adapter;
        TraceLog trace;
        LinkCore link(trace);
        aimAt(link, adapter);
        link.settings.BaseIPadapter = QStringLiteral("   ");
        QCOMPARE(link.Enable(true), QString());
        QVERIFY(!link.Timer4.isActive());
        QCOMPARE(link.SocketData.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(trace.GridRowCount(), 3);
    }

    void badTimeoutStopsBeforeBinding()
    {
        Adapter adapter;
        TraceLog trace;
        LinkCore link(trace);
        aimAt(link, adapter);
        link.settings.Timeout = QStringLiteral("1o0");
        const QString error = link.Enable(true);
        QCOMPARE(error, "Время ожидания: «1o0» — не целое число.");
        QCOMPARE(link.SocketData.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!link.Timer4.isActive());

        link.settings.Timeout = QStringLiteral(" 250 "); // read afresh at the next check
        QCOMPARE(link.Enable(true), QString());
        QCOMPARE(link.Timer1.interval(), 250);
        QCOMPARE(link.Timer2.interval(), 1250);
        QVERIFY(link.Timer4.isActive());
    }

    void bindFailureReportsTheSocketError()
    {
        TraceLog trace;
        LinkCore link(trace);
        link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
        link.settings.BaseIP = QStringLiteral("192.0.2.1"); // not an address of this machine
        const QString error = link.Enable(true);
        QVERIFY(!error.isEmpty());
        QCOMPARE(link.SocketData.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!link.Timer4.isActive());

        link.settings.BaseIP = QStringLiteral("not an address");
        QVERIFY(link.Enable(true).contains("not an address"));
        QCOMPARE(link.SocketData.state(), QAbstractSocket::UnconnectedState);
    }

    void inactivityClosesTheLink()
    {
        TraceLog trace;
        LinkCore link(trace);
        QSignalSpy changes(&link, &LinkCore::linkStateChanged);
        link.TimerDisconnect.setInterval(100);
        link.SetLinkOpen(true);
        link.TimerDisconnect.start();
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY(!link.LinkOpen);
        QVERIFY(clock.elapsed() >= 90);
        QCOMPARE(changes.last().at(0).toBool(), false);
        QVERIFY(link.TimerDisconnect.isActive()); // not stopped by its own tick
    }

    void openSockBindsTheDataPort()
    {
        TraceLog trace;
        LinkCore link(trace);
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const quint16 port = probe.localPort();
        probe.close();
        link.settings.BaseIP = QStringLiteral("127.0.0.1");
        link.settings.BasePortD = QString::number(port);
        QCOMPARE(link.OpenDataPort(), QString());
        QCOMPARE(link.SocketData.localPort(), port);
    }

    void receivedDatagramsAreCountedAndTraced()
    {
        TraceLog trace;
        LinkCore link(trace);
        link.settings.BaseIP = QStringLiteral("127.0.0.1");
        link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
        QCOMPARE(link.Enable(true), QString());
        QList<QByteArray> seen;
        link.onDatagram = [&](const TPacket& d, const QHostAddress&) { seen << d; };
        QUdpSocket peer;
        peer.writeDatagram(QByteArray::fromHex("82000500"), QHostAddress::LocalHost,
                           link.SocketData.localPort());
        QTRY_COMPARE(seen.size(), 1);
        QCOMPARE(link.RxCount, 1u);
        QVERIFY(trace.data(trace.index(trace.NewestRow(), 0), Qt::DisplayRole)
                    .toString()
                    .startsWith("Тавена["));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
