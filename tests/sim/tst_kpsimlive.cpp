// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated blocks' live side over loopback: records sent unasked, telecontrol, wiring,
// archive, counter preset and bursts. Records are pinned byte by byte as the program reads them.

#include "commandline.h"
#include "exchange/packet.h"
#include "kpsim.h"
#include "simpeer.h"
#include "support/byteorder.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <csignal>

using namespace kpsim;
using namespace simtest;

namespace
{

// 2023-11-14 22:13:20.250 on the controlled point's clock: stamp bytes 00 f1 53 65, ms fa 00.
constexpr qint64 ClockMs = 1700000000250;

// A simulator with a fixed clock whose link a peer has started.
struct Linked {
    explicit Linked(Options o) : sim(std::move(o)) {}
    bool open()
    {
        sim.setClockSource([] { return ClockMs; });
        if (!sim.start())
            return false;
        peer = std::make_unique<Peer>(sim.localPort());
        peer->send(Hex("8100"));
        return peer->barrier(0xF0) && sim.linkStarted();
    }
    // Sends a one-byte command record and returns the first datagram after its receipt and
    // transmission report, or an empty array when none comes.
    QByteArray command(uint8_t function, uint8_t address, uint8_t sub, int timeoutMs = 2000)
    {
        const uint8_t s = seq++;
        peer->send(Stamped(0, s, function, address, sub, {0}));
        if (peer->next() != packet::Bytes({0x82, 0x01, s}) ||
            peer->next() != packet::Bytes({0x83, 0x00, s}))
            return "bad receipt or report";
        return peer->next(timeoutMs);
    }
    KpSim sim;
    std::unique_ptr<Peer> peer;
    uint8_t seq = 0x40;
};

QList<QByteArray> Records(const QByteArray& d)
{
    QList<QByteArray> list;
    CanRecordWalk walk(d);
    CanRecord rec;
    while (walk.next(rec))
        list << d.mid(rec.start, packet::RecordHeaderSize + rec.dlc);
    return list;
}

// The kind of a record as the program tells them apart.
std::optional<RecordKind> KindOf(const QByteArray& r)
{
    const uint8_t f = packet::at(r, 0), flags = packet::at(r, 1), sub = packet::at(r, 3);
    if (f == 0x48)
        return sub & 0x40 ? RecordKind::TitStamp : RecordKind::TitValues;
    if (f == 0x44 && (flags & 0xE3) == 0x21 && sub != 0)
        return RecordKind::TiiCounter;
    if (f == 0x44 && !(flags & 0x80) && sub == 0)
        return RecordKind::TsState;
    if (f == 0x44 && (flags & 0xE3) == 0x80)
        return RecordKind::TsEvent;
    return std::nullopt;
}

} // namespace

class TestKpSimLive : public QObject
{
    Q_OBJECT
private slots:
    void telemetryRecords();
    void nothingBeforeTheLinkStart();
    void ratesDriveTheTimers();
    void measurementsLiveAndRepeatable();
    void telecontrolExchange();
    void relaysDriveWiredInputs();
    void archiveAndCounterPreset();
    void burstCountsWhatWasWritten();
    void liveCommandLine_data();
    void liveCommandLine();
    void programBurst();
};

