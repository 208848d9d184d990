// SPDX-License-Identifier: GPL-3.0-or-later
// Bursts of telemetry: datagrams of mixed records written as fast as the socket takes them, a
// slice per turn of the event loop, for measuring how much the program takes in.

#include "kpsim.h"

#include <QTimer>
#include <QUdpSocket>

namespace kpsim
{

bool KpSim::sendBurst(int count)
{
    if (count <= 0 || burstRunning() || !liveAllowed() ||
        (blocksOf(BlockType::Ts).empty() && blocksOf(BlockType::Tit).empty()))
        return false;
    if (!burstTimer_) {
        burstTimer_ = new QTimer(this);
        burstTimer_->setSingleShot(true);
        connect(burstTimer_, &QTimer::timeout, this, &KpSim::burstStep);
    }
    burstLeft_ = count;
    burstWritten_ = 0;
    burstPending_.clear();
    burstTimer_->start(0);
    return true;
}

void KpSim::stopBurst()
{
    if (!burstRunning())
        return;
    burstLeft_ = 0;
    burstTimer_->stop();
    emit burstFinished(burstWritten_);
}

KpSim::Outs KpSim::nextBurstRecords()
{
    static constexpr Live order[] = {Live::TsStates, Live::TsEvents, Live::TitReadings,
                                     Live::TiiCounters};
    for (size_t attempt = 0; attempt < std::size(order); ++attempt) {
        Outs records = roundRecords(order[burstTurn_++ % std::size(order)]);
        if (records.size() > MaxRecordsPerDatagram)
            records.resize(MaxRecordsPerDatagram);
        if (!records.empty())
            return records;
    }
    return {};
}

void KpSim::burstStep()
{
    const int slice = std::max(1, options_.burstSlice);
    for (int i = 0; i < slice && burstLeft_ > 0; ++i) {
        if (!liveAllowed()) {
            stopBurst();
            return;
        }
        if (burstPending_.empty())
            burstPending_ = nextBurstRecords();
        QByteArray bytes;
        std::vector<RecordKind> kinds;
        for (const Out& r : burstPending_) {
            bytes += r.bytes;
            kinds.push_back(r.kind);
        }
        // A datagram the socket refused is tried again after the pause.
        if (burstPending_.empty() || sendCounted(bytes, kinds) < 0)
            break;
        burstPending_.clear();
        ++counters_.liveSent;
        ++counters_.burstSent;
        ++burstWritten_;
        --burstLeft_;
    }
    if (burstLeft_ > 0) {
        burstTimer_->start(std::max(0, options_.burstPauseMs));
        return;
    }
    emit burstFinished(burstWritten_);
}

} // namespace kpsim
