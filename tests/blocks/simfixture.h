// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's core, wired as the program runs it, facing the simulated controlled point
// in-process on loopback; the link is brought up as the keep-alive brings it up. The
// simulator records every numbered request it receives.

#include "app/programcore.h"
#include "commandline.h"
#include "kpsim.h"
#include "support/operatorio.h"

#include <QtTest>

// Answers by policy and keeps every progress value set, in order.
struct RecordingOperator : PolicyOperator {
    using PolicyOperator::PolicyOperator;
    QList<std::array<int, 3>> progress;
    QList<bool> busy;
    void Progress(int minimum, int maximum, int position) override
    {
        PolicyOperator::Progress(minimum, maximum, position);
        progress.append({minimum, maximum, position});
    }
    void Busy(bool on) override
    {
        PolicyOperator::Busy(on);
        busy << on;
    }
};

struct SimFixture {
    kpsim::KpSim sim;
    ProgramCore core;
    RecordingOperator op;
    QList<QByteArray> requests; // numbered requests, as the simulator received them

    explicit SimFixture(kpsim::Options options) : sim(prepared(std::move(options)))
    {
        if (!sim.start())
            qFatal("kp-sim did not start");
        QObject::connect(&sim, &kpsim::KpSim::requestReceived,
                         [this](const QByteArray& d) { requests << d; });
        LinkSettings& s = core.Link.settings;
        s.BaseIP = s.BaseIPadapter = QStringLiteral("127.0.0.1");
        s.BasePortD = QString::number(sim.localPort());
        core.Link.Timer4.setInterval(20);
        core.Blocks.SetOperator(&op);
        core.Blocks.AnnouncementTimer.setInterval(150);
    }
    // Blocks given as "ts:0,tit:2" on a bus with nothing unasked.
    explicit SimFixture(const char* blocks) : SimFixture(withBlocks(blocks)) {}

    static kpsim::Options withBlocks(const char* blocks)
    {
        kpsim::Options o;
        QString error;
        o.blocks = *kpsim::ParseBlocks(QString::fromLatin1(blocks), &error);
        return o;
    }

    bool up()
    {
        if (!core.Link.Enable(true).isEmpty())
            return false;
        QElapsedTimer t;
        t.start();
        while (!core.Link.LinkOpen && t.elapsed() < 3000)
            QTest::qWait(5);
        core.Link.Timer4.stop();
        requests.clear();
        return core.Link.LinkOpen;
    }

    kpsim::SimBlock& block(kpsim::BlockType type, uint8_t address)
    {
        return *sim.block(type, address);
    }

    // The requests with the channel and sequence bytes blanked, as hex: "00070019c418000702...".
    QStringList requestHex() const
    {
        QStringList all;
        for (QByteArray d : requests) {
            d[0] = 0;
            d[2] = 0;
            all << QString::fromLatin1(d.toHex());
        }
        return all;
    }
    // (function, address, sub-function) of each request, as "c4/0/07".
    QStringList requestKinds() const
    {
        QStringList all;
        for (const QByteArray& d : requests)
            if (d.size() >= 8)
                all << QStringLiteral("%1/%2/%3")
                           .arg(uint8_t(d[4]), 2, 16, QLatin1Char('0'))
                           .arg(uint8_t(d[6]))
                           .arg(uint8_t(d[7]), 2, 16, QLatin1Char('0'));
        return all;
    }

private:
    static kpsim::Options prepared(kpsim::Options o)
    {
        o.port = 0;
        return o;
    }
};