void TestKpSimLive::telemetryRecords()
{
    Options o =
        LoopbackOptions({{BlockType::Ts, 3, {}}, {BlockType::Tit, 1, {}}, {BlockType::Tu, 0, {}}});
    o.titChannels = 5;
    o.tiiChannels = 2;
    Linked l(o);
    SimBlock* ts = l.sim.block(BlockType::Ts, 3);
    SimBlock* tu = l.sim.block(BlockType::Tu, 0);
    ts->ts.inputs = 0x80000001;
    QVERIFY(l.open());
    Peer& peer = *l.peer;

    // State: inputs 1 and 32, archive position 0.
    QVERIFY(l.sim.sendRound(Live::TsStates));
    QCOMPARE(peer.next(), Hex("000a0019 4400030005 0100008000"));

    // A change: the event (input 5 on, stamp, milliseconds, archive position 1) with the state.
    QVERIFY(l.sim.setInput(3, 5, true));
    QCOMPARE(peer.next(), Hex("00160119 4480038407 00f15365 fa00 01 4400030005 1100008001"));
    // A double point on inputs 5 and 6: on, second off.
    QVERIFY(l.sim.setDoublePoint(3, 5, true, false));
    QCOMPARE(Records(peer.next()),
             QList<QByteArray>({Hex("448003a407 00f15365fa0002"), Hex("44000300051100008002")}));

    // Measurements: the group's stamp, then readings from channel index 0 and 4.
    QVERIFY(l.sim.sendRound(Live::TitReadings));
    const QList<QByteArray> titRecords = Records(peer.next());
    QCOMPARE(titRecords.size(), 3);
    QCOMPARE(titRecords[0], Hex("4800014004 00f15365"));
    QCOMPARE(titRecords[1].left(5), Hex("4800010008"));
    QCOMPARE(titRecords[2].left(5), Hex("4800010402"));
    const QByteArray readings = titRecords[1].mid(5) + titRecords[2].mid(5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(
            int16_t(byteorder::le16(reinterpret_cast<const uint8_t*>(readings.data()) + 2 * i)),
            SimBlock::Reading(o.seed, 1, i, 0));

    // Counters 1 and 2: value, then stamp.
    QVERIFY(l.sim.sendRound(Live::TiiCounters));
    QByteArray expected;
    for (int k = 1; k <= 2; ++k) {
        expected += packet::Bytes({0x44, 0x21, 0x03, uint8_t(k), 0x08});
        uint8_t value[4];
        byteorder::putLe32(value, ts->ts.counters[size_t(k - 1)]);
        expected += QByteArray(reinterpret_cast<const char*>(value), 4) + Hex("00f15365");
    }
    QCOMPARE(peer.next().mid(4), expected);

    // Interlocks 1 and 32 after an unused byte; diagnostics big-endian in both forms.
    tu->tu.interlocks = 0x80000001;
    QVERIFY(l.sim.sendRound(Live::Interlocks));
    QCOMPARE(peer.next().mid(4), Hex("420000 0a05 00 01000080"));
    tu->tu.volts = 24.0;
    tu->tu.celsius = 35.0;
    QVERIFY(l.sim.sendRound(Live::TuDiagnostics));
    QCOMPARE(peer.next().mid(4), Hex("4200000204 071b 0542"));
    tu->tu.diagnosticsForm = 0x08;
    QVERIFY(l.sim.sendRound(Live::TuDiagnostics));
    QCOMPARE(peer.next().mid(4), Hex("4200000804 0139 00f0"));
    // Read back with the program's scales, the codes give what the block measured.
    const auto [t, v] = record::DiagnosticCodes(0x02, 27.5, -12.0);
    QVERIFY(std::abs(v * 0.01783 - 27.5) < 0.01);
    QVERIFY(std::abs((t * 0.0006105 - 0.986) * 1000 / 3.55 + 12.0) < 0.2);

    // The program's clock setting moves the stamps.
    peer.send(Hex("000b0019 01188001 06 78563412 0000"));
    QCOMPARE(peer.next(), Hex("820100"));
    QCOMPARE(peer.next(), Hex("830000"));
    QVERIFY(l.sim.sendRound(Live::TitReadings));
    QCOMPARE(Records(peer.next()).value(0), Hex("480001400478563412"));
}

void TestKpSimLive::nothingBeforeTheLinkStart()
{
    Options o = LoopbackOptions({{BlockType::Ts, 0, {}}, {BlockType::Tit, 1, {}}});
    o.titChannels = 32;
    KpSim sim(o);
    QVERIFY(sim.start());
    Peer peer(sim.localPort());
    QVERIFY(peer.barrier());

    // Heard but not linked: rounds send nothing and leave the blocks as they were; a change
    // is kept (it is in the archive) but not sent.
    QVERIFY(!sim.sendRound(Live::TitReadings));
    QVERIFY(!sim.sendRound(Live::TsEvents));
    QCOMPARE(sim.block(BlockType::Tit, 1)->tit.step, uint32_t(0));
    QVERIFY(sim.setInput(0, 7, true));
    QVERIFY(!sim.setInput(0, 33, true));
    QVERIFY(!sim.setInput(5, 1, true));
    QVERIFY(peer.barrier());
    QCOMPARE(sim.block(BlockType::Ts, 0)->ts.archivePosition, uint8_t(1));

    // Linked: 32 channels are a stamp and eight reading records, six records to a datagram.
    peer.send(Hex("8100"));
    QVERIFY(peer.barrier());
    QVERIFY(sim.sendRound(Live::TitReadings));
    const QList<QByteArray> first = Records(peer.next());
    const QList<QByteArray> second = Records(peer.next());
    QCOMPARE(first.size(), 6);
    QCOMPARE(second.size(), 3);
    QCOMPARE(packet::at(second.last(), 3), uint8_t(28));
    QCOMPARE(sim.counters().liveSent, 2);

    // A silent adapter sends no round.
    sim.faults().silent = true;
    QVERIFY(!sim.sendRound(Live::TsStates));
    sim.faults().silent = false;
    QVERIFY(peer.barrier());
}

void TestKpSimLive::ratesDriveTheTimers()
{
    Options o = LoopbackOptions({{BlockType::Ts, 0, {}}, {BlockType::Tu, 1, {}}});
    o.rates.tsStates = 50;
    o.rates.interlocks = 50;
    KpSim sim(o);
    QVERIFY(sim.start());
    QSignalSpy sent(&sim, &KpSim::datagramSent);
    Peer peer(sim.localPort());
    QVERIFY(peer.barrier());
    sent.clear();
    QVERIFY(!sent.wait(200)); // heard but not linked

    peer.send(Hex("8100"));
    QElapsedTimer clock;
    clock.start();
    int states = 0, interlocks = 0;
    while (states < 5 || interlocks < 5) {
        const QList<QByteArray> records = Records(peer.next());
        QVERIFY(!records.isEmpty());
        for (const QByteArray& r : records) {
            states += KindOf(r) == RecordKind::TsState;
            interlocks += packet::at(r, 0) == 0x42 && packet::at(r, 3) == 10;
        }
    }
    // Five rounds take at least four intervals of 20 ms (timers may fire 5 % early).
    QVERIFY2(clock.elapsed() >= 76, qPrintable(QString::number(clock.elapsed())));

    // Rates off: nothing more is sent unasked, and what came is what the simulator counted.
    sim.setRates({});
    for (QByteArray d = peer.next(100); !d.isEmpty(); d = peer.next(100))
        for (const QByteArray& r : Records(d))
            states += KindOf(r) == RecordKind::TsState;
    sent.clear();
    QVERIFY(!sent.wait(300));
    QCOMPARE(sim.counters().recordsOf(RecordKind::TsState), states);
}

void TestKpSimLive::measurementsLiveAndRepeatable()
{
    SimBlock a(BlockType::Tit, 2), b(BlockType::Tit, 2), other(BlockType::Tit, 2);
    a.tit.channels = b.tit.channels = other.tit.channels = 32;
    std::vector<std::vector<int16_t>> series;
    bool differs = false;
    for (int step = 0; step < 240; ++step) {
        series.push_back(a.nextReadings(7));
        QVERIFY(b.nextReadings(7) == series.back());
        differs = differs || other.nextReadings(8) != series.back();
    }
    QVERIFY(differs);
    // Every channel swings by hundreds of quanta, a few dozen at most from one reading to
    // the next: a slow wave with a little noise.
    for (size_t ch = 0; ch < 32; ++ch) {
        int lo = 32767, hi = -32768, jump = 0;
        for (size_t s = 0; s < series.size(); ++s) {
            lo = std::min<int>(lo, series[s][ch]);
            hi = std::max<int>(hi, series[s][ch]);
            if (s > 0)
                jump = std::max(jump, std::abs(series[s][ch] - series[s - 1][ch]));
        }
        QVERIFY2(
            hi - lo > 500 && jump < 400,
            qPrintable(QStringLiteral("channel %1: %2..%3, %4").arg(ch).arg(lo).arg(hi).arg(jump)));
    }
}

void TestKpSimLive::telecontrolExchange()
{
    Linked l(LoopbackOptions({{BlockType::Tu, 2, {}}}));
    SimBlock* tu = l.sim.block(BlockType::Tu, 2);
    tu->tu.coefficients[4] = 500;
    tu->tu.holdMs = 0;
    QVERIFY(l.open());
    QSignalSpy selected(&l.sim, &KpSim::telecontrolSelected);
    QSignalSpy executed(&l.sim, &KpSim::telecontrolExecuted);

    // Select relay 5: ready with relay index and coefficient (big-endian). Execute: done, with
    // stamp and milliseconds.
    QCOMPARE(l.command(0x42, 2, 4), Hex("00080019 4200020303 04 01f4"));
    QCOMPARE(l.command(0x02, 2, 2), Hex("000d0119 4200020108 0400 00f15365 fa00"));
    QCOMPARE(selected.takeFirst(), QVariantList({2, 5}));
    QCOMPARE(executed.takeFirst(), QVariantList({2, 5, 0}));
    QCOMPARE(tu->tu.relays, uint32_t(1) << 4);

    // A relay that reports an error: status, then the coefficient.
    tu->tu.status[4] = 6;
    QCOMPARE(l.command(0x42, 2, 4).mid(4), Hex("420002030304 01f4"));
    QCOMPARE(l.command(0x02, 2, 2).mid(4), Hex("4200020104 0406 01f4"));
    // Execute with nothing selected; a relay the block does not have (256) is refused at once.
    QCOMPARE(l.command(0x02, 2, 2).mid(4), Hex("4200020104 0008 0000"));
    QCOMPARE(l.command(0x42, 2, 0xFF).mid(4), Hex("4200020104 ff01 0000"));
    QVERIFY(l.peer->barrier());

    // Silence: no ready; then a ready but no result; an absent block answers nothing.
    tu->tu.noReady = true;
    QCOMPARE(l.command(0x42, 2, 0, 200), QByteArray());
    tu->tu.noReady = false;
    tu->tu.noResult = true;
    QCOMPARE(l.command(0x42, 2, 0).mid(7, 1), Hex("03"));
    QCOMPARE(l.command(0x02, 2, 2, 200), QByteArray());
    QCOMPARE(l.command(0x42, 6, 0, 200), QByteArray());
    QCOMPARE(l.sim.counters().recordsOf(RecordKind::TuReady), 3);
    QCOMPARE(l.sim.counters().recordsOf(RecordKind::TuResult), 4);
}

void TestKpSimLive::relaysDriveWiredInputs()
{
    Options o = LoopbackOptions({{BlockType::Tu, 0, {}}, {BlockType::Ts, 0, {}}});
    o.wiring = {{0, 0, false}};
    o.relayHoldMs = 60;
    o.faultyRelays = {{0, 4}};
    Linked l(o);
    QVERIFY(l.open());
    Peer& peer = *l.peer;
    QCOMPARE(l.sim.block(BlockType::Ts, 0)->ts.inputs, uint32_t(0)); // at rest

    // Relay 3: input 3 reports on before the result, and off when the relay releases.
    QCOMPARE(l.command(0x42, 0, 2).mid(4, 4), Hex("42000003"));
    peer.send(Stamped(0, 0x50, 0x02, 0, 0, {0}));
    QCOMPARE(peer.next(), Hex("820150"));
    QCOMPARE(peer.next(), Hex("830050"));
    QCOMPARE(Records(peer.next()),
             QList<QByteArray>({Hex("4480008207 00f15365fa0001"), Hex("4400000005 0400000001")}));
    QElapsedTimer held;
    held.start();
    QCOMPARE(packet::at(peer.next(), 7), uint8_t(0x01)); // the result
    QCOMPARE(Records(peer.next()).value(0).left(5), Hex("4480000207"));
    QVERIFY2(held.elapsed() >= 55, qPrintable(QString::number(held.elapsed())));

    // The faulty relay switches and reports done, but its input stays.
    QSignalSpy switched(&l.sim, &KpSim::relaySwitched);
    QVERIFY(!l.command(0x42, 0, 3).isEmpty());
    QCOMPARE(l.command(0x02, 0, 0).mid(7, 5), Hex("0108030000")); // relay 4 done
    QVERIFY(WaitForCount(switched, 2));
    QCOMPARE(switched.at(0), QVariantList({0, 4, true}));
    QVERIFY(peer.barrier());

    // Normally closed contacts rest at 1. A latched relay holds until the next switches: the
    // first releases (input back to 1) before the second opens its input.
    l.sim.setWiring({{0, 0, true}});
    l.sim.block(BlockType::Tu, 0)->tu.holdMs = 0;
    QCOMPARE(l.sim.block(BlockType::Ts, 0)->ts.inputs, 0xFFFFFFFF);
    QVERIFY(!l.command(0x42, 0, 6).isEmpty());
    QCOMPARE(Records(l.command(0x02, 0, 0)).value(0).mid(3, 1), Hex("06"));
    QCOMPARE(packet::at(peer.next(), 7), uint8_t(0x01));
    QVERIFY(!l.command(0x42, 0, 7).isEmpty());
    QCOMPARE(Records(l.command(0x02, 0, 0)).value(1), Hex("4400000005 ffffffff04"));
    QCOMPARE(Records(peer.next()).value(1), Hex("4400000005 7fffffff05"));
    QCOMPARE(packet::at(peer.next(), 7), uint8_t(0x01));
}

void TestKpSimLive::archiveAndCounterPreset()
{
    Options o = LoopbackOptions({{BlockType::Ts, 0, {}}, {BlockType::Ts, 3, {}}});
    o.rates.tiiCounters = 0.001; // counters reported, but no round during the test
    Linked l(o);
    QVERIFY(l.open());
    Peer& peer = *l.peer;
    QSignalSpy archive(&l.sim, &KpSim::archiveRequested);

    // The archive answers with the event as it was sent; an empty position with no event.
    QVERIFY(l.sim.setInput(0, 1, true));
    const QByteArray first = Records(peer.next()).value(0);
    QVERIFY(l.sim.setInput(0, 2, true));
    const QByteArray second = Records(peer.next()).value(0);
    QCOMPARE(Records(l.command(0x44, 0, 1)), QList<QByteArray>{first});
    QCOMPARE(Records(l.command(0x44, 0, 2)), QList<QByteArray>{second});
    QCOMPARE(l.command(0x44, 0, 9).mid(4), Hex("4480000000"));
    QCOMPARE(archive.count(), 3);
    QCOMPARE(archive.last(), QVariantList({0, 9}));

    // Counter number 18 (channel 19) of block 3 set to 1000: the block replies, then reports
    // the counter.
    QSignalSpy presets(&l.sim, &KpSim::counterPreset);
    peer.send(Hex("000b0019 c418030c06 1200e8030000"));
    QCOMPARE(peer.next(), Hex("820100"));
    QCOMPARE(peer.next(), Hex("830000"));
    QCOMPARE(peer.next().mid(4), Hex("c418030c08 1200e80300000000"));
    QCOMPARE(peer.next().mid(4), Hex("4421031308 e8030000 00f15365"));
    QCOMPARE(presets.takeFirst(), QVariantList({3, 19, 1000u}));
    QCOMPARE(l.sim.block(BlockType::Ts, 3)->ts.counters[18], 1000u);

    // Counters not reported: the reply alone.
    l.sim.setRates({});
    peer.send(Hex("000b0119 c418030c06 0000ffffffff"));
    QCOMPARE(peer.next(), Hex("820101"));
    QCOMPARE(peer.next(), Hex("830001"));
    QCOMPARE(peer.next().mid(4, 5), Hex("c418030c08"));
    QVERIFY(peer.barrier());
    QCOMPARE(l.sim.block(BlockType::Ts, 3)->ts.counters[0], 0xFFFFFFFFu);
}

void TestKpSimLive::burstCountsWhatWasWritten()
{
    Options o = LoopbackOptions({{BlockType::Ts, 0, {}}, {BlockType::Tit, 1, {}}});
    o.burstSlice = 20;
    o.burstPauseMs = 0;
    Linked l(o);
    QVERIFY(!l.sim.sendBurst(10)); // not started, nobody heard
    QVERIFY(l.open());
    QSignalSpy finished(&l.sim, &KpSim::burstFinished);
    const int start = l.sim.nextSequence();

    constexpr int total = 600;
    QVERIFY(l.sim.sendBurst(total));
    QVERIFY(!l.sim.sendBurst(1)); // one at a time
    std::array<int, RecordKindCount> kinds{};
    for (int i = 0; i < total; ++i) {
        const QByteArray d = l.peer->next();
        QCOMPARE(packet::at(d, 2), uint8_t(start + i));
        const QList<QByteArray> records = Records(d);
        QVERIFY(!records.isEmpty() && records.size() <= 6);
        for (const QByteArray& r : records) {
            const auto kind = KindOf(r);
            QVERIFY2(kind, r.toHex(' ').constData());
            ++kinds[size_t(*kind)];
        }
    }
    QVERIFY(WaitForCount(finished, 1));
    QCOMPARE(finished.takeFirst(), QVariantList{total});
    QCOMPARE(l.sim.counters().burstSent, total);
    QCOMPARE(l.sim.counters().liveSent, total);
    QVERIFY(l.sim.counters().records == kinds);
    for (RecordKind k : {RecordKind::TsState, RecordKind::TsEvent, RecordKind::TitStamp,
                         RecordKind::TitValues, RecordKind::TiiCounter})
        QVERIFY(kinds[size_t(k)] > 0);
    QVERIFY(l.peer->barrier());

    // Stopped early, the burst tells what was written.
    QVERIFY(l.sim.sendBurst(100000));
    QVERIFY(l.peer->next().size() > 4);
    l.sim.stopBurst();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), l.sim.counters().burstSent - total);
    QVERIFY(!l.sim.burstRunning());

    // Nothing to send: telecontrol blocks have no telemetry.
    Linked tuOnly(LoopbackOptions({{BlockType::Tu, 0, {}}}));
    QVERIFY(tuOnly.open());
    QVERIFY(!tuOnly.sim.sendBurst(10));
}

