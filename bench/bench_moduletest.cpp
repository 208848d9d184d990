// SPDX-License-Identifier: GPL-3.0-or-later
// One module test run against the kp-sim program's bench (telecontrol block 0 wired to
// telesignal block 0) on loopback, with the standard intervals: 3000 ms start wait, 1000 ms
// pacing before each cycle, 150 ms pause after each relay, 3000 ms telecontrol guard. Reports
// the wall time of a cycle (pacing included), of its 32 relays, and what one telecontrol
// exchange takes on top of the pause. The argument is the number of cycles (default 1).

#include "app/programcore.h"
#include "support/operatorio.h"

#include <QTemporaryDir>
#include <cstdio>

#include "cputime.h"
#include "simprocess.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, ModuleTest::MaxCycles) : 1;
    SimProcess sim;
    if (!sim.Start({QStringLiteral("--blocks"), QStringLiteral("ts:0,tu:0"),
                    QStringLiteral("--bench"), QStringLiteral("--quiet")}))
        return 1;
    ProgramCore core;
    if (!LinkUp(core.Link, sim.port, 50))
        return 1;

    QTemporaryDir logs; // the run's log file goes here
    QDir::setCurrent(logs.path());
    PolicyOperator op;
    core.Bench.SetOperator(&op);

    // The moments of the entries that bound the cycles.
    ModuleTest& test = core.Test;
    qint64 started = -1, firstRelays = -1, ended = -1;
    double cpuAtStart = 0, cpuAtEnd = 0;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&test.TestActions, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& i) {
                         const QString text = test.TestActions.cell(i.row(), 1);
                         if (text == QStringLiteral("Начинаю проверку модуля")) {
                             started = clock.nsecsElapsed();
                             cpuAtStart = cpuSeconds();
                         } else if (text == QStringLiteral("Цикл №1")) {
                             firstRelays = clock.nsecsElapsed();
                         } else if (text.startsWith(QStringLiteral("Проверка завершена")) ||
                                    text == QStringLiteral("Проверка была остановлена")) {
                             ended = clock.nsecsElapsed();
                             cpuAtEnd = cpuSeconds();
                         }
                     });
    test.RunModuleTest(cycles);

    int passed = 0;
    for (int r = 1; r <= ModuleTest::Relays; ++r)
        passed += test.StringGrid1.cell(r, ModuleTest::ResultColumn) == QStringLiteral("OK");
    const double cycle = double(ended - started) / 1e9 / cycles;
    // The last cycle's relays: the whole run but the first cycle's pacing and the cycles
    // before.
    const double relays = double(ended - firstRelays) / 1e9 - (cycles - 1) * cycle;
    const double perRelay = relays / ModuleTest::Relays;
    std::printf("module test against kp-sim, %d cycle(s), standard intervals:\n", cycles);
    std::printf("  one cycle: %.3f s wall (1 s pacing + 32 relays), %.3f s program CPU\n", cycle,
                (cpuAtEnd - cpuAtStart) / cycles);
    std::printf("  32 relays: %.3f s; per relay %.1f ms = 150 ms pause + %.1f ms exchange\n",
                relays, perRelay * 1e3, perRelay * 1e3 - ModuleTest::RelayPauseInterval);
    std::printf("  relays passed in the last cycle: %d of 32; final entry: %s\n", passed,
                qPrintable(test.TestActions.cell(test.TestActions.rowCount() - 2, 1)));
    return passed == ModuleTest::Relays ? 0 : 1;
}
