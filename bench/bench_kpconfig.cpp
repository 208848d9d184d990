// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration of a fully equipped controlled point saved against the kp-sim program on
// loopback: 24 blocks, 8 calibration records, 8 interlock texts of 1,000 bytes. Wall time and
// program CPU after the announcement wait, and the requests awaited; then the same number of
// bare SendAndWait exchanges in the same run, for the ratio.

#include "app/programcore.h"
#include "support/operatorio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "cputime.h"
#include "probeclock.h"
#include "simprocess.h"

namespace
{

// Counts the requests that await a block's reply (a configuration function byte).
struct AwaitedCount : DatagramTap {
    int count = 0;
    void Datagram(const QUdpSocket&, Way way, const QHostAddress&, quint16, const TPacket& d,
                  bool) override
    {
        if (way == Sent && d.size() > 5 && uint8_t(d[3]) == 0x19 && (uint8_t(d[4]) & 0x80))
            ++count;
    }
};

// An interlock text of 1,000 bytes as the block keeps it: the first line begins with "@", the
// last is "@" alone.
QStringList Logic(int address)
{
    QStringList lines{QStringLiteral("@ Логика блокировок ТУ %1").arg(address)};
    for (int n = 1; blk::Stream(lines + QStringList{"@"}).size() < 1000; ++n)
        lines << QStringLiteral("ТУ%1 = ТС0.%1 И НЕ ТС1.%1 ИЛИ ТС2.%1").arg(n);
    return lines << QStringLiteral("@");
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    SimProcess sim;
    if (!sim.Start({"--blocks", EightOfEachType(), "--quiet", "--param",
                    "tu:0,tu:1,tu:2,tu:3,tu:4,tu:5,tu:6,tu:7@0=5"}))
        return 1;

    ProgramCore core;
    LinkCore& link = core.Link;
    if (!LinkUp(link, sim.port, 50))
        return 1;
    link.Timer4.stop();
    core.Blocks.AnnouncementTimer.setInterval(300);
    for (int a = 0; a < 8; ++a)
        if (core.Interlock.Write({3, a}, Logic(a)) != InterlockTransfer::Written::Done)
            return 1;

    // Rounds of a backup and the same number of bare exchanges; the medians.
    const int rounds = std::max(1, argc > 1 ? atoi(argv[1]) : 5);
    const TPacket read = packet::Request(0xC4, 0x18, 0, 0x00, {0x00, 0x00});
    std::vector<double> wall, cpu, bareWall, bareCpu;
    std::optional<kpconfig::File> file;
    AwaitedCount awaited;
    int failed = 0;
    for (int round = 0; round < rounds; ++round) {
        ProbeClock clock;
        awaited.count = 0;
        core.Blocks.SetOperator(&clock);
        link.tap = &awaited;
        file = core.KpConfig.Backup(link.settings, "bench");
        wall.push_back(double(clock.wall.nsecsElapsed()) / 1e9);
        cpu.push_back(cpuSeconds() - clock.cpu0);
        link.tap = nullptr;

        const double cpu0 = cpuSeconds();
        QElapsedTimer bare;
        bare.start();
        for (int i = 0; i < awaited.count; ++i)
            failed += link.SendAndWait(read) == Reply::Answered ? 0 : 1;
        bareWall.push_back(double(bare.nsecsElapsed()) / 1e9);
        bareCpu.push_back(cpuSeconds() - cpu0);
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };

    int calibrations = 0, logics = 0;
    for (const kpconfig::Block& b : file ? file->blocks : QList<kpconfig::Block>{}) {
        calibrations += b.calibration ? 1 : 0;
        logics += b.interlock ? 1 : 0;
    }
    std::printf("backup of a controlled point against kp-sim: %d blocks, %d calibration records, "
                "%d interlock texts, %d requests awaited\n",
                file ? int(file->blocks.size()) : 0, calibrations, logics, awaited.count);
    std::printf("  after the announcement wait (median of %d): %.3f s wall, %.3f s program CPU\n",
                rounds, median(wall), median(cpu));
    std::printf("  %d bare SendAndWait exchanges: %.3f s wall, %.3f s program CPU (%d failed)\n",
                awaited.count, median(bareWall), median(bareCpu), failed);
    std::printf("  ratio: %.2f x wall, %.2f x CPU\n", median(wall) / median(bareWall),
                median(cpu) / median(bareCpu));
    return file && file->blocks.size() == 24 && failed == 0 ? 0 : 1;
}
