// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated blocks' configuration service over loopback: version area, parameter records and
// their chunked write, block memory (erase, firmware and loader programming, calibration,
// interlock logic), block faults, the test bench, the per-block command line and the sample
// image. Replies are pinned byte by byte as the program reads them.

#include "commandline.h"
#include "exchange/packet.h"
#include "kpsim.h"
#include "sampleimage.h"
#include "simpeer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kpsim;
using namespace simtest;

namespace
{

// A simulator on loopback and the program's end of the exchange, asking blocks one request at a
// time as the program's request channel does.
struct Bus {
    explicit Bus(Options o) : sim(std::move(o)) {}
    bool open()
    {
        if (!sim.start())
            return false;
        peer = std::make_unique<Peer>(sim.localPort());
        return peer->barrier(0xF0);
    }
    bool send(uint8_t function, uint8_t address, uint8_t sub, QByteArrayView data)
    {
        QByteArray d = packet::Request(
            function, 0x18, address, sub,
            std::span(reinterpret_cast<const uint8_t*>(data.data()), size_t(data.size())));
        d[2] = char(seq);
        peer->send(d);
        const bool ok = peer->next() == packet::Bytes({0x82, 0x01, seq}) &&
                        peer->next() == packet::Bytes({0x83, 0x00, seq});
        ++seq;
        return ok;
    }
    // The block's reply record (the datagram after its 4-byte header), empty when none came.
    QByteArray ask(uint8_t function, uint8_t address, uint8_t sub, QByteArrayView data = {})
    {
        return send(function, address, sub, data) ? peer->next().mid(4) : "bad receipt";
    }
    // True when the block leaves the request unanswered.
    bool unanswered(uint8_t function, uint8_t address, uint8_t sub, QByteArrayView data = {})
    {
        return send(function, address, sub, data) && peer->barrier();
    }
    // Pointer set, then n memory reads: the bytes read.
    QByteArray read(uint8_t function, uint8_t address, uint16_t pointer, int reads)
    {
        QByteArray bytes;
        if (ask(function, address, 0x07, Le16(pointer)).size() != 13)
            return "no pointer";
        for (int i = 0; i < reads; ++i)
            bytes += ask(function, address, 0x06).mid(5);
        return bytes;
    }
    // Pointer set, then erases and writes as the program writes a range: an erase before every
    // 512 bytes, the bytes in 8-byte chunks. False at the first unanswered request.
    bool program(uint8_t function, uint8_t address, uint16_t pointer, const QByteArray& bytes)
    {
        if (ask(function, address, 0x07, Le16(pointer)).size() != 13)
            return false;
        for (int i = 0; i + 8 <= bytes.size(); i += 8)
            if ((i % 512 == 0 && ask(function, address, 0x09).size() != 13) ||
                ask(function, address, 0x05, bytes.mid(i, 8)).size() != 13)
                return false;
        return true;
    }
    static QByteArray Le16(uint16_t v) { return packet::Bytes({uint8_t(v), uint8_t(v >> 8)}); }

    KpSim sim;
    std::unique_ptr<Peer> peer;
    uint8_t seq = 0x10;
};

// The reply record the blocks send to every request: F 18 A sub 08, then 8 data bytes.
QByteArray Reply(uint8_t function, uint8_t address, uint8_t sub, const char* dataHex = nullptr)
{
    return packet::Bytes({function, 0x18, address, sub, 0x08}) +
           (dataHex ? Hex(dataHex) : QByteArray(8, '\0'));
}

constexpr uint8_t Ts = 0xC4, Tit = 0xC8, Tu = 0xC2;

} // namespace

class TestKpSimService : public QObject
{
    Q_OBJECT
private slots:
    void parameterRecordDefaults_data();
    void parameterRecordDefaults();
    void configurationWrite_data();
    void configurationWrite();
    void pageErase_data();
    void pageErase();
    void firmwareShortRun();
    void firmwareAndLoaderWholeRun();
    void calibrationRecord();
    void interlockLogic();
    void silentToSubFunction();
    void silentAtNthRequest();
    void notAnnouncing();
    void benchWiringAndStuckInput();
    void blockOptions_data();
    void blockOptions();
    void sampleImage();
};