void TestKpSimLive::liveCommandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::newRow("negative rate") << QStringList{"--tit-rate", "-1"} << false;
    QTest::newRow("rate text") << QStringList{"--ts-rate", "fast"} << false;
    QTest::newRow("wire address") << QStringList{"--wire", "0:8"} << false;
    QTest::newRow("wire contact") << QStringList{"--wire", "0:0:xx"} << false;
    QTest::newRow("status relay") << QStringList{"--tu-status", "1:33=6"} << false;
    QTest::newRow("status value") << QStringList{"--tu-status", "1=256"} << false;
    QTest::newRow("faulty relay 0") << QStringList{"--faulty-relay", "0:0"} << false;
    QTest::newRow("diag form") << QStringList{"--tu-diag-form", "4"} << false;
    QTest::newRow("channels") << QStringList{"--tit-channels", "0"} << false;
    QTest::newRow("quiet") << QStringList{"--quiet", "--tit-rate", "2.5"} << true;
    QTest::newRow("full") << QString("--wire 0:0,1:2:NC --tu-status 6,1=0,1:5=11 "
                                     "--faulty-relay 0:5 --tu-no-result --relay-hold 0 "
                                     "--tu-diag-form 8 --seed 42 --tii-channels 0 --burst 1000")
                                 .split(' ')
                          << true;
}

