// SPDX-License-Identifier: GPL-3.0-or-later
// A burst of mixed telemetry datagrams from the kp-sim program through the dispatcher into the
// live tables, with the main window's views attached (offscreen) and the trace on: datagrams
// per second, and datagrams lost (received against sent). With "record" as the third argument
// the exchange is also recorded to a capture file, as "Запись в файл" does; the difference of
// the CPU time per datagram between the two runs is what recording costs. With "trend" a trend
// window shows 8 curves of the burst's inputs (4 measurements, 2 telesignals, 2 counters).
//
//   bench_telemetry [count] [slice] [record | trend]

#include "app/tform1.h"
#include "fielddata/trendwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

#include "cputime.h"

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 100000;
    const QString slice = argc > 2 ? QString(argv[2]) : QStringLiteral("64");
    const bool record = argc > 3 && QByteArray(argv[3]) == "record";
    const bool trends = argc > 3 && QByteArray(argv[3]) == "trend";

    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    const quint16 port = probe.localPort();
    probe.close();

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../sim/kp-sim"),
              {"--port", QString::number(port), "--quiet", "--blocks", "ts:0,ts:1,tit:2,tu:3",
               "--burst", QString::number(count), "--burst-slice", slice, "--burst-pause",
               qEnvironmentVariable("BURST_PAUSE", "1")});
    if (!sim.waitForStarted() || !sim.waitForReadyRead(5000))
        return 1;
    sim.readAll();

    QTemporaryDir dir;
    TForm1 form({QStringLiteral("d")}, new QSettings(dir.filePath("s.conf"), QSettings::IniFormat));
    if (!qEnvironmentVariableIsSet("BENCH_HIDDEN"))
        form.show();
    form.PageControl1->setCurrentIndex(TForm1::TabData);
    form.BaseIP->setText("127.0.0.1");
    form.BaseIPadapter->setText("127.0.0.1");
    form.BasePortD->setText(QString::number(port));
    form.Link.Timer4.setInterval(50);
    const QString captureFile = dir.filePath("bench.pcapng");
    if (record && !form.Capture.Start(captureFile).isEmpty())
        return 1;
    TrendWindow trend(form.Core.Trends);
    if (trends) {
        using trend::Kind;
        trend.ShowCurves({{Kind::Measurement, 2, 1},
                          {Kind::Measurement, 2, 2},
                          {Kind::Measurement, 2, 3},
                          {Kind::Measurement, 2, 4},
                          {Kind::Telesignal, 0, 1},
                          {Kind::Telesignal, 1, 2},
                          {Kind::Counter, 0, 1},
                          {Kind::Counter, 1, 2}});
    }
    form.Connect->click();

    // The program runs its own event loop; a slow timer only watches the counters.
    QElapsedTimer clock;
    clock.start();
    qint64 first = -1, last = 0;
    quint32 seen = 0, atLinkStart = 0;
    double cpu0 = 0;
    int sent = -1;
    QByteArray simOutput;
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&form.Link, &LinkCore::linkStateChanged, [&](bool open) {
        if (open && first < 0) {
            first = clock.nsecsElapsed();
            atLinkStart = form.Link.RxCount;
            cpu0 = cpuSeconds();
        }
    });
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (form.Link.RxCount != seen) {
            seen = form.Link.RxCount;
            last = clock.nsecsElapsed();
        }
        simOutput += sim.readAll();
        const int at = simOutput.indexOf("burst of ");
        if (at >= 0)
            sent = simOutput.mid(at + 9).split(' ').first().toInt();
        // Done when nothing more came for half a second after the burst ended.
        if ((sent >= 0 && clock.nsecsElapsed() - last > 500000000LL) || clock.elapsed() > 120000)
            loop.quit();
    });
    watch.start(20);
    loop.exec();

    const double cpu = cpuSeconds() - cpu0;
    form.Capture.Stop();
    // The announcements before the link start are not part of the burst.
    const quint32 received = form.Link.RxCount - atLinkStart;
    const double seconds = (last - first) / 1e9;
    std::printf("burst of %d telemetry datagrams (slices of %s) into the tables, trace on, %s%s:\n",
                sent, qPrintable(slice), record ? "recording" : "not recording",
                trends ? ", trend window of 8 curves" : "");
    std::printf("  received %u, lost %d, %.0f datagrams per second over %.3f s\n", received,
                int(sent - int(received)), received / seconds, seconds);
    std::printf("  program CPU %.3f s, %.1f us per datagram\n", cpu, cpu * 1e6 / received);
    if (record)
        std::printf("  capture file: %llu datagrams and receipts, %lld bytes\n",
                    static_cast<unsigned long long>(form.Capture.PacketsWritten()),
                    static_cast<long long>(QFileInfo(captureFile).size()));
    sim.terminate();
    sim.waitForFinished(2000);
    return 0;
}