void TestKpSimService::parameterRecordDefaults_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("chunk");
    // telesignal: cycles 60 and 300 s, counter mask FF; filters of inputs 31 and 32 (20 ms,
    // stored x2), then the recognisable bytes 76-79
    QTest::newRow("ts 0") << int(BlockType::Ts) << 0 << Hex("3c002c01ff000000");
    QTest::newRow("ts 72") << int(BlockType::Ts) << 72 << Hex("280028005aa53cc3");
    // measurement: cycle 10 s, 4 groups, aperture 50, telesignal cycle 60 s; coefficients 0,
    // controlled point 1, speed code 7 (9600), delay 20 ms
    QTest::newRow("tit 0") << int(BlockType::Tit) << 0 << Hex("0a00040032003c00");
    QTest::newRow("tit 16") << int(BlockType::Tit) << 16 << Hex("0000000001000714");
    // telecontrol: type 0, hold 200 ms; the last maximum coefficient (700), recognisable bytes
    QTest::newRow("tu 0") << int(BlockType::Tu) << 0 << Hex("0000c800c800c800");
    QTest::newRow("tu 192") << int(BlockType::Tu) << 192 << Hex("bc025aa53cc36996");
}

void TestKpSimService::parameterRecordDefaults()
{
    QFETCH(int, type);
    QFETCH(int, offset);
    QFETCH(QByteArray, chunk);
    Bus bus(LoopbackOptions({{BlockType(type), 1, {}}}));
    QVERIFY(bus.open());
    const uint8_t f = ConfigFunction(BlockType(type));
    QCOMPARE(bus.ask(f, 1, 0x00, Bus::Le16(uint16_t(offset))), Reply(f, 1, 0x00).left(5) + chunk);
}

void TestKpSimService::configurationWrite_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<bool>("started");
    QTest::newRow("telecontrol record") << int(BlockType::Tu) << 25 << true;
    QTest::newRow("first chunks only") << int(BlockType::Ts) << 3 << true;
    QTest::newRow("no write start") << int(BlockType::Ts) << 3 << false;
}

void TestKpSimService::configurationWrite()
{
    QFETCH(int, type);
    QFETCH(int, chunks);
    QFETCH(bool, started);
    Bus bus(LoopbackOptions({{BlockType(type), 0, {}}}));
    QVERIFY(bus.open());
    QSignalSpy written(&bus.sim, &KpSim::configurationWritten);
    const uint8_t f = ConfigFunction(BlockType(type));
    const QByteArray before = bus.sim.block(BlockType(type), 0)->parameters();
    QByteArray record;
    for (int i = 0; i < 8 * chunks; ++i)
        record += char(0x80 + i);

    // Every step is answered with its own sub-function and eight zeros.
    for (int k = 0; k < chunks; ++k) {
        const uint8_t sub = started && k == 0 ? 0x0B : 0x01;
        QCOMPARE(bus.ask(f, 0, sub, record.mid(8 * k, 8)), Reply(f, 0, sub));
    }
    QCOMPARE(bus.ask(f, 0, 0x02), Reply(f, 0, 0x02));
    QCOMPARE(bus.ask(f, 0, 0x03), Reply(f, 0, 0x03));

    // A later read gives what was written; the bytes after it keep what they held.
    const QByteArray expected = started ? record + before.mid(record.size()) : before;
    QByteArray read;
    for (int offset = 0; offset < 256; offset += 8)
        read += bus.ask(f, 0, 0x00, Bus::Le16(uint16_t(offset))).mid(5);
    QCOMPARE(read, expected);
    QCOMPARE(written.count(), started ? 1 : 0);
    if (started)
        QCOMPARE(written.at(0), QVariantList({int(f), 0}));
}

