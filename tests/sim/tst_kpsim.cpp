// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated controlled point driven from a plain UDP socket on loopback, in-process, and the
// kp-sim program as a process. Datagrams are pinned byte by byte.

#include "commandline.h"
#include "exchange/packet.h"
#include "kpsim.h"
#include "simpeer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace kpsim;
using namespace simtest;

class TestKpSim : public QObject
{
    Q_OBJECT
private slots:
    void announcementsUntilLinkStart();
    void addressRequestAndReply();
    void answersOnlyTheLastSender();
    void linkStartMessage_data();
    void linkStartMessage();
    void receiptAndTransmissionReport();
    void blockMemoryAndConfigurationService();
    void absentBlocksAndForeignRecords();
    void announcementQuery();
    void clockSetting();
    void lostReceipts();
    void wrongReceiptNumber();
    void lostReplies();
    void lateReplies();
    void silentAdapter();
    void ownSequenceNumbersAndProgramReceipts();
    void commandLine_data();
    void commandLine();
    void programRunsUntilTerminated();
};

void TestKpSim::announcementsUntilLinkStart()
{
    Options o = LoopbackOptions();
    o.versionMajor = 3;
    o.versionMinor = 7;
    o.text = "AB";
    KpSim sim(o);
    QVERIFY(sim.start());
    QVERIFY(!sim.sendConnectionRequest()); // nobody heard yet: nothing is sent anywhere
    Peer peer(sim.localPort());
    QVERIFY(peer.bound());

    QSignalSpy keepAlives(&sim, &KpSim::keepAliveReceived);
    peer.send(Hex("8000"));
    QCOMPARE(peer.next(), Hex("80000103074142"
                              "00"));
    peer.send(Hex("8000"));
    QCOMPARE(peer.next(), Hex("80000103074142"
                              "00"));
    QCOMPARE(keepAlives.count(), 2);

    peer.send(Hex("8100"));
    peer.send(Hex("8000"));
    QVERIFY(peer.barrier()); // the keep-alive after the link start is not answered
    QVERIFY(sim.linkStarted());

    // A forgotten link is sought again; with relinking on, keep-alives are always answered.
    sim.resetLink();
    peer.send(Hex("8000"));
    QCOMPARE(peer.next(), Hex("80000103074142"
                              "00"));

    o.relinkOnKeepAlive = true;
    KpSim relinking(o);
    QVERIFY(relinking.start());
    Peer peer2(relinking.localPort());
    peer2.send(Hex("8100"));
    peer2.send(Hex("8000"));
    QCOMPARE(peer2.next(), Hex("80000103074142"
                               "00"));
}

void TestKpSim::addressRequestAndReply()
{
    Options o = LoopbackOptions();
    o.versionMajor = 4;
    o.versionMinor = 1;
    o.text = "KM";
    o.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    o.heldAddress = {192, 168, 0, 50};
    o.addressRequestOnKeepAlive = true;
    KpSim sim(o);
    QVERIFY(sim.start());
    Peer peer(sim.localPort());

    const QByteArray addressRequest = Hex("800002"
                                          "0401"
                                          "001a2b3c4d5e"
                                          "c0a80032"
                                          "4b4d"
                                          "00");
    peer.send(Hex("8000"));
    QCOMPARE(peer.next(), addressRequest);
    QCOMPARE(peer.next(), Hex("800001"
                              "0401"
                              "4b4d"
                              "00"));
    QVERIFY(sim.sendAddressRequest());
    QCOMPARE(peer.next(), addressRequest);

    // The program's 58-byte address reply is recorded, not taken for a link start.
    QByteArray reply = Hex("813702"
                           "c0a80001"
                           "ffffff00"
                           "001a2b3c4d5e"
                           "c0a80032"
                           "c0a8000a");
    reply.append(33, ' ');
    QCOMPARE(reply.size(), 58);
    QSignalSpy replies(&sim, &KpSim::addressReplyReceived);
    peer.send(reply);
    QVERIFY(WaitForCount(replies, 1));
    QCOMPARE(replies.at(0).at(0).toByteArray(), reply);
    QCOMPARE(sim.lastAddressReply(), reply);
    QVERIFY(!sim.linkStarted());

    // Announcement text is cut at 126 characters.
    o.text = QByteArray(200, 'x');
    KpSim longText(o);
    QCOMPARE(longText.connectionRequestBytes().size(), 5 + 126 + 1);
}

