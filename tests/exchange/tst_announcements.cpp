// SPDX-License-Identifier: GPL-3.0-or-later
// Adapter announcements: the adapter list, the address reply, the link start with its CAN mode
// message, the clock setting request.

#include "linkfixture.h"
#include "support/eventwait.h"

#include <QDateTime>

class TestAnnouncements : public QObject
{
    Q_OBJECT

    static QByteArray hex(const char* h) { return QByteArray::fromHex(h); }
    static const QHostAddress& adapter()
    {
        static const QHostAddress a(QStringLiteral("127.0.0.1"));
        return a;
    }
    // Address request of version 3.7 from MAC 0A:1B:2C:3D:4E:5F holding 192.168.1.50.
    static QByteArray addressRequest(const QByteArray& text = "KM3\0junk")
    {
        return hex("800002"
                   "0307"
                   "0a1b2c3d4e5f"
                   "c0a80132") +
               text;
    }

private slots:
    void listEntries()
    {
        LinkFixture f;
        f.link.settings.Connect = false;
        f.link.Receive(addressRequest(), adapter());
        f.link.Receive(addressRequest(), adapter()); // identical: one line
        f.link.Receive(hex("8000010402"
                           "d8ebfee7") +
                           " CAN", // "Шлюз" in code page 1251
                       QHostAddress("127.0.0.5"));
        QCOMPARE(
            f.announcements.ListAdapters,
            QStringList({"IP: 127.0.0.1 v:3.7 ( MAC:0A:1B:2C:3D:4E:5F IP:192.168.1.50 STR:KM3 )",
                         "IP: 127.0.0.5 v:4.2 ( STR:Шлюз CAN )"}));
        QCOMPARE(f.announcements.ListAdaptersChecked, QList<bool>({false, false}));
        QCOMPARE(f.cell(1, TraceLog::ColNote), "Запрос Адреса");
        QCOMPARE(f.trace.NewestNote(), "Запрос соединения");
        QVERIFY(!f.link.LinkOpen);
    }

    void textEndsAtZeroOrAfter126Characters()
    {
        LinkFixture f;
        f.link.settings.Connect = false;
        f.link.Receive(hex("8000010100") + QByteArray(200, 'A'), adapter());
        QCOMPARE(f.announcements.ListAdapters.last(),
                 "IP: 127.0.0.1 v:1.0 ( STR:" + QString(126, 'A') + " )");
    }

    void shortAnnouncementsAreHarmless()
    {
        LinkFixture f;
        for (const char* h : {"80", "8000", "800002", "80000203070a1b2c3d4e5fc0a801", "80000104"})
            f.link.Receive(hex(h), adapter());
        QVERIFY(f.announcements.ListAdapters.isEmpty());
        QVERIFY(!f.link.LinkOpen);
        QCOMPARE(f.link.RxCount, 5u);
    }

    void addressReplyByteByByte()
    {
        LinkFixture f;
        f.link.settings.BaseGW = QStringLiteral("192.168.1.1");
        f.link.settings.BaseMask = QStringLiteral("255.255.255.0");
        f.link.settings.BaseIPadapter = QStringLiteral("192.168.1.50");
        f.link.settings.BaseIP = QStringLiteral("192.168.1.10");
        const uint8_t mac[6] = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
        const TPacket reply = f.announcements.AddressReply(mac);
        QCOMPARE(reply.size(), 58);
        QCOMPARE(reply.left(25), hex("813702"
                                     "c0a80101"
                                     "ffffff00"
                                     "0a1b2c3d4e5f"
                                     "c0a80132"
                                     "c0a8010a"));
        QCOMPARE(reply.mid(25), QByteArray(33, ' '));

        // Fields that do not read as four numbers are sent as zeros, never leftovers.
        f.link.settings.BaseGW = QString();                     // the usual empty gateway
        f.link.settings.BaseMask = QStringLiteral("255.255.0"); // reads only in part
        f.link.settings.BaseIP = QStringLiteral("10.0.0.300");  // low byte of 300 is 44
        const TPacket mended = f.announcements.AddressReply(mac);
        QCOMPARE(mended.mid(3, 8), hex("0000000000000000"));
        QCOMPARE(mended.mid(21, 4), hex("0a00002c"));
    }

