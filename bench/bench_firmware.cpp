// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware programming of one block (3,050 exchanges) against the kp-sim program on loopback,
// with the exchange trace off (as an operator runs it) and on (engineering mode): wall time,
// the program's CPU time and the simulator's; then as many bare SendAndWait exchanges, for the
// ratio. Each is measured in several rounds (argument 1, default 5); the medians are shown,
// and the fastest wall time. The image is the simulator's sample (kp-sim --write-image).

#include "app/programcore.h"
#include "support/operatorio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <unistd.h>
#include <vector>

#include "cputime.h"
#include "simprocess.h"

namespace
{
// CPU seconds (user + system) of another process so far.
double ProcessCpuSeconds(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i)
        if (i == 14 || i == 15) // utime, stime
            ticks += std::stod(field);
    return ticks / double(sysconf(_SC_CLK_TCK));
}

struct Measure {
    double wall = 0, cpu = 0, simCpu = 0;
};
template <typename F> Measure Measured(qint64 simPid, F&& run)
{
    const double cpu0 = cpuSeconds(), sim0 = ProcessCpuSeconds(simPid);
    QElapsedTimer wall;
    wall.start();
    run();
    return {double(wall.nsecsElapsed()) / 1e9, cpuSeconds() - cpu0,
            ProcessCpuSeconds(simPid) - sim0};
}
double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
// The medians of the rounds, and the fastest wall time.
void Print(const char* what, const std::vector<Measure>& rounds, int exchanges)
{
    std::vector<double> wall, cpu, sim;
    for (const Measure& m : rounds)
        wall.push_back(m.wall), cpu.push_back(m.cpu), sim.push_back(m.simCpu);
    const double w = Median(wall), c = Median(cpu);
    std::printf("  %-13s wall %.3f s (fastest %.3f), program CPU %.3f s (%.1f us per exchange), "
                "kp-sim CPU %.2f s\n",
                what, w, *std::min_element(wall.begin(), wall.end()), c, c * 1e6 / exchanges,
                Median(sim));
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("bench.rom"));
    if (QProcess::execute(SimPath(),
                          {QStringLiteral("--write-image"), image,
                           QStringLiteral("--image-version"), QStringLiteral("bench v2")}) != 0) {
        std::fprintf(stderr, "kp-sim did not write the image (%s)\n", qPrintable(SimPath()));
        return 1;
    }
    SimProcess sim;
    if (!sim.Start({QStringLiteral("--blocks"), QStringLiteral("ts:0"), QStringLiteral("--quiet")}))
        return 1;

    ProgramCore core;
    PolicyOperator op;
    core.Blocks.SetOperator(&op);
    core.Blocks.AnnouncementTimer.setInterval(200);
    LinkCore& link = core.Link;
    if (!LinkUp(link, sim.port, 50))
        return 1;
    link.Timer4.stop();
    if (!core.Image.Load(image))
        return 1;
    core.Blocks.Discover(BlockService::Scope::Announced);
    if (core.Blocks.bloks.count() != 1 || !core.Blocks.bloks.ticked(0)) {
        std::fprintf(stderr, "the block was not found out of date\n");
        return 1;
    }

    constexpr int Exchanges = 3050;
    const int rounds = std::max(1, argc > 1 ? atoi(argv[1]) : 5);
    const TPacket read = packet::Request(0xC4, 0x18, 0, 0x00, {0x00, 0x00});
    std::vector<Measure> off, on, bare;
    bool programmed = true;
    int failed = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const bool trace : {false, true}) {
            core.Trace.TrassEnable = trace;
            core.Blocks.SetTicked(0, true);
            (trace ? on : off).push_back(Measured(sim.process.processId(), [&] {
                (void)core.Firmware.Program(firmware::FirmwareProgramming::Firmware, {{1, 0}});
            }));
            programmed = programmed && !core.Blocks.bloks.ticked(0) && op.Messages.isEmpty();
        }
        core.Trace.TrassEnable = false;
        bare.push_back(Measured(sim.process.processId(), [&] {
            for (int i = 0; i < Exchanges; ++i)
                failed += link.SendAndWait(read) == Reply::Answered ? 0 : 1;
        }));
    }

    std::printf("firmware of one block against kp-sim: %d exchanges, %d rounds, %s\n", Exchanges,
                rounds, programmed ? "programmed" : "FAILED");
    Print("trace off:", off, Exchanges);
    Print("trace on:", on, Exchanges);
    Print("bare, off:", bare, Exchanges);
    return programmed && failed == 0 ? 0 : 1;
}