void TestKpSimService::pageErase_data()
{
    QTest::addColumn<int>("pointer");
    QTest::addColumn<int>("page");
    QTest::newRow("inside") << 0x2085 << 0x2000;
    QTest::newRow("page end") << 0x81FF << 0x8000;
    QTest::newRow("top") << 0xFFFF << 0xFE00;
}

void TestKpSimService::pageErase()
{
    QFETCH(int, pointer);
    QFETCH(int, page);
    Bus bus(LoopbackOptions({{BlockType::Ts, 0, {}}}));
    SimBlock* b = bus.sim.block(BlockType::Ts, 0);
    b->writeMemory(0, QByteArray(0x10000, 0x11));
    QVERIFY(bus.open());
    QCOMPARE(bus.ask(Ts, 0, 0x07, Bus::Le16(uint16_t(pointer))), Reply(Ts, 0, 0x07));
    QCOMPARE(bus.ask(Ts, 0, 0x09), Reply(Ts, 0, 0x09));
    QCOMPARE(b->pointer(), uint16_t(pointer)); // the erase does not move it
    QCOMPARE(b->memoryBytes(uint16_t(page), 512), QByteArray(512, char(0xFF)));
    QCOMPARE(b->memoryAt(uint16_t(page - 1)), uint8_t(0x11));
    QCOMPARE(b->memoryAt(uint16_t(page + 512)), uint8_t(0x11));
}

void TestKpSimService::firmwareShortRun()
{
    Bus bus(LoopbackOptions({{BlockType::Tit, 2, {}}}));
    QVERIFY(bus.open());
    QSignalSpy completed(&bus.sim, &KpSim::firmwareCompleted);
    const QByteArray image = image::SampleImage("V9.99");
    SimBlock* b = bus.sim.block(BlockType::Tit, 2);

    QCOMPARE(bus.ask(Tit, 2, 0x08, Hex("00")), Reply(Tit, 2, 0x08));
    // The first 256 bytes of the firmware range hold the version text at 0x80.
    QVERIFY(bus.program(Tit, 2, 0x8000, image.mid(image::Firmware, 256)));
    QCOMPARE(b->service().writesSincePrepare, 32);
    QCOMPARE(b->versionText(), QByteArray("TIT v1.03 sim")); // not yet running
    QCOMPARE(bus.ask(Tit, 2, 0x0A), Reply(Tit, 2, 0x0A));
    QCOMPARE(completed.count(), 1);
    QCOMPARE(completed.at(0), QVariantList({int(Tit), 2}));

    // A second discovery reads the new version; a new prepare starts counting again.
    QCOMPARE(bus.read(Tit, 2, 0x2080, 6), QByteArray("V9.99").leftJustified(48, '\0'));
    QCOMPARE(bus.ask(Tit, 2, 0x08, Hex("00")), Reply(Tit, 2, 0x08));
    QCOMPARE(b->service().writesSincePrepare, 0);
}