void TestKpSim::answersOnlyTheLastSender()
{
    KpSim sim(LoopbackOptions());
    QVERIFY(sim.start());
    Peer first(sim.localPort());
    Peer second(sim.localPort());
    first.send(Hex("8000"));
    QVERIFY(!first.next().isEmpty());
    second.send(Hex("8000"));
    QVERIFY(!second.next().isEmpty());
    QVERIFY(sim.sendConnectionRequest());
    QVERIFY(!second.next().isEmpty());
    QVERIFY(first.barrier()); // nothing went to the first sender meanwhile
    QCOMPARE(sim.peerAddress(), QHostAddress(QHostAddress::LocalHost));
}

void TestKpSim::linkStartMessage_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("channel");
    QTest::addColumn<char>("rate");
    QTest::newRow("plain") << Hex("8100") << true << 0 << char(0);
    QTest::newRow("C1M") << Hex("8100"
                                "43314d20"
                                "00")
                         << true << 0 << 'M';
    QTest::newRow("C2M") << Hex("8100"
                                "43324d20"
                                "00")
                         << true << 1 << 'M';
    QTest::newRow("C1S") << Hex("8100"
                                "43315320"
                                "00")
                         << true << 0 << 'S';
    QTest::newRow("C2S") << Hex("8100"
                                "43325320"
                                "00")
                         << true << 1 << 'S';
    QTest::newRow("C3M") << Hex("8100"
                                "43334d20"
                                "00")
                         << false << 0 << char(0);
    QTest::newRow("no blank") << Hex("8100"
                                     "43324d00"
                                     "00")
                              << false << 0 << char(0);
    QTest::newRow("short") << Hex("8100"
                                  "43324d")
                           << false << 0 << char(0);
}

void TestKpSim::linkStartMessage()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, accepted);
    QFETCH(int, channel);
    QFETCH(char, rate);

    Options o = LoopbackOptions({{BlockType::Ts, 3, "v"}});
    o.versionMajor = 4;
    KpSim sim(o);
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    QSignalSpy starts(&sim, &KpSim::linkStartReceived);
    peer.send(message);
    QVERIFY(peer.barrier());
    QCOMPARE(sim.linkStarted(), accepted);
    QCOMPARE(starts.count(), accepted ? 1 : 0);
    QCOMPARE(sim.canChannel(), channel);
    QCOMPARE(sim.bitRate(), rate);

    // The blocks sit on the link's channel: a request stamped with the other channel goes out
    // on a bus without them and is not answered; a request on the link's channel is, and the
    // reply is stamped with it.
    const uint8_t other = uint8_t(1 - channel);
    peer.send(Stamped(other, 0x10, 0xC4, 3, 0x0E, {0, 0}));
    QCOMPARE(peer.next(), packet::Bytes({0x82, 0x01, 0x10}));
    QCOMPARE(peer.next(), packet::Bytes({0x83, 0x00, 0x10}));
    peer.send(Stamped(uint8_t(channel), 0x11, 0xC4, 3, 0x0E, {0, 0}));
    QCOMPARE(peer.next(), packet::Bytes({0x82, 0x01, 0x11}));
    QCOMPARE(peer.next(), packet::Bytes({0x83, 0x00, 0x11}));
    const QByteArray reply = peer.next();
    QCOMPARE(reply.size(), 17);
    QCOMPARE(packet::at(reply, 0), uint8_t(channel));
}

