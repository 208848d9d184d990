// SPDX-License-Identifier: GPL-3.0-or-later
// A recorded exchange played back by kp-sim --replay: a session of the program's core against
// the simulator (link start, discovery, a parameter write and its read-back, live data and
// events) recorded with the program's own capture, then the same session against the replay
// of that file, as pcapng and as a pcap with Ethernet framing: the same block list, parameter
// values and tables, and kp-sim exits 0. A different value written diverges at that request:
// told, exit 1. A file that is no capture, or breaks off, is refused.

#include "app/programcore.h"
#include "exchange/pcapngreader.h"
#include "kpsim.h"
#include "replayscript.h"
#include "support/operatorio.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace
{
constexpr blocks::Ref Tu3{3, 3};

quint16 FreePort()
{
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}

// What the program shows after the session.
struct Seen {
    QStringList lines, tables, events;
    params::Values values;
    bool operator==(const Seen&) const = default;
};

// The session: the link, a discovery (its list kept), control type `type` written into tu:3
// and the block read again; then `meanwhile` (the live data come in), the capture stopped, and
// what the program shows.
Seen Session(quint16 port, qint64 type, const QString& capture,
             const std::function<void()>& meanwhile)
{
    ProgramCore core;
    PolicyOperator op;
    LinkSettings& s = core.Link.settings;
    s.BaseIP = s.BaseIPadapter = QStringLiteral("127.0.0.1");
    s.BasePortD = QString::number(port);
    core.Link.Timer4.setInterval(20);
    core.Blocks.SetOperator(&op);
    core.Blocks.AnnouncementTimer.setInterval(150);
    if (!capture.isEmpty() && !core.Capture.Start(capture).isEmpty())
        return {};
    if (!core.Link.Enable(true).isEmpty())
        return {};
    QElapsedTimer t;
    t.start();
    while (!core.Link.LinkOpen && t.elapsed() < 3000)
        QTest::qWait(5);
    core.Link.Timer4.stop();
    Seen seen;
    if (core.Blocks.Discover(BlockService::Scope::Announced)) {
        for (int i = 0; i < core.Blocks.bloks.count(); ++i)
            seen.lines << core.Blocks.bloks.line(i);
        if (auto v = core.Blocks.ValuesOf(Tu3)) {
            (*v)[0] = type;
            (void)core.Blocks.WriteValues(Tu3, *v);
            core.Blocks.ReadBlock(Tu3);
        }
    }
    meanwhile();
    core.Capture.Stop();
    seen.values = core.Blocks.ValuesOf(Tu3).value_or(params::Values{});
    for (const GridTableModel* m : {&core.Tables.Telesignals, &core.Tables.Measurements})
        for (int r = 0; r < m->rowCount(); ++r)
            for (int c = 0; c < m->columnCount(); ++c)
                seen.tables << m->cell(r, c);
    for (qsizetype i = 0; i < core.Tables.Events.size(); ++i)
        seen.events << core.Tables.Events.at(i);
    return seen;
}

// The capture again as a classic pcap file of Ethernet frames.
QByteArray AsEthernetPcap(const QByteArray& pcapngBytes)
{
    const pcapng::Capture c = pcapng::read(pcapngBytes);
    QByteArray out = QByteArray::fromHex("d4c3b2a1020004000000000000000000ffff000001000000");
    const auto le32 = [&out](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out.append(char(v >> (8 * i)));
    };
    for (const pcapng::Packet& p : c.packets) {
        QByteArray frame = QByteArray::fromHex("02000000000102000000000208004500");
        const int ipLength = 28 + int(p.payload.size());
        frame += char(ipLength >> 8);
        frame += char(ipLength);
        frame += QByteArray::fromHex("0000400040110000");
        for (const QHostAddress& a : {p.source, p.destination})
            for (int i = 3; i >= 0; --i)
                frame += char(a.toIPv4Address() >> (8 * i));
        for (const quint16 v :
             {p.sourcePort, p.destinationPort, quint16(ipLength - 20), quint16(0)})
            frame += char(v >> 8), frame += char(v);
        frame += p.payload;
        le32(quint32(p.timestamp / 1000000));
        le32(quint32(p.timestamp % 1000000));
        le32(quint32(frame.size()));
        le32(quint32(frame.size()));
        out += frame;
    }
    return out;
}

struct Replay {
    QProcess process;
    quint16 port = FreePort();
    explicit Replay(const QString& file)
    {
        process.start(QStringLiteral(KPSIM_PROGRAM),
                      {"--port", QString::number(port), "--replay", file});
        if (!process.waitForStarted() || !process.waitForReadyRead(5000))
            qFatal("kp-sim did not start");
    }
};
} // namespace

class TestReplay : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    Seen recorded;
    int requestsBeforeWrite = 0;

    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

