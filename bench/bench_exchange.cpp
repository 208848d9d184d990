// SPDX-License-Identifier: GPL-3.0-or-later
// Request/reply exchanges against the kp-sim program on loopback with instant blocks: median
// microseconds per SendAndWait and the program's own CPU time; then the program's CPU share
// while one SendAndWait waits out its 1.1 s for a reply that never comes.

#include "exchange/announcements.h"
#include "exchange/dispatcher.h"
#include "exchange/linkcore.h"
#include "exchange/tracelog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>

#include "cputime.h"
#include "simprocess.h"
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int exchanges = argc > 1 ? atoi(argv[1]) : 3050;
    SimProcess sim;
    if (!sim.Start({QStringLiteral("--blocks"), QStringLiteral("ts:0"), QStringLiteral("--quiet")}))
        return 1;

    TraceLog trace;
    LinkCore link(trace);
    ReceiveDispatcher dispatcher(link, trace);
    AdapterAnnouncements announcements(link, trace);
    link.settings.DebugMode = qEnvironmentVariableIsSet("TRACE_ON");
    link.onDatagram = [&](const TPacket& d, const QHostAddress& from) {
        dispatcher.Dispatch(d, from);
    };
    dispatcher.onAnnouncement = [&](const TPacket& d, const QHostAddress& from) {
        announcements.Handle(d, from);
    };
    if (!LinkUp(link, sim.port, 50))
        return 1;

    const TPacket read = packet::Request(0xC4, 0x18, 0, 0x00, {0x00, 0x00});
    std::vector<double> us;
    us.reserve(size_t(exchanges));
    int failed = 0;
    const double cpu0 = cpuSeconds();
    QElapsedTimer all;
    all.start();
    for (int i = 0; i < exchanges; ++i) {
        QElapsedTimer one;
        one.start();
        if (link.SendAndWait(read) != Reply::Answered)
            ++failed;
        us.push_back(double(one.nsecsElapsed()) / 1000.0);
    }
    const double wall = double(all.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    std::sort(us.begin(), us.end());

    // A reply that never comes: a block that is not there.
    const double idle0 = cpuSeconds();
    QElapsedTimer waited;
    waited.start();
    const bool answered =
        link.SendAndWait(packet::Request(0xC8, 0x18, 7, 0x06, {})) == Reply::Answered;
    const double idleWall = double(waited.nsecsElapsed()) / 1e9;
    const double idleCpu = cpuSeconds() - idle0;

    std::printf("%d SendAndWait exchanges against kp-sim (instant blocks), %d failed\n", exchanges,
                failed);
    std::printf("  median %.1f us, p90 %.1f us, max %.1f us per exchange; %.3f s in all\n",
                us[us.size() / 2], us[us.size() * 9 / 10], us.back(), wall);
    std::printf("  program CPU time %.3f s (%.1f us per exchange)\n", cpu, cpu * 1e6 / exchanges);
    std::printf("waiting %.3f s for a reply that never comes (%s): program CPU %.4f s = %.2f %%\n",
                idleWall, answered ? "answered!" : "none", idleCpu, 100.0 * idleCpu / idleWall);
    return failed ? 1 : 0;
}