void TestKpSim::receiptAndTransmissionReport()
{
    KpSim sim(LoopbackOptions());
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    QSignalSpy requests(&sim, &KpSim::requestReceived);
    const QByteArray clock = Hex("000b2a19"
                                 "01188001"
                                 "06"
                                 "78563412"
                                 "0000");
    peer.send(clock);
    QCOMPARE(peer.next(), Hex("82012a"));
    QCOMPARE(peer.next(), Hex("83002a"));
    QCOMPARE(requests.count(), 1);
    QCOMPARE(requests.at(0).at(0).toByteArray(), clock);

    // Sequence 0 and 255, and a request carrying only a header.
    peer.send(Hex("00000019"));
    QCOMPARE(peer.next(), Hex("820100"));
    QCOMPARE(peer.next(), Hex("830000"));
    peer.send(Hex("0100ff19"));
    QCOMPARE(peer.next(), Hex("8201ff"));
    QCOMPARE(peer.next(), Hex("8300ff"));

    // Not requests: a message type other than 0x19, a channel byte other than 0 or 1, a
    // program receipt of the wrong form.
    QSignalSpy ignored(&sim, &KpSim::ignoredDatagram);
    peer.send(Hex("000001fd"));
    peer.send(Hex("02000119"));
    peer.send(Hex("820001"));
    QVERIFY(peer.barrier());
    QCOMPARE(ignored.count(), 3);
    QCOMPARE(sim.counters().requests, 4);
}

