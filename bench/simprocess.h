// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The kp-sim program beside the benchmarks, as a process of its own on a free loopback port, and
// the program's link brought up against it.

#include "exchange/linkcore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QUdpSocket>
#include <cstdio>

// The kp-sim program of this build.
inline QString SimPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../sim/kp-sim");
}

// kp-sim's --blocks for a full bus: eight blocks of each type, addresses 0 to 7.
inline QString EightOfEachType()
{
    QStringList blocks;
    for (const char* type : {"ts", "tit", "tu"})
        for (int a = 0; a < 8; ++a)
            blocks << QStringLiteral("%1:%2").arg(QLatin1String(type)).arg(a);
    return blocks.join(u',');
}

struct SimProcess {
    QProcess process;
    quint16 port = 0;

    // Starts kp-sim with --port and these arguments; false, said on standard error, when it
    // does not come up within 5 s.
    bool Start(const QStringList& args)
    {
        QUdpSocket probe; // a free loopback port for the simulator
        probe.bind(QHostAddress::LocalHost, 0);
        port = probe.localPort();
        probe.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(SimPath(),
                      QStringList{QStringLiteral("--port"), QString::number(port)} + args);
        if (process.waitForStarted() && process.waitForReadyRead(5000))
            return true;
        std::fprintf(stderr, "kp-sim did not start (%s)\n", qPrintable(SimPath()));
        return false;
    }
    ~SimProcess()
    {
        process.terminate();
        process.waitForFinished(2000);
    }
};

// Points the link at the simulator and waits until the keep-alive has brought the adapter's
// connection request; false, said on standard error, after 5 s without.
inline bool LinkUp(LinkCore& link, quint16 port, int keepAliveMs)
{
    link.settings.BaseIP = link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
    link.settings.BasePortD = QString::number(port);
    (void)link.Enable(true);
    link.Timer4.setInterval(keepAliveMs);
    QElapsedTimer t;
    t.start();
    while (!link.LinkOpen && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!link.LinkOpen)
        std::fprintf(stderr, "the link did not start\n");
    return link.LinkOpen;
}