void TestKpSimLive::liveCommandLine()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    QString error;
    const auto cl = ParseCommandLine(QStringList{"kp-sim"} + args, &error);
    QCOMPARE(cl.has_value(), ok);
    QCOMPARE(error.isEmpty(), ok);
    const QByteArray tag = QTest::currentDataTag();
    if (tag == "quiet") {
        Rates only;
        only.titReadings = 2.5;
        for (int k = 0; k < LiveCount; ++k)
            QCOMPARE(cl->options.rates.of(Live(k)), only.of(Live(k)));
    } else if (tag == "full") {
        const Options& o = cl->options;
        for (int k = 0; k < LiveCount; ++k) // the demo's rates unless told otherwise
            QCOMPARE(o.rates.of(Live(k)), DemoRates().of(Live(k)));
        QCOMPARE(o.wiring.size(), 2);
        QVERIFY(!o.wiring[0].normallyClosed && o.wiring[1].tu == 1 && o.wiring[1].ts == 2 &&
                o.wiring[1].normallyClosed);
        // Applied in order, later items win: block 1 relay 5 gets 11, its others 0, the rest 6.
        KpSim sim(o);
        SimBlock& b0 = sim.addBlock({BlockType::Tu, 0, {}});
        SimBlock& b1 = sim.addBlock({BlockType::Tu, 1, {}});
        QCOMPARE(b0.tu.status[0], uint8_t(6));
        QCOMPARE(b1.tu.status[4], uint8_t(11));
        QCOMPARE(b1.tu.status[5], uint8_t(0));
        QCOMPARE(b0.tu.faultyRelay, 5);
        QVERIFY(!b0.tu.noReady && b0.tu.noResult);
        QCOMPARE(b0.tu.holdMs, 0);
        QCOMPARE(b0.tu.diagnosticsForm, uint8_t(8));
        QCOMPARE(o.seed, 42u);
        QCOMPARE(o.tiiChannels, 0);
        QCOMPARE(o.burstOnLinkStart, 1000);
    }
}