void TestKpSim::blockMemoryAndConfigurationService()
{
    KpSim sim(LoopbackOptions({{BlockType::Ts, 2, {}}, {BlockType::Tu, 5, {}}}));
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    uint8_t seq = 0;
    // Sends a configuration request and returns the block's reply datagram.
    const auto ask = [&](uint8_t function, uint8_t address, uint8_t sub,
                         std::initializer_list<uint8_t> data) {
        peer.send(Stamped(0, seq, function, address, sub, data));
        const QByteArray receipt = peer.next();
        const QByteArray report = peer.next();
        if (receipt != packet::Bytes({0x82, 0x01, seq}) ||
            report != packet::Bytes({0x83, 0x00, seq}))
            return QByteArray("bad receipt or report");
        ++seq;
        return peer.next();
    };

    // Pointer set to the version area: the reply is the presence test.
    QCOMPARE(ask(0xC4, 2, 0x07, {0x80, 0x20}), Hex("000d0019"
                                                   "c4180207"
                                                   "08"
                                                   "0000000000000000"));
    QCOMPARE(sim.block(BlockType::Ts, 2)->pointer(), uint16_t(0x2080));

    // Six memory reads give the 48 bytes of the version area; the sim's own numbers rise.
    QByteArray version;
    for (int i = 0; i < 6; ++i) {
        const QByteArray reply = ask(0xC4, 2, 0x06, {});
        QCOMPARE(reply.size(), 17);
        QCOMPARE(reply.left(9),
                 packet::Bytes({0x00, 0x0D, uint8_t(1 + i), 0x19, 0xC4, 0x18, 0x02, 0x06, 0x08}));
        version += reply.mid(9);
    }
    QCOMPARE(version, QByteArray("TS v1.03 sim").leftJustified(48, '\0'));
    QCOMPARE(sim.block(BlockType::Ts, 2)->pointer(), uint16_t(0x2080 + 48));

    // Memory write stores 8 bytes at the pointer and advances it.
    QCOMPARE(ask(0xC2, 5, 0x07, {0x00, 0x80}), Hex("000d0719"
                                                   "c2180507"
                                                   "08"
                                                   "0000000000000000"));
    QCOMPARE(ask(0xC2, 5, 0x05, {1, 2, 3, 4, 5, 6, 7, 8}), Hex("000d0819"
                                                               "c2180505"
                                                               "08"
                                                               "0000000000000000"));
    QCOMPARE(ask(0xC2, 5, 0x05, {9, 10, 11, 12, 13, 14, 15, 16}).mid(9), QByteArray(8, '\0'));
    QCOMPARE(ask(0xC2, 5, 0x07, {0x04, 0x80}).size(), 17);
    QCOMPARE(ask(0xC2, 5, 0x06, {}).mid(9), Hex("05060708090a0b0c"));
    QCOMPARE(sim.block(BlockType::Tu, 5)->pointer(), uint16_t(0x800C));

    // The pointer wraps at the top of memory.
    QCOMPARE(ask(0xC2, 5, 0x07, {0xFC, 0xFF}).size(), 17);
    QCOMPARE(ask(0xC2, 5, 0x06, {}).size(), 17);
    QCOMPARE(sim.block(BlockType::Tu, 5)->pointer(), uint16_t(0x0004));

    // Configuration read: the parameter record from the offset lo + 256 * hi.
    sim.block(BlockType::Ts, 2)->setParameterBytes(252, Hex("3c3d3e3f"));
    QCOMPARE(ask(0xC4, 2, 0x00, {0x00, 0x00}), Hex("000d0e19"
                                                   "c4180200"
                                                   "08"
                                                   "3c002c01ff000000"));
    QCOMPARE(ask(0xC4, 2, 0x00, {0x48, 0x00}).mid(9), Hex("280028005aa53cc3"));
    QCOMPARE(ask(0xC4, 2, 0x00, {0xFC, 0x00}).mid(9), Hex("3c3d3e3f00000000"));
    QCOMPARE(ask(0xC4, 2, 0x00, {0x00, 0x01}).mid(9), QByteArray(8, '\0'));

    // Diagnostics: restarts and repeats little-endian, then four bytes.
    SimBlock* tu = sim.block(BlockType::Tu, 5);
    tu->restarts = 0x0102;
    tu->repeats = 0x0A0B;
    tu->diagnosticsTail = {0xDE, 0xAD, 0xBE, 0xEF};
    QCOMPARE(ask(0xC2, 5, 0x0E, {0x00, 0x00}), Hex("000d1219"
                                                   "c218050e"
                                                   "08"
                                                   "02010b0adeadbeef"));

    // Any other sub-function is echoed with zeros.
    QCOMPARE(ask(0xC2, 5, 0x0D, {0x01}), Hex("000d1319"
                                             "c218050d"
                                             "08"
                                             "0000000000000000"));
}

void TestKpSim::absentBlocksAndForeignRecords()
{
    KpSim sim(LoopbackOptions({{BlockType::Ts, 0, {}}, {BlockType::Tit, 1, {}}}));
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    peer.send(Stamped(0, 1, 0xC4, 1, 0x07, {0x80, 0x20})); // no telesignal block at 1
    peer.send(Stamped(0, 2, 0xC2, 0, 0x07, {0x80, 0x20})); // no telecontrol block at all
    peer.send(Stamped(0, 3, 0x44, 0, 0x07, {0x80, 0x20})); // a data function, not config
    QByteArray wrongFlags = Stamped(0, 4, 0xC8, 1, 0x07, {0x80, 0x20});
    wrongFlags[5] = 0x10;
    peer.send(wrongFlags);
    for (uint8_t seq = 1; seq <= 4; ++seq) {
        QCOMPARE(peer.next(), packet::Bytes({0x82, 0x01, seq}));
        QCOMPARE(peer.next(), packet::Bytes({0x83, 0x00, seq}));
    }
    QVERIFY(peer.barrier());
    QCOMPARE(sim.counters().dataSent, 0);

    // Two records in one request: each present block answers in its own datagram.
    QByteArray two = Stamped(0, 5, 0xC4, 0, 0x0E, {0, 0});
    two += packet::Bytes({0xC8, 0x18, 0x01, 0x0E, 0x02, 0x00, 0x00});
    two[1] = char(two.size() - 4);
    peer.send(two);
    QCOMPARE(peer.next(), Hex("820105"));
    QCOMPARE(peer.next(), Hex("830005"));
    QCOMPARE(peer.next().left(9), Hex("000d0019"
                                      "c418000e"
                                      "08"));
    QCOMPARE(peer.next().left(9), Hex("000d0119"
                                      "c818010e"
                                      "08"));

    // A record whose DLC runs past the datagram: the data that is there is used.
    peer.send(Hex("000a0619"
                  "c4180007"
                  "08"
                  "8020"));
    QCOMPARE(peer.next(), Hex("820106"));
    QCOMPARE(peer.next(), Hex("830006"));
    QCOMPARE(peer.next().left(9), Hex("000d0219"
                                      "c4180007"
                                      "08"));
    QCOMPARE(sim.block(BlockType::Ts, 0)->pointer(), uint16_t(0x2080));
}

