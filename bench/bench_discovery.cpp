// SPDX-License-Identifier: GPL-3.0-or-later
// Discovery of a fully equipped bus (24 blocks, all announced) against the kp-sim program on
// loopback: wall time and program CPU of the probe after the fixed 2-second announcement wait,
// and the number of exchanges; then the same number of bare SendAndWait exchanges in the same
// run, for the ratio.

#include "app/programcore.h"
#include "support/operatorio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QUdpSocket>
#include <cstdio>

#include "cputime.h"
#include "probeclock.h"
#include "simprocess.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    SimProcess sim;
    if (!sim.Start({QStringLiteral("--blocks"), EightOfEachType(), QStringLiteral("--quiet")}))
        return 1;

    ProgramCore core;
    LinkCore& link = core.Link;
    link.settings.DebugMode = qEnvironmentVariableIsSet("TRACE_ON");
    if (!LinkUp(link, sim.port, 50))
        return 1;
    link.Timer4.stop();

    ProbeClock clock;
    core.Blocks.SetOperator(&clock);
    core.Blocks.Discover(BlockService::Scope::Announced);
    const double probeWall = double(clock.wall.nsecsElapsed()) / 1e9;
    const double probeCpu = cpuSeconds() - clock.cpu0;
    int awaited = 0;
    for (int slot = 1; slot <= blocks::Slots; ++slot)
        awaited += blocks::Addresses * (1 + 6 + blocks::ChunksOf(blocks::FunctionOfSlot(slot)) + 1);

    const TPacket read = packet::Request(0xC4, 0x18, 0, 0x00, {0x00, 0x00});
    const double bareCpu0 = cpuSeconds();
    QElapsedTimer bare;
    bare.start();
    int failed = 0;
    for (int i = 0; i < awaited; ++i)
        failed += link.SendAndWait(read) == Reply::Answered ? 0 : 1;
    const double bareWall = double(bare.nsecsElapsed()) / 1e9;
    const double bareCpu = cpuSeconds() - bareCpu0;

    std::printf("discovery of 24 announced blocks against kp-sim: %d lines, %d exchanges\n",
                core.Blocks.bloks.count(), awaited);
    std::printf("  probe after the announcement wait: %.3f s wall, %.3f s program CPU\n", probeWall,
                probeCpu);
    std::printf("  %d bare SendAndWait exchanges: %.3f s wall, %.3f s program CPU (%d failed)\n",
                awaited, bareWall, bareCpu, failed);
    std::printf("  ratio: %.2f x wall, %.2f x CPU\n", probeWall / bareWall, probeCpu / bareCpu);
    return core.Blocks.bloks.count() == 24 && failed == 0 ? 0 : 1;
}