void TestKpSimLive::programBurst()
{
    QProcess sim;
    sim.start(QStringLiteral(KPSIM_PROGRAM),
              {"--port", "0", "--quiet", "--blocks", "ts:0,tit:1", "--burst", "40"});
    QVERIFY(sim.waitForStarted());
    // Output may already sit in the process's buffer (the peer's waits run the event loop).
    QByteArray out;
    const auto readUntil = [&](const char* text) {
        for (out += sim.readAllStandardOutput(); !out.contains(text);
             out += sim.readAllStandardOutput())
            if (!sim.waitForReadyRead(5000))
                return false;
        return true;
    };
    QVERIFY(readUntil("\n"));
    const int colon = out.indexOf(':', out.indexOf("127.0.0.1"));
    const quint16 port = quint16(out.mid(colon + 1, out.indexOf(',', colon) - colon - 1).toUInt());
    QVERIFY2(port != 0, out.constData());

    Peer peer(port);
    peer.send(Hex("8100"));
    for (int i = 0; i < 40; ++i)
        QCOMPARE(packet::at(peer.next(5000), 3), uint8_t(0x19));
    QVERIFY2(readUntil("\nkp-sim: burst of 40 datagrams sent\n"), out.constData());
    QVERIFY(peer.next(200).isEmpty()); // quiet: nothing after the burst

    ::kill(pid_t(sim.processId()), SIGTERM);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestKpSimLive)
#include "tst_kpsimlive.moc"