void TestKpSim::announcementQuery()
{
    KpSim sim(
        LoopbackOptions({{BlockType::Ts, 0, {}}, {BlockType::Tu, 1, {}}, {BlockType::Tit, 2, {}}}));
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    peer.send(Hex("00050719"
                  "01188006"
                  "00"));
    QCOMPARE(peer.next(), Hex("820107"));
    QCOMPARE(peer.next(), Hex("830007"));
    const QByteArray expected[] = {Hex("00050019"
                                       "c41800ff"
                                       "00"),
                                   Hex("00050119"
                                       "c21801ff"
                                       "00"),
                                   Hex("00050219"
                                       "c81802ff"
                                       "00")};
    for (const QByteArray& e : expected) {
        const QByteArray a = peer.next();
        QCOMPARE(a, e);
        QCOMPARE(packet::at(a, 7), uint8_t(0xFF));
    }
    QVERIFY(peer.barrier());

    // A block added or removed at run time shows in the next query.
    QVERIFY(sim.removeBlock(BlockType::Tu, 1));
    sim.addBlock({BlockType::Ts, 6, {}});
    peer.send(Hex("00050819"
                  "01188006"
                  "00"));
    QCOMPARE(peer.next(), Hex("820108"));
    QCOMPARE(peer.next(), Hex("830008"));
    QCOMPARE(peer.next(), Hex("00050319"
                              "c41800ff"
                              "00"));
    QCOMPARE(peer.next(), Hex("00050419"
                              "c81802ff"
                              "00"));
    QCOMPARE(peer.next(), Hex("00050519"
                              "c41806ff"
                              "00"));
    QVERIFY(peer.barrier());
}

void TestKpSim::clockSetting()
{
    KpSim sim(LoopbackOptions());
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    QSignalSpy clock(&sim, &KpSim::clockSet);
    peer.send(Hex("000b0019"
                  "01188001"
                  "06"
                  "78563412"
                  "0000"));
    QVERIFY(WaitForCount(clock, 1));
    QCOMPARE(clock.at(0).at(0).value<uint32_t>(), uint32_t(0x12345678));
    QCOMPARE(sim.lastClockSetting(), std::optional<uint32_t>(0x12345678));
}