void TestKpSimService::firmwareAndLoaderWholeRun()
{
    Bus bus(LoopbackOptions({{BlockType::Tu, 7, {}}}));
    QVERIFY(bus.open());
    SimBlock* b = bus.sim.block(BlockType::Tu, 7);
    const QByteArray image = image::SampleImage("TU v2.00 sim");

    // As the program writes it: 1 prepare, 1 pointer set, 47 erases, 3,000 writes, completion.
    QVERIFY(bus.send(0x01, 0x80, 0x05, {}));
    QCOMPARE(bus.ask(Tu, 7, 0x08, Hex("00")).size(), 13);
    QVERIFY(bus.program(Tu, 7, 0x8000, image.mid(image::Firmware, image::FirmwareSize)));
    QCOMPARE(bus.ask(Tu, 7, 0x0A).size(), 13);
    QVERIFY(bus.send(0x01, 0x80, 0x04, {}));
    QCOMPARE(b->service().writesSincePrepare, 3000);
    QCOMPARE(b->service().erasesSincePrepare, 47);
    QCOMPARE(b->firmware(), image.mid(image::Firmware, image::FirmwareSize));
    QCOMPARE(b->versionText(), QByteArray("TU v2.00 sim"));
    QCOMPARE(bus.sim.counters().serviceStarts, 1);
    QCOMPARE(bus.sim.counters().serviceEnds, 1);

    // The loader: one erase, 64 writes at 0xEA00, completion. The firmware stays as it is.
    QSignalSpy completions(&bus.sim, &KpSim::completionReceived);
    QCOMPARE(bus.ask(Tu, 7, 0x08, Hex("00")).size(), 13);
    QVERIFY(bus.program(Tu, 7, 0xEA00, image.mid(image::Loader, image::LoaderSize)));
    QCOMPARE(bus.ask(Tu, 7, 0x03), Reply(Tu, 7, 0x03));
    QCOMPARE(completions.count(), 1);
    QCOMPARE(b->service().writesSincePrepare, 64);
    QCOMPARE(b->loader(), image.mid(image::Loader, image::LoaderSize));
    QCOMPARE(bus.read(Tu, 7, 0xEA00, 2), image.mid(image::Loader, 16));
    QCOMPARE(b->firmware(), image.mid(image::Firmware, image::FirmwareSize));
    QCOMPARE(b->service().firmwareCompletions, 1);
}

void TestKpSimService::calibrationRecord()
{
    Bus bus(LoopbackOptions({{BlockType::Tit, 2, {}}}));
    QVERIFY(bus.open());
    // Zero 2048, maximum 81492 (shown 5000), minimum -81492, zone 5, then spaces.
    QCOMPARE(bus.read(Tit, 2, 0xFC00, 2), Hex("0008 543e0100 acc1feff 0500 20202020"));

    // As the program writes it: pointer set, erase, three writes; read back whole.
    const QByteArray record = Hex("6400 954f0000 a8b6ffff 0300") + QByteArray(12, ' ');
    QVERIFY(bus.program(Tit, 2, 0xFC00, record));
    QCOMPARE(bus.read(Tit, 2, 0xFC00, 3), record);
    const Calibration c = bus.sim.block(BlockType::Tit, 2)->calibration();
    QVERIFY(c.zero == 100 && c.maximum == 20373 && c.minimum == -18776 && c.zone == 3);
    QCOMPARE(bus.sim.block(BlockType::Tit, 2)->memoryAt(0xFC18), uint8_t(0xFF)); // erased
}

void TestKpSimService::interlockLogic()
{
    Bus bus(LoopbackOptions({{BlockType::Tu, 3, {}}, {BlockType::Tu, 4, {}}}));
    QVERIFY(bus.open());
    // The default logic: "@ Логика блокировок ТУ 3" in code page 1251, lines ended by 0x00,
    // closed by a line "@".
    const QByteArray logic = bus.read(Tu, 3, 0x8000, 16);
    QCOMPARE(logic.left(8), Hex("4020cbeee3e8eae0"));
    QCOMPARE(logic.split('\0').indexOf("@"), 5);
    QCOMPARE(logic.indexOf('@', 1), logic.indexOf(QByteArray("\0@\0", 3)) + 1);

    // The program's write of three lines: one erase, two writes; read back, then erased bytes.
    QVERIFY(bus.ask(Tu, 3, 0x08, Hex("00")).size() == 13);
    const QByteArray text = Hex("4020005820004020 0000000000000000");
    QVERIFY(bus.program(Tu, 3, 0x8000, text));
    QCOMPARE(bus.read(Tu, 3, 0x8000, 3), text + QByteArray(8, char(0xFF)));

    // Without its closing line the text runs past the program's 24,000-byte reading limit.
    bus.sim.block(BlockType::Tu, 4)->setInterlock(SimBlock::UnclosedInterlock());
    const QByteArray unclosed = bus.sim.block(BlockType::Tu, 4)->memoryBytes(0x8000, 24008);
    QCOMPARE(unclosed.at(0), '@');
    QCOMPARE(unclosed.indexOf('@', 1), -1);
}