    void addressRequestAnsweredOnlyForTheConfiguredMac()
    {
        // The reply is a broadcast to 255.255.255.255: only inside a private network namespace.
        if (qEnvironmentVariable("TAVENA_PRIVATE_NET") != QLatin1String("1"))
            QSKIP("needs a private network namespace (TAVENA_PRIVATE_NET=1)");
        LinkFixture f;
        QUdpSocket listener;
        QVERIFY(listener.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::ShareAddress));
        f.link.settings.BasePortD = QString::number(listener.localPort());
        f.link.settings.BaseMacAdapter = QStringLiteral("0A:1B:2C:3D:4E:5F");
        f.link.settings.BaseGW = QString();
        f.link.Receive(addressRequest(), adapter());
        QVERIFY(listener.waitForReadyRead(2000));
        const QByteArray reply = listener.receiveDatagram().data();
        QCOMPARE(reply.size(), 58);
        QCOMPARE(reply.left(25), hex("813702"
                                     "00000000"
                                     "ffffff00"
                                     "0a1b2c3d4e5f"
                                     "7f000001"
                                     "7f000001"));
        QCOMPARE(f.trace.NewestNote(), "Адрес");
        QVERIFY(f.cell(f.trace.NewestRow(), 0).startsWith("<- ["));
        QVERIFY(f.announcements.ListAdaptersChecked[0]);
        QCOMPARE(f.link.TxCount, 0u); // straight to the socket, not counted
    }

    void addressRequestNotAnswered_data()
    {
        QTest::addColumn<bool>("connect");
        QTest::addColumn<QString>("mac");
        QTest::newRow("exchange not allowed") << false << "0A:1B:2C:3D:4E:5F";
        QTest::newRow("lower-case MAC") << true << "0a:1b:2c:3d:4e:5f";
        QTest::newRow("other MAC") << true << "0A:1B:2C:3D:4E:50";
    }
    void addressRequestNotAnswered()
    {
        QFETCH(bool, connect);
        QFETCH(QString, mac);
        LinkFixture f;
        f.link.settings.Connect = connect;
        f.link.settings.BaseMacAdapter = mac;
        const int rows = f.trace.GridRowCount();
        f.link.Receive(addressRequest(), adapter());
        QCOMPARE(f.trace.GridRowCount(), rows + 1); // the request's own row, no reply row
        QCOMPARE(f.announcements.ListAdaptersChecked[0], connect);
    }

    void linkStartMessages_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("km4");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("channel");
        QTest::newRow("version 3") << 3 << 1 << hex("8100") << 0;
        QTest::newRow("KM4 CAN0-500kb") << 4 << 0 << hex("8100") + "C1M " + '\0' << 0;
        QTest::newRow("KM4 CAN1-500kb") << 4 << 1 << hex("8100") + "C2M " + '\0' << 1;
        QTest::newRow("KM4 CAN0-50kb") << 4 << 2 << hex("8100") + "C1S " + '\0' << 0;
        QTest::newRow("KM4 CAN1-50kb") << 4 << 3 << hex("8100") + "C2S " + '\0' << 1;
        QTest::newRow("KM4 empty item") << 4 << 4 << QByteArray() << 1;
        QTest::newRow("KM4 no item") << 4 << -1 << QByteArray() << 1;
    }
    void linkStartMessages()
    {
        QFETCH(int, major);
        QFETCH(int, km4);
        QFETCH(QByteArray, message);
        QFETCH(int, channel);
        LinkFixture f;
        f.link.settings.DebugMode = true; // the trace stays on after the link start
        f.open(1);                        // the channel is kept when no message is sent
        f.advanceSequence(77);
        f.link.settings.Km4Cfg = km4;
        QSignalSpy started(&f.announcements, &AdapterAnnouncements::linkStarted);
        QByteArray request = hex("8000010000") + "adapter";
        request[3] = char(major);
        f.link.Receive(request, adapter());
        QVERIFY(f.link.LinkOpen);
        QCOMPARE(f.link.TxSequence, 0u);
        QVERIFY(f.link.TransmitDone);
        QVERIFY(f.link.TimerDisconnect.isActive());
        QCOMPARE(started.size(), 1);
        QCOMPARE(f.link.CanChannel, channel);
        if (message.isEmpty()) {
            QTest::qWait(30);
            QVERIFY(f.sent.isEmpty());
            QCOMPARE(f.trace.NewestNote(), "Соединение"); // on the announcement's row
            QVERIFY(f.cell(f.trace.NewestRow(), 0).startsWith("Тавена"));
        } else {
            QTRY_COMPARE(f.sent.size(), 1);
            QCOMPARE(f.sent[0], message);
            QCOMPARE(f.trace.NewestNote(), "Соединение"); // replaces the message's "КВТ"
            QVERIFY(f.cell(f.trace.NewestRow(), 0).startsWith("КОМП"));
            QCOMPARE(f.cell(f.trace.NewestRow() - 1, TraceLog::ColNote), "Запрос соединения");
        }
    }

    void channelOneStampsRequestsAndFiltersData()
    {
        LinkFixture f;
        f.link.settings.Km4Cfg = 3;
        f.link.Receive(hex("8000010400"), adapter());
        QCOMPARE(f.link.CanChannel, 1);
        f.onSent = [&](const QByteArray& d) {
            if (d.size() > 3 && d[3] == 0x19)
                f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
        };
        QCOMPARE(f.link.SendRequest(packet::Request(0xC4, 0x18, 0, 0x06, {})), Sent::Done);
        QCOMPARE(uint8_t(f.sent.last()[0]), 1);
        int records = 0;
        f.dispatcher.RegisterRecordHandler([&](const CanRecord&) { ++records; });
        f.link.Receive(hex("00090519441802000401000000"), adapter()); // channel 0: ignored
        QCOMPARE(records, 0);
        f.link.Receive(hex("01090619441802000401000000"), adapter());
        QCOMPARE(records, 1);
    }

    void connectionRequestFromAnotherHostIsOnlyListed()
    {
        LinkFixture f;
        f.link.Receive(hex("8000010300"), QHostAddress("127.0.0.2"));
        QVERIFY(!f.link.LinkOpen);
        QCOMPARE(f.announcements.ListAdaptersChecked, QList<bool>({true}));
        f.link.settings.BaseIPadapter = QStringLiteral("127.0.0.1 "); // compared exactly
        f.link.Receive(hex("8000010300"), adapter());
        QVERIFY(!f.link.LinkOpen);
    }

    void traceSwitchedOffAtLinkStartOutsideDebugMode()
    {
        LinkFixture f;
        f.link.Receive(hex("8000010300"), adapter());
        QVERIFY(!f.trace.TrassEnable);
        LinkFixture g;
        g.link.settings.DebugMode = true;
        g.link.Receive(hex("8000010300"), adapter());
        QVERIFY(g.trace.TrassEnable);
    }

    void clockSettingRequest()
    {
        QCOMPARE(AdapterAnnouncements::ClockRequest(0x01020304), hex("000b0019"
                                                                     "01188001"
                                                                     "06"
                                                                     "04030201"
                                                                     "0000"));
        const QDateTime now = QDateTime::currentDateTime();
        const qint64 local = now.toSecsSinceEpoch() + now.offsetFromUtc();
        QVERIFY(qAbs(qint64(AdapterAnnouncements::LocalSeconds()) - local) <= 1);

        LinkFixture f;
        f.open(1);
        f.advanceSequence(4);
        f.onSent = [&](const QByteArray& d) {
            f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
        };
        f.announcements.SetClock();
        QCOMPARE(f.sent.size(), 1);
        QCOMPARE(f.sent[0].left(9), hex("010b0419"
                                        "01188001"
                                        "06"));
        QCOMPARE(f.sent[0].size(), 15);
        QCOMPARE(f.trace.NewestNote(), "Время");
    }

    // The clock request stops where nothing went out: a refused timeout, another operation,
    // the link closed, the window closing during its retransmissions. No note lands anywhere.
    void clockSettingStopped_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("sent");
        QTest::newRow("timeout refused") << "timeout" << 0;
        QTest::newRow("another operation") << "busy" << 0;
        QTest::newRow("link closed") << "closed" << 0;
        QTest::newRow("closing while retransmitted") << "closing" << 2;
    }
    void clockSettingStopped()
    {
        QFETCH(QString, how);
        QFETCH(int, sent);
        LinkFixture f;
        f.open();
        if (how == "timeout")
            f.link.settings.Timeout = QStringLiteral("-5");
        if (how == "closed")
            f.link.SetLinkOpen(false);
        if (how == "closing")
            f.onSent = [&](const QByteArray&) {
                if (f.sent.size() == 2)
                    eventwait::SetClosing(true);
            };
        const auto other = how == "busy" ? f.link.Operations.Begin(QStringLiteral("поиск блоков"))
                                         : OperationGuard::Scope();
        f.announcements.SetClock();
        eventwait::SetClosing(false);
        QTest::qWait(150);
        QCOMPARE(f.sent.size(), sent);
        QVERIFY(!f.notes().contains("Время"));
        QVERIFY(!f.notes().contains("Разрыв соединения!"));
    }
};

QTEST_GUILESS_MAIN(TestAnnouncements)
#include "tst_announcements.moc"