void TestKpSim::lostReceipts()
{
    KpSim sim(LoopbackOptions({{BlockType::Ts, 0, {}}}));
    sim.faults().dropReceipts = 2;
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    // The request still reaches the bus: the report and the block's reply come.
    peer.send(Stamped(0, 1, 0xC4, 0, 0x0E, {0, 0}));
    QCOMPARE(peer.next(), Hex("830001"));
    QCOMPARE(peer.next().left(4), Hex("000d0019"));
    peer.send(Stamped(0, 1, 0xC4, 0, 0x0E, {0, 0}));
    QCOMPARE(peer.next(), Hex("830001"));
    QCOMPARE(peer.next().left(4), Hex("000d0119"));
    peer.send(Stamped(0, 1, 0xC4, 0, 0x0E, {0, 0}));
    QCOMPARE(peer.next(), Hex("820101"));
    QCOMPARE(peer.next(), Hex("830001"));
    QCOMPARE(peer.next().left(4), Hex("000d0219"));
    QCOMPARE(sim.faults().dropReceipts, 0);

    sim.faults().dropAllReceipts = true;
    for (uint8_t seq = 2; seq < 5; ++seq) {
        peer.send(Stamped(0, seq, 0x10, 0, 0, {}));
        QCOMPARE(peer.next(), packet::Bytes({0x83, 0x00, seq}));
    }
    sim.faults().dropAllReceipts = false;
    QVERIFY(peer.barrier());
}

void TestKpSim::wrongReceiptNumber()
{
    KpSim sim(LoopbackOptions());
    sim.faults().wrongReceiptSequence = true;
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    peer.send(Stamped(0, 0x05, 0x10, 0, 0, {}));
    QCOMPARE(peer.next(), Hex("820104"));
    QCOMPARE(peer.next(), Hex("830005"));
    peer.send(Stamped(0, 0x00, 0x10, 0, 0, {}));
    QCOMPARE(peer.next(), Hex("8201ff"));
    QCOMPARE(peer.next(), Hex("830000"));
}

void TestKpSim::lostReplies()
{
    KpSim sim(LoopbackOptions({{BlockType::Tit, 4, {}}, {BlockType::Ts, 4, {}}}));
    sim.faults().dropReplies = 1;
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    peer.send(Stamped(0, 1, 0xC8, 4, 0x0E, {0, 0}));
    peer.send(Stamped(0, 2, 0xC8, 4, 0x0E, {0, 0}));
    QCOMPARE(peer.next(), Hex("820101"));
    QCOMPARE(peer.next(), Hex("830001"));
    QCOMPARE(peer.next(), Hex("820102"));
    QCOMPARE(peer.next(), Hex("830002"));
    // A lost reply takes no sequence number.
    QCOMPARE(peer.next().left(8), Hex("000d0019"
                                      "c818040e"));

    sim.faults().dropAllReplies = true;
    peer.send(Hex("00050319"
                  "01188006"
                  "00"));
    peer.send(Stamped(0, 4, 0xC4, 4, 0x06, {}));
    QCOMPARE(peer.next(), Hex("820103"));
    QCOMPARE(peer.next(), Hex("830003"));
    QCOMPARE(peer.next(), Hex("820104"));
    QCOMPARE(peer.next(), Hex("830004"));
    QVERIFY(peer.barrier());
    QCOMPARE(sim.counters().dataSent, 1);
}

void TestKpSim::lateReplies()
{
    constexpr int delay = 150;
    KpSim sim(LoopbackOptions({{BlockType::Ts, 1, {}}}));
    sim.faults().replyDelayMs = delay;
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    QElapsedTimer clock;
    clock.start();
    peer.send(Stamped(0, 9, 0xC4, 1, 0x0E, {0, 0}));
    QCOMPARE(peer.next(), Hex("820109"));
    QCOMPARE(peer.next(), Hex("830009"));
    QVERIFY2(clock.elapsed() < delay, "receipts are not delayed");
    const QByteArray reply = peer.next();
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(reply.left(8), Hex("000d0019"
                                "c418010e"));
    // Coarse timers may fire up to 5 % early.
    QVERIFY2(elapsed >= delay * 95 / 100, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < delay + 1000, qPrintable(QString::number(elapsed)));
}