void TestKpSimService::silentToSubFunction()
{
    Bus bus(LoopbackOptions({{BlockType::Ts, 1, {}}}));
    bus.sim.block(BlockType::Ts, 1)->faults.silentTo.set(0x06);
    QVERIFY(bus.open());
    QCOMPARE(bus.ask(Ts, 1, 0x07, Hex("8020")), Reply(Ts, 1, 0x07));
    QVERIFY(bus.unanswered(Ts, 1, 0x06));
    QVERIFY(bus.unanswered(Ts, 1, 0x06));
    QCOMPARE(bus.ask(Ts, 1, 0x0E, Hex("0000")).left(5), Hex("c418010e08"));
    QCOMPARE(bus.sim.block(BlockType::Ts, 1)->pointer(), uint16_t(0x2080));
}

void TestKpSimService::silentAtNthRequest()
{
    // The third memory write is lost; the ones before and after are taken, so a repeated run
    // writes everything.
    Bus bus(LoopbackOptions({{BlockType::Ts, 0, {}}}));
    SimBlock* b = bus.sim.block(BlockType::Ts, 0);
    b->faults.silentAt.push_back({0x05, 3});
    QVERIFY(bus.open());
    QCOMPARE(bus.ask(Ts, 0, 0x07, Hex("0080")).size(), 13);
    QCOMPARE(bus.ask(Ts, 0, 0x05, Hex("0101010101010101")).size(), 13);
    QCOMPARE(bus.ask(Ts, 0, 0x06).size(), 13); // other sub-functions do not count
    QCOMPARE(bus.ask(Ts, 0, 0x05, Hex("0202020202020202")).size(), 13);
    QVERIFY(bus.unanswered(Ts, 0, 0x05, Hex("0303030303030303")));
    QCOMPARE(b->pointer(), uint16_t(0x8018)); // the lost write changed nothing
    QCOMPARE(b->service().writesSincePrepare, 2);

    QByteArray run;
    for (int i = 0; i < 8; ++i)
        run += QByteArray(8, char(0x10 + i));
    QVERIFY(bus.program(Ts, 0, 0x8000, run));
    QCOMPARE(b->memoryBytes(0x8000, run.size()), run);
}

void TestKpSimService::notAnnouncing()
{
    Bus bus(LoopbackOptions({{BlockType::Ts, 0, {}}, {BlockType::Tu, 1, {}}}));
    bus.sim.block(BlockType::Ts, 0)->faults.noAnnouncement = true;
    QVERIFY(bus.open());
    QVERIFY(bus.send(0x01, 0x80, 0x06, {}));
    const QByteArray announcement = bus.peer->next();
    QCOMPARE(announcement.mid(4), Hex("c21801ff00"));
    QCOMPARE(packet::at(announcement, 7), uint8_t(0xFF));
    QVERIFY(bus.peer->barrier());
    QCOMPARE(bus.ask(Ts, 0, 0x07, Hex("8020")), Reply(Ts, 0, 0x07));
}