private slots:
    // The session against the simulator, recorded by the program's own capture.
    void initTestCase()
    {
        kpsim::Options o;
        o.port = 0;
        o.blocks = {{kpsim::BlockType::Ts, 0, {}},
                    {kpsim::BlockType::Tit, 2, {}},
                    {kpsim::BlockType::Tu, 3, {}}};
        o.rates.tsStates = 4;
        o.rates.tsEvents = 8;
        o.rates.titReadings = 4;
        kpsim::KpSim sim(o);
        QVERIFY(sim.start());
        int requests = 0;
        connect(&sim, &kpsim::KpSim::requestReceived, this, [&](const QByteArray& d) {
            ++requests;
            if (requestsBeforeWrite == 0 && d.size() > 7 && uint8_t(d[4]) == 0xC2 &&
                uint8_t(d[7]) == 0x0B)
                requestsBeforeWrite = requests - 1;
        });
        recorded = Session(sim.localPort(), 5, path("session.pcapng"), [] { QTest::qWait(1000); });
        QVERIFY2(recorded.lines.size() == 3, qPrintable(recorded.lines.join("\n")));
        QVERIFY(requestsBeforeWrite > 0);
        QVERIFY(recorded.events.size() >= 4); // live data and events came during the session
        QVERIFY(recorded.tables.filter(QRegularExpression("^\\d+$")).size() >= 32);
        QFile pcapng(path("session.pcapng")), pcap(path("session.pcap"));
        QVERIFY(pcapng.open(QIODevice::ReadOnly) && pcap.open(QIODevice::WriteOnly));
        pcap.write(AsEthernetPcap(pcapng.readAll()));
    }

    void sessionPlayedBack_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("type");
        QTest::addColumn<int>("code");
        QTest::newRow("own pcapng") << "session.pcapng" << qint64(5) << 0;
        QTest::newRow("pcap of Ethernet frames") << "session.pcap" << qint64(5) << 0;
        QTest::newRow("another value written") << "session.pcapng" << qint64(4) << 1;
    }
    void sessionPlayedBack()
    {
        QFETCH(QString, file);
        QFETCH(qint64, type);
        QFETCH(int, code);
        Replay replay(dir.filePath(file));
        // The replay ends by itself once everything recorded is played.
        const Seen seen = Session(replay.port, type, {}, [&] {
            QElapsedTimer t;
            t.start();
            while (replay.process.state() != QProcess::NotRunning && t.elapsed() < 20000)
                QTest::qWait(10);
        });
        QVERIFY(replay.process.state() == QProcess::NotRunning);
        const QString err = QString::fromUtf8(replay.process.readAllStandardError());
        const QString out = QString::fromUtf8(replay.process.readAllStandardOutput());
        QCOMPARE(replay.process.exitCode(), code);
        if (code == 0) {
            QCOMPARE(seen.lines, recorded.lines);
            QCOMPARE(seen.values, recorded.values);
            QCOMPARE(seen.tables, recorded.tables);
            QCOMPARE(seen.events, recorded.events);
            QVERIFY2(out.contains("divergences: 0"), qPrintable(out));
        } else {
            QVERIFY2(err.contains(
                         QStringLiteral("diverged at request %1 of").arg(requestsBeforeWrite + 1)),
                     qPrintable(err));
            QVERIFY2(out.contains("divergences: 1"), qPrintable(out));
        }
    }

    // A clock that steps back, and times damaged beyond any real recording, play in the file's
    // order and within a week: nothing overflows, no answer comes before its request.
    void damagedTimesPlayInFileOrder()
    {
        const quint32 program = 0x7F000001, adapter = 0x7F000002;
        const capture::UdpEnds toAdapter{program, 5000, adapter, 972};
        const capture::UdpEnds fromAdapter{adapter, 972, program, 5000};
        constexpr qint64 Week = 7LL * 24 * 3600 * 1000000;
        const QList<capture::Datagram> datagrams = {
            {1000, toAdapter, QByteArray::fromHex("8000")},
            {std::numeric_limits<qint64>::min(), toAdapter, QByteArray::fromHex("00000119c2")},
            {500, fromAdapter, QByteArray::fromHex("820101")},
            {std::numeric_limits<qint64>::max(), fromAdapter, QByteArray::fromHex("8001020304")},
            {2000, fromAdapter, QByteArray::fromHex("8001020304")}};
        QString error;
        const auto script = replay::MakeScript(datagrams, std::nullopt, &error);
        QVERIFY2(script, qPrintable(error));
        QCOMPARE(script->requests.size(), 1);
        QCOMPARE(script->requests[0].us, 0);
        QCOMPARE(script->requests[0].answers.size(), 1);
        QCOMPARE(script->requests[0].answers[0].afterUs, 0);
        QCOMPARE(script->spontaneous.size(), 2);
        QCOMPARE(script->spontaneous[0].us, Week);
        QCOMPARE(script->spontaneous[1].us, Week);
    }

    void badFilesRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("says");
        QFile f(path("session.pcapng"));
        f.open(QIODevice::ReadOnly);
        const QByteArray whole = f.readAll();
        QTest::newRow("broken off") << whole.left(whole.size() / 2 + 1) << "breaks off";
        QTest::newRow("text") << QByteArray("not a capture\n") << "not a pcap or pcapng";
        QTest::newRow("no exchange")
            << AsEthernetPcap(QByteArray()) << "no datagram of the exchange";
    }
    void badFilesRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, says);
        QFile f(path("bad"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        QProcess p;
        p.start(QStringLiteral(KPSIM_PROGRAM), {"--port", "0", "--replay", f.fileName()});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(p.readAllStandardError().contains(says.toUtf8()), qPrintable(says));
    }
};

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"