void TestKpSim::silentAdapter()
{
    KpSim sim(LoopbackOptions({{BlockType::Ts, 0, {}}}));
    sim.faults().silent = true;
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    peer.send(Hex("8000"));
    peer.send(Stamped(0, 1, 0xC4, 0, 0x07, {0x80, 0x20}));
    peer.send(Hex("00050219"
                  "01188006"
                  "00"));
    QSignalSpy requests(&sim, &KpSim::requestReceived);
    QVERIFY(WaitForCount(requests, 2));
    QVERIFY(!sim.sendAddressRequest());
    QCOMPARE(sim.sendData(Hex("c41800ff00")), -1);

    // Heard but unanswered: the first thing that comes once it speaks again is the barrier.
    sim.faults().silent = false;
    QVERIFY(peer.barrier());
    QCOMPARE(sim.counters().keepAlives, 1);
    QCOMPARE(sim.counters().dataSent, 0);
    QCOMPARE(sim.block(BlockType::Ts, 0)->pointer(), uint16_t(0x2080));
}

void TestKpSim::ownSequenceNumbersAndProgramReceipts()
{
    KpSim sim(LoopbackOptions());
    QVERIFY(sim.start());
    QCOMPARE(sim.sendData(Hex("c41800ff00")), -1); // nobody heard yet
    Peer peer(sim.localPort());
    QVERIFY(peer.barrier());
    QCOMPARE(sim.lastUnacknowledged(), -1);

    // In batches, so that no socket buffer overflows while the other side is not read.
    constexpr int total = 300;
    constexpr int batch = 50;
    QSignalSpy receipts(&sim, &KpSim::receiptReceived);
    for (int first = 0; first < total; first += batch) {
        for (int i = first; i < first + batch; ++i)
            QCOMPARE(sim.sendData(Hex("c41800ff00")), i % 256);
        for (int i = first; i < first + batch; ++i) {
            const QByteArray d = peer.next();
            QCOMPARE(d,
                     packet::Bytes({0x00, 0x05, uint8_t(i), 0x19, 0xC4, 0x18, 0x00, 0xFF, 0x00}));
            if (i < total - 1)
                peer.send(packet::Receipt(uint8_t(i)));
        }
        QVERIFY(WaitForCount(receipts, std::min(first + batch, total - 1)));
    }
    QCOMPARE(sim.lastUnacknowledged(), (total - 1) % 256);
    QCOMPARE(sim.unacknowledgedCount(), 1);

    // A receipt for a number that is not outstanding is counted but not expected.
    peer.send(packet::Receipt(uint8_t(total % 256)));
    QVERIFY(WaitForCount(receipts, total));
    QCOMPARE(receipts.last().at(1).toBool(), false);
    QCOMPARE(sim.counters().dataSent, total);
    QCOMPARE(sim.counters().receiptsReceived, total);
    QCOMPARE(sim.counters().receiptsExpected, total - 1);

    peer.send(packet::Receipt(uint8_t((total - 1) % 256)));
    QVERIFY(WaitForCount(receipts, total + 1));
    QCOMPARE(receipts.last().at(1).toBool(), true);
    QCOMPARE(sim.lastUnacknowledged(), -1);
}

void TestKpSim::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::newRow("defaults") << QStringList{} << true;
    QTest::newRow("loopback range") << QStringList{"--bind", "127.0.0.5"} << true;
    QTest::newRow("outside loopback") << QStringList{"--bind", "192.168.1.10"} << false;
    QTest::newRow("any with permission") << QStringList{"--bind", "0.0.0.0", "--allow-any"} << true;
    QTest::newRow("any without") << QStringList{"--bind", "0.0.0.0"} << false;
    QTest::newRow("ipv6") << QStringList{"--bind", "::1"} << false;
    QTest::newRow("bad port") << QStringList{"--port", "70000"} << false;
    QTest::newRow("bad block type") << QStringList{"--blocks", "ts:0,xx:1"} << false;
    QTest::newRow("bad address") << QStringList{"--blocks", "ts:8"} << false;
    QTest::newRow("twice") << QStringList{"--blocks", "ts:1,tu:1,ts:1"} << false;
    QTest::newRow("km4 conflict") << QStringList{"--km4", "--adapter-version", "3.1"} << false;
    QTest::newRow("bad version") << QStringList{"--adapter-version", "3"} << false;
    QTest::newRow("bad mac") << QStringList{"--mac", "00:11:22:33:44"} << false;
    QTest::newRow("bad held ip") << QStringList{"--held-ip", "10.0.0.256"} << false;
    QTest::newRow("stray argument") << QStringList{"extra"} << false;
}

