#pragma once
// The kp-sim program beside the benchmarks, on a free loopback port, and the link brought up
// against it as the keep-alive brings it up.

#include "exchange/linkcore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QUdpSocket>
#include <cstdio>

struct SimProcess {
    QProcess process;
    quint16 port = 0;

    // Starts kp-sim with `arguments` after its port; false, said on standard error, when it
    // does not start.
    bool start(const QStringList& arguments)
    {
        QUdpSocket probe; // a free loopback port for the simulator
        probe.bind(QHostAddress::LocalHost, 0);
        port = probe.localPort();
        probe.close();
        const QString path =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../sim/kp-sim");
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(path,
                      QStringList{QStringLiteral("--port"), QString::number(port)} + arguments);
        if (process.waitForStarted() && process.waitForReadyRead(5000))
            return true;
        std::fprintf(stderr, "kp-sim did not start (%s)\n", qPrintable(path));
        return false;
    }
    ~SimProcess()
    {
        process.terminate();
        process.waitForFinished(2000);
    }
};

// Points the link at the simulator and brings it up; false, said on standard error, when it is
// not up within 5 s. The keep-alive stops once it is.
inline bool LinkUp(LinkCore& link, quint16 port)
{
    link.settings.BaseIP = link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
    link.settings.BasePortD = QString::number(port);
    link.Timer4.setInterval(50);
    (void)link.ConnectClick(true);
    QElapsedTimer t;
    t.start();
    while (!link.LinkOpen && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    link.Timer4.stop();
    if (!link.LinkOpen)
        std::fprintf(stderr, "the link did not start\n");
    return link.LinkOpen;
}
