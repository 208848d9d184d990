// SPDX-License-Identifier: GPL-3.0-or-later
// The replay of a long recording: a capture of the given minutes of a controlled point's live
// data at the demo's rates (readings every second, states every 2 s, an event every 4 s,
// counters every 5 s) with the program's receipts, played by the kp-sim program to this
// benchmark, which answers as the program does. kp-sim's CPU time against the wall time:
// what the replay costs while it waits between datagrams.
//
//   bench_replay [minutes (10)] [speed (1)]

#include "exchange/pcapng.h"
#include "kpsim.h"
#include "records.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <cstdio>
#include <sys/resource.h>

namespace
{
constexpr quint32 Loopback = 0x7F000001;
constexpr quint16 ProgramPort = 40000, AdapterPort = 972;

// The recording: returns the number of the adapter's datagrams.
int WriteRecording(const QString& path, int minutes)
{
    PcapngWriter w;
    QString error;
    if (!w.Open(path, &error))
        qFatal("%s", qPrintable(error));
    const capture::UdpEnds toAdapter{Loopback, ProgramPort, Loopback, AdapterPort};
    const capture::UdpEnds fromAdapter{Loopback, AdapterPort, Loopback, ProgramPort};
    const qint64 start = capture::NowMicroseconds();
    w.Append(start, toAdapter, QByteArray::fromHex("8000"), {});
    w.Append(start + 5000, fromAdapter, kpsim::KpSim().connectionRequestBytes(), {});
    w.Append(start + 6000, toAdapter, QByteArray::fromHex("8100"), {});
    int adapter = 1;
    quint8 seq = 0;
    const auto data = [&](qint64 us, const QByteArray& records) {
        QByteArray d = QByteArray::fromHex("00");
        d += char(records.size());
        d += char(seq);
        d += char(0x19);
        w.Append(us, fromAdapter, d + records, {});
        w.Append(us + 800, toAdapter, QByteArray::fromHex("8201") + char(seq), {});
        ++seq;
        ++adapter;
    };
    for (int s = 1; s <= minutes * 60; ++s) {
        const qint64 us = start + qint64(s) * 1000000;
        QByteArray readings = kpsim::record::TitStamp(2, quint32(s));
        for (int first = 0; first < 16; first += 4) {
            const int16_t r[4] = {int16_t(s), int16_t(first), 1000, -1000};
            readings += kpsim::record::TitValues(2, first, r);
        }
        data(us, readings);
        if (s % 2 == 0)
            data(us + 200000, kpsim::record::TsState(0, quint32(s), quint8(s)));
        if (s % 4 == 0)
            data(us + 400000, kpsim::record::TsEventEmpty(0));
        if (s % 5 == 0)
            data(us + 600000, kpsim::record::TiiCounter(0, 1, quint32(s), quint32(s)));
        if (s % 60 == 0 && !w.Flush(&error))
            qFatal("%s", qPrintable(error));
    }
    if (!w.Flush(&error))
        qFatal("%s", qPrintable(error));
    w.Close();
    return adapter;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? atoi(argv[1]) : 10;
    const QString speed = argc > 2 ? QString(argv[2]) : QStringLiteral("1");
    QTemporaryDir dir;
    const QString file = dir.filePath("long.pcapng");
    const int recorded = WriteRecording(file, minutes);

    QUdpSocket program;
    program.bind(QHostAddress::LocalHost, 0);
    SimProcess sim; // its first line says the recording is read and the port bound
    if (!sim.Start({"--replay", file, "--speed", speed}))
        return 1;
    const quint16 port = sim.port;

    int received = 0;
    QObject::connect(&program, &QUdpSocket::readyRead, [&] {
        while (program.hasPendingDatagrams()) {
            const QByteArray d = program.receiveDatagram().data();
            ++received;
            if (d.size() > 2 && uchar(d[0]) == 0x80)
                program.writeDatagram(QByteArray::fromHex("8100"), QHostAddress::LocalHost, port);
            else if (d.size() >= 4 && uchar(d[3]) == 0x19)
                program.writeDatagram(QByteArray::fromHex("8201") + d[2], QHostAddress::LocalHost,
                                      port);
        }
    });
    QElapsedTimer wall;
    wall.start();
    program.writeDatagram(QByteArray::fromHex("8000"), QHostAddress::LocalHost, port);
    QObject::connect(&sim.process, &QProcess::finished, &app, &QCoreApplication::quit);
    app.exec();
    const double seconds = double(wall.elapsed()) / 1000.0;

    rusage child{};
    getrusage(RUSAGE_CHILDREN, &child);
    const double cpu = double(child.ru_utime.tv_sec + child.ru_stime.tv_sec) +
                       double(child.ru_utime.tv_usec + child.ru_stime.tv_usec) / 1e6;
    std::printf("replay of a %d-minute recording (%d datagrams of the adapter) at speed %s: "
                "%d received in %.1f s, kp-sim exit %d\n",
                minutes, recorded, qPrintable(speed), received, seconds, sim.process.exitCode());
    std::fputs(sim.process.readAllStandardOutput().constData(), stdout);
    std::printf("  kp-sim CPU %.3f s: %.3f %% of a core\n", cpu, 100.0 * cpu / seconds);
    return 0;
}