void TestKpSim::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    QString error;
    const auto cl = ParseCommandLine(QStringList{"kp-sim"} + args, &error);
    QCOMPARE(cl.has_value(), ok);
    QCOMPARE(error.isEmpty(), ok);

    if (QByteArray(QTest::currentDataTag()) != "defaults")
        return;
    const auto full = ParseCommandLine({"kp-sim",
                                        "--port",
                                        "9800",
                                        "--km4",
                                        "--adapter-version",
                                        "4.12",
                                        "--text",
                                        "Bench",
                                        "--mac",
                                        "0a:1B:2c:3D:4e:5F",
                                        "--held-ip",
                                        "10.1.2.3",
                                        "--blocks",
                                        "ts:0,tu:1,tit:2",
                                        "--address-request",
                                        "--relink",
                                        "--drop-receipts",
                                        "3",
                                        "--drop-all-receipts",
                                        "--wrong-receipt-seq",
                                        "--drop-replies",
                                        "2",
                                        "--drop-all-replies",
                                        "--reply-delay",
                                        "40",
                                        "--silent"},
                                       &error);
    QVERIFY2(full, qPrintable(error));
    const Options& o = full->options;
    QCOMPARE(o.port, quint16(9800));
    QCOMPARE(o.bindAddress, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(o.versionMajor, uint8_t(4));
    QCOMPARE(o.versionMinor, uint8_t(12));
    QCOMPARE(o.text, QByteArray("Bench"));
    QVERIFY((o.mac == std::array<uint8_t, 6>{0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}));
    QVERIFY((o.heldAddress == std::array<uint8_t, 4>{10, 1, 2, 3}));
    QCOMPARE(BlocksText(o.blocks), QString("ts:0,tu:1,tit:2"));
    QVERIFY(o.addressRequestOnKeepAlive && o.relinkOnKeepAlive);
    QCOMPARE(o.faults.dropReceipts, 3);
    QCOMPARE(o.faults.dropReplies, 2);
    QCOMPARE(o.faults.replyDelayMs, 40);
    QVERIFY(o.faults.dropAllReceipts && o.faults.wrongReceiptSequence && o.faults.dropAllReplies &&
            o.faults.silent);
}

void TestKpSim::programRunsUntilTerminated()
{
    QProcess sim;
    sim.start(QStringLiteral(KPSIM_PROGRAM), {"--port", "0", "--blocks", "ts:3"});
    QVERIFY(sim.waitForStarted());
    QByteArray line;
    while (!line.contains('\n') && sim.waitForReadyRead(5000))
        line += sim.readAllStandardOutput();
    const QRegularExpression re(QStringLiteral("^kp-sim: adapter v3\\.2 on 127\\.0\\.0\\.1:(\\d+), "
                                               "blocks \\[ts:3\\], live \\[ts 0\\.5/s, .*\\]\n$"));
    const auto m = re.match(QString::fromLatin1(line));
    QVERIFY2(m.hasMatch(), line.constData());

    Peer peer(quint16(m.captured(1).toUInt()));
    peer.send(Stamped(0, 4, 0xC4, 3, 0x06, {}));
    QCOMPARE(peer.next(5000), Hex("820104"));
    QCOMPARE(peer.next(5000), Hex("830004"));
    QCOMPARE(peer.next(5000).left(8), Hex("000d0019"
                                          "c4180306"));

    ::kill(pid_t(sim.processId()), SIGTERM);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestKpSim)
#include "tst_kpsim.moc"