void TestKpSimService::benchWiringAndStuckInput()
{
    QString error;
    auto cl = ParseCommandLine(
        {"kp-sim", "--quiet", "--bench", "--relay-hold", "80", "--stuck-input", "ts:0=9"}, &error);
    QVERIFY2(cl, qPrintable(error));
    cl->options.port = 0;
    Bus bus(cl->options);
    QVERIFY(bus.open());
    bus.peer->send(Hex("8100"));
    QVERIFY(bus.peer->barrier());
    SimBlock* ts = bus.sim.block(BlockType::Ts, 0);
    QVERIFY(ts && bus.sim.block(BlockType::Tu, 0));
    QCOMPARE(ts->ts.inputs, ~(uint32_t(1) << 8)); // closed contacts at rest, input 9 stuck

    // Relay 3 operated: input 3 reads 0 (event and state) before the result, then 1 again
    // once the hold time is over.
    QCOMPARE(bus.ask(0x42, 0, 2, Hex("00")).left(4), Hex("42000003"));
    QVERIFY(bus.send(0x02, 0, 0, Hex("00")));
    QByteArray changed = bus.peer->next();
    QElapsedTimer held;
    held.start();
    QCOMPARE(changed.mid(4, 5), Hex("4480000207"));
    QCOMPARE(changed.mid(4 + 12 + 5, 4), Hex("fbfeffff"));
    QCOMPARE(packet::at(bus.peer->next(), 7), uint8_t(0x01)); // the result
    changed = bus.peer->next();
    QCOMPARE(changed.mid(4, 5), Hex("4480008207"));
    QCOMPARE(changed.mid(4 + 12 + 5, 4), Hex("fffeffff"));
    QVERIFY2(held.elapsed() >= 75, qPrintable(QString::number(held.elapsed())));

    // Relay 9 drives a stuck input: no change is reported.
    QCOMPARE(bus.ask(0x42, 0, 8, Hex("00")).left(4), Hex("42000003"));
    QVERIFY(bus.send(0x02, 0, 0, Hex("00")));
    QCOMPARE(packet::at(bus.peer->next(), 7), uint8_t(0x01));
    QVERIFY(bus.peer->barrier());
    QCOMPARE(ts->ts.inputs, ~(uint32_t(1) << 8));
}

void TestKpSimService::blockOptions_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("fault"); // the start of the error message; empty: accepted
    const QString on = QStringLiteral("--blocks ts:0,tit:2,tu:3 ");
    QTest::newRow("not on the bus") << on + "--no-announce ts:5"
                                    << "--no-announce: no block ts:5";
    QTest::newRow("value missing") << on + "--diag ts:0"
                                   << "--diag: must read";
    QTest::newRow("value given") << on + "--silent-block ts:0=1"
                                 << "--silent-block: must read";
    QTest::newRow("version long") << on + "--block-version ts:0=" + QString(49, 'v')
                                  << "--block-version: version";
    QTest::newRow("record odd") << on + "--record ts:0=abc"
                                << "--record: record";
    QTest::newRow("param width") << on + "--param tit:2@23:u8=256"
                                 << "--param: field";
    QTest::newRow("diag count") << on + "--diag ts:0=1,2,3"
                                << "--diag: diagnostics";
    QTest::newRow("calibration type") << on + "--calibration ts:0=1,2,3,4"
                                      << "--calibration: a calibration record is kept by tit";
    QTest::newRow("nth zero") << on + "--silent-at ts:0=05:0"
                              << "--silent-at: must read";
    QTest::newRow("stuck range") << on + "--stuck-input ts:0=33"
                                 << "--stuck-input: inputs";
    QTest::newRow("image version alone") << on + "--image-version V"
                                         << "--image-version: needs";
    QTest::newRow("all") << on + "--block-version ts:0,tu:3=Tavena_v2 --record ts:0=0102 "
                                 "--param tu:3@0=5 --param tit:2@22:u8=8 --param ts:0@4:u32=0x10 "
                                 "--diag ts:0=3,12 --diag tu:3=1,0,222,173,190,239 "
                                 "--calibration tit:2=1,2,-3,4 --unclosed-interlock tu:3 "
                                 "--silent-block tit:2 --silent-to tu:3=06,0x0a "
                                 "--silent-at ts:0=05:100 --silent-at ts:0=9:2 --no-announce tu:3 "
                                 "--stuck-input ts:0=5,7 --stuck-input ts:0=1"
                         << "";
}

void TestKpSimService::blockOptions()
{
    QFETCH(QString, args);
    QFETCH(QString, fault);
    QString error;
    const auto cl = ParseCommandLine(QStringList{"kp-sim"} + args.split(' '), &error);
    QVERIFY2(fault.isEmpty() ? error.isEmpty() : error.startsWith(fault), qPrintable(error));
    QCOMPARE(cl.has_value(), fault.isEmpty());
    if (!cl)
        return;

    KpSim sim(cl->options);
    const SimBlock* ts = sim.block(BlockType::Ts, 0);
    const SimBlock* tit = sim.block(BlockType::Tit, 2);
    const SimBlock* tu = sim.block(BlockType::Tu, 3);
    QCOMPARE(ts->versionText(), QByteArray("Tavena_v2"));
    QCOMPARE(tu->versionText(), QByteArray("Tavena_v2"));
    QCOMPARE(ts->parameters().left(12), Hex("01022c01 10000000 000f0000"));
    QCOMPARE(tu->parameters().left(4), Hex("0500c800"));
    QCOMPARE(tit->parameters().mid(22, 2), Hex("0814"));
    QCOMPARE(ts->restarts, uint16_t(3));
    QCOMPARE(ts->repeats, uint16_t(12));
    QVERIFY((tu->diagnosticsTail == std::array<uint8_t, 4>{0xDE, 0xAD, 0xBE, 0xEF}));
    const Calibration c = tit->calibration();
    QVERIFY(c.zero == 1 && c.maximum == 2 && c.minimum == -3 && c.zone == 4);
    QCOMPARE(tu->memoryBytes(0x8000, 24008), SimBlock::UnclosedInterlock().left(24008));
    QVERIFY(tit->silent && !ts->silent && !tu->silent);
    QVERIFY(tu->faults.silentTo[0x06] && tu->faults.silentTo[0x0A] &&
            tu->faults.silentTo.count() == 2);
    QCOMPARE(ts->faults.silentAt.size(), size_t(2));
    QVERIFY(ts->faults.silentAt[0].sub == 0x05 && ts->faults.silentAt[0].nth == 100);
    QVERIFY(ts->faults.silentAt[1].sub == 0x09 && ts->faults.silentAt[1].nth == 2);
    QVERIFY(tu->faults.noAnnouncement && !ts->faults.noAnnouncement);
    QCOMPARE(ts->ts.stuckAtZero, uint32_t(0x51));
    QCOMPARE(ts->ts.inputs & 0x51, 0u);
    QVERIFY(StartMessage(cl->options, 1)
                .contains("ts:0 loses request 05 #100, ts:0 loses request 09 #2, ts:0 inputs 1+5+7 "
                          "stuck at 0"));
}

void TestKpSimService::sampleImage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("sample.rom");
    QProcess p;
    p.start(QStringLiteral(KPSIM_PROGRAM),
            {"--write-image", path, "--image-version", QString::fromUtf8("ТС v1.05")});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    QCOMPARE(image.size(), 0xEC00);
    QCOMPARE(image, image::SampleImage(Hex("d2d1207631 2e3035")));

    // The version text and zeros up to 0x20C0, so the program's 49 version bytes hold just it;
    // a pattern elsewhere in the firmware range, 0xFF outside the two ranges.
    QCOMPARE(image.mid(0x2080, 0x40), Hex("d2d12076312e3035").leftJustified(0x40, '\0'));
    QVERIFY(image.mid(0x2000, 0x80).startsWith("KP-SIM SAMPLE FIRMWARE"));
    QCOMPARE(image.mid(0x7DB8, 8), Hex("c5c4c7c6c1c0c3c2"));
    QCOMPARE(image.mid(0x7DC0, 8), QByteArray(8, char(0xFF)));
    QVERIFY(image.mid(0xEA00).startsWith("KP-SIM SAMPLE LOADER"));
    QCOMPARE(image.left(0x2000), QByteArray(0x2000, char(0xFF)));

    p.start(QStringLiteral(KPSIM_PROGRAM), {"--write-image", dir.filePath("no/such/dir/x.rom")});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 1);
}

QTEST_GUILESS_MAIN(TestKpSimService)
#include "tst_kpsimservice.moc"
