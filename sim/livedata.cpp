// SPDX-License-Identifier: GPL-3.0-or-later
// The blocks' live data: records sent unasked at the configured rates, input changes and the
// event archive, telecontrol select and execute with relays wired to telesignal inputs, counter
// presets.

#include "kpsim.h"

#include "exchange/packet.h"

#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cmath>

namespace kpsim
{

namespace
{

constexpr uint32_t Bit(int oneBased)
{
    return uint32_t(1) << ((oneBased - 1) & 31);
}

template <typename R> auto& RateOf(R& r, Live kind)
{
    switch (kind) {
    case Live::TsStates:
        return r.tsStates;
    case Live::TsEvents:
        return r.tsEvents;
    case Live::TitReadings:
        return r.titReadings;
    case Live::TiiCounters:
        return r.tiiCounters;
    case Live::Interlocks:
        return r.interlocks;
    case Live::TuDiagnostics:
        break;
    }
    return r.tuDiagnostics;
}

} // namespace

double Rates::of(Live kind) const
{
    return RateOf(*this, kind);
}

double& Rates::of(Live kind)
{
    return RateOf(*this, kind);
}

void KpSim::setClockSource(std::function<qint64()> localMsSince1970)
{
    clockSource_ = std::move(localMsSince1970);
    clockOffsetMs_ = 0;
}

Stamp KpSim::now() const
{
    const qint64 ms = std::max<qint64>(0, clockSource_() + clockOffsetMs_);
    return {uint32_t(ms / 1000), uint16_t(ms % 1000)};
}

void KpSim::prepareBlock(SimBlock& b)
{
    const Options& o = options_;
    b.seedLiveState(o.seed);
    b.tit.channels = std::clamp(o.titChannels, 1, Channels);
    b.ts.counterChannels = std::clamp(o.tiiChannels, 0, Inputs);
    TuLive& tu = b.tu;
    tu.noReady = o.tuNoReady;
    tu.noResult = o.tuNoResult;
    tu.holdMs = std::max(0, o.relayHoldMs);
    tu.diagnosticsForm = o.tuDiagnosticsForm;
    tu.volts = 24.0 - 0.2 * b.address();
    tu.celsius = 31.0 + 2 * b.address();
    for (const TuAnswer& a : o.tuAnswers) {
        if (a.address >= 0 && a.address != b.address())
            continue;
        if (a.relay == 0)
            tu.setStatus(a.status);
        else if (a.relay >= 1 && a.relay <= Inputs)
            tu.status[size_t(a.relay - 1)] = a.status;
    }
    for (const RelayRef& r : o.faultyRelays)
        if (r.address == b.address())
            tu.faultyRelay = r.relay;
    putWiredInputsAtRest();
}

void KpSim::setWiring(const QList<Wiring>& wiring)
{
    options_.wiring = wiring;
    putWiredInputsAtRest();
}

void KpSim::putWiredInputsAtRest()
{
    for (const Wiring& w : options_.wiring) {
        SimBlock* ts = block(BlockType::Ts, w.ts);
        SimBlock* tu = block(BlockType::Tu, w.tu);
        if (!ts)
            continue;
        uint32_t driven = tu ? tu->tu.relays : 0;
        if (tu && tu->tu.faultyRelay >= 1 && tu->tu.faultyRelay <= Inputs)
            driven &= ~Bit(tu->tu.faultyRelay);
        ts->ts.inputs = (w.normallyClosed ? ~driven : driven) & ~ts->ts.stuckAtZero;
    }
}

std::vector<SimBlock*> KpSim::blocksOf(BlockType type)
{
    std::vector<SimBlock*> list;
    for (const auto& b : blocks_)
        if (b->type() == type && !b->silent)
            list.push_back(b.get());
    return list;
}

void KpSim::setRates(const Rates& rates)
{
    options_.rates = rates;
    startLiveTimers();
}

void KpSim::startLiveTimers()
{
    if (!socket_ || socket_->state() != QAbstractSocket::BoundState)
        return;
    for (int i = 0; i < LiveCount; ++i) {
        const auto kind = Live(i);
        QTimer*& t = liveTimers_[size_t(i)];
        if (!t) {
            t = new QTimer(this);
            connect(t, &QTimer::timeout, this, [this, kind] { sendRound(kind); });
        }
        const double rate = options_.rates.of(kind);
        if (rate > 0)
            t->start(std::max(1, int(std::lround(1000.0 / rate))));
        else
            t->stop();
    }
}

bool KpSim::liveAllowed() const
{
    // Bound to loopback, only a loopback program can have been heard; bound elsewhere (which
    // the operator had to allow), the program heard is the one served.
    return linkStarted_ && !options_.faults.silent && peerPort_ != 0 &&
           (peerAddress_.isLoopback() || !options_.bindAddress.isLoopback());
}

bool KpSim::sendRound(Live kind)
{
    if (!liveAllowed())
        return false;
    const Outs records = roundRecords(kind);
    return !records.empty() && sendLive(records);
}

KpSim::Outs KpSim::roundRecords(Live kind)
{
    const uint32_t round = rounds_[size_t(kind)]++;
    const uint32_t seed = options_.seed;
    Outs out;
    switch (kind) {
    case Live::TsStates:
        for (SimBlock* b : blocksOf(BlockType::Ts))
            out.push_back({RecordKind::TsState,
                           record::TsState(b->address(), b->ts.inputs, b->ts.archivePosition)});
        break;
    case Live::TsEvents:
        out = eventRound(round);
        break;
    case Live::TitReadings:
        out = readingsRound();
        break;
    case Live::TiiCounters:
        for (SimBlock* b : blocksOf(BlockType::Ts)) {
            b->advanceCounters(seed, round);
            for (int k = 1; k <= b->ts.counterChannels; ++k)
                out.push_back({RecordKind::TiiCounter,
                               record::TiiCounter(b->address(), k, b->ts.counters[size_t(k - 1)],
                                                  now().seconds)});
        }
        break;
    case Live::Interlocks:
        for (SimBlock* b : blocksOf(BlockType::Tu))
            out.push_back(
                {RecordKind::Interlock, record::Interlocks(b->address(), b->tu.interlocks)});
        break;
    case Live::TuDiagnostics:
        for (SimBlock* b : blocksOf(BlockType::Tu)) {
            const auto [t, v] =
                record::DiagnosticCodes(b->tu.diagnosticsForm, b->tu.volts, b->tu.celsius);
            out.push_back({RecordKind::TuDiagnostics,
                           record::TuDiagnosticsRecord(b->address(), b->tu.diagnosticsForm, t, v)});
        }
        break;
    }
    return out;
}

KpSim::Outs KpSim::eventRound(uint32_t round)
{
    // Inputs wired to relays change only with the relays.
    std::vector<SimBlock*> free;
    for (SimBlock* b : blocksOf(BlockType::Ts))
        if (std::none_of(options_.wiring.begin(), options_.wiring.end(),
                         [b](const Wiring& w) { return w.ts == b->address(); }))
            free.push_back(b);
    if (free.empty())
        return {};
    SimBlock& b = *free[round % free.size()];
    const int input = 1 + int(Noise(options_.seed, 0xE7, b.address(), round) % Inputs);
    const bool value = !(b.ts.inputs & Bit(input));
    const TsEvent e = (b.ts.doublePoints & Bit(input))
                          ? b.changeDoublePoint(input, value, !value, now())
                          : b.changeInput(input, value, now());
    return eventRecords(b, e);
}

KpSim::Outs KpSim::readingsRound()
{
    Outs out;
    for (SimBlock* b : blocksOf(BlockType::Tit)) {
        out.push_back({RecordKind::TitStamp, record::TitStamp(b->address(), now().seconds)});
        const std::vector<int16_t> r = b->nextReadings(options_.seed);
        for (size_t i = 0; i < r.size(); i += record::MaxTitReadings) {
            const size_t n = std::min<size_t>(record::MaxTitReadings, r.size() - i);
            out.push_back({RecordKind::TitValues,
                           record::TitValues(b->address(), int(i),
                                             std::span<const int16_t>(r).subspan(i, n))});
        }
    }
    return out;
}

KpSim::Outs KpSim::eventRecords(SimBlock& ts, const TsEvent& e)
{
    return {
        {RecordKind::TsEvent, record::TsEventRecord(ts.address(), e)},
        {RecordKind::TsState, record::TsState(ts.address(), ts.ts.inputs, ts.ts.archivePosition)}};
}

bool KpSim::sendLive(const Outs& records)
{
    bool all = true;
    for (size_t first = 0; first < records.size(); first += MaxRecordsPerDatagram) {
        const size_t end = std::min(records.size(), first + MaxRecordsPerDatagram);
        QByteArray bytes;
        std::vector<RecordKind> kinds;
        for (size_t i = first; i < end; ++i) {
            bytes += records[i].bytes;
            kinds.push_back(records[i].kind);
        }
        if (sendCounted(bytes, kinds) < 0)
            all = false;
        else
            ++counters_.liveSent;
    }
    return all;
}

bool KpSim::setInput(uint8_t tsAddress, int input, bool value)
{
    SimBlock* ts = block(BlockType::Ts, tsAddress);
    if (!ts || input < 1 || input > Inputs)
        return false;
    const TsEvent e = ts->changeInput(input, value, now());
    if (liveAllowed() && !ts->silent)
        sendLive(eventRecords(*ts, e));
    return true;
}

bool KpSim::setDoublePoint(uint8_t tsAddress, int input, bool value, bool second)
{
    SimBlock* ts = block(BlockType::Ts, tsAddress);
    if (!ts || input < 1 || input > Inputs)
        return false;
    const TsEvent e = ts->changeDoublePoint(input, value, second, now());
    if (liveAllowed() && !ts->silent)
        sendLive(eventRecords(*ts, e));
    return true;
}

// Select (42 18 a relay-1 01 00), execute (02 18 a a 01 00) and archive request
// (44 18 a position 01 00): one data byte each; records of another shape are no commands.
// True when the record was one of them.
bool KpSim::handleLiveRecord(const CanRecord& rec)
{
    if (rec.dlc != 1)
        return false;
    const auto target = [&](BlockType type) {
        SimBlock* b = block(type, rec.address);
        return b && !b->silent ? b : nullptr;
    };
    switch (rec.function) {
    case record::TuFunction:
        if (SimBlock* tu = target(BlockType::Tu))
            handleSelect(*tu, rec.sub);
        return true;
    case record::TuExecuteFunction:
        if (SimBlock* tu = target(BlockType::Tu))
            handleExecute(*tu);
        return true;
    case record::TsFunction:
        if (SimBlock* ts = target(BlockType::Ts))
            handleArchiveRequest(*ts, rec.sub);
        return true;
    default:
        return false;
    }
}

void KpSim::handleSelect(SimBlock& b, uint8_t relayIndex)
{
    TuLive& tu = b.tu;
    emit telecontrolSelected(b.address(), relayIndex + 1);
    if (relayIndex >= Inputs) {
        // No such relay: refused at once, nothing to prepare.
        tu.selected = -1;
        if (!tu.noResult)
            sendBlockDatagram(
                record::TuFailed(b.address(), relayIndex, record::status::BadAddress, 0),
                {RecordKind::TuResult});
        return;
    }
    tu.selected = relayIndex;
    if (!tu.noReady)
        sendBlockDatagram(
            record::TuReadyRecord(b.address(), relayIndex, tu.coefficients[relayIndex]),
            {RecordKind::TuReady});
}

void KpSim::handleExecute(SimBlock& b)
{
    TuLive& tu = b.tu;
    const int index = tu.selected;
    tu.selected = -1;
    if (index < 0) {
        // Execute without a select: the block never got a command to confirm.
        emit telecontrolExecuted(b.address(), 0, record::status::NoConfirmation);
        if (!tu.noResult)
            sendBlockDatagram(record::TuFailed(b.address(), 0, record::status::NoConfirmation, 0),
                              {RecordKind::TuResult});
        return;
    }
    const uint8_t status = tu.status[size_t(index)];
    const uint8_t address = b.address();
    const uint16_t coefficient = tu.coefficients[size_t(index)];
    const bool answer = !tu.noResult;
    // The wired inputs report their change before the block reports the result.
    if (status == record::status::Done)
        switchRelay(b, index + 1, true);
    emit telecontrolExecuted(address, index + 1, status);
    if (!answer)
        return;
    if (status == record::status::Done)
        sendBlockDatagram(record::TuDone(address, uint8_t(index), now()), {RecordKind::TuResult});
    else
        sendBlockDatagram(record::TuFailed(address, uint8_t(index), status, coefficient),
                          {RecordKind::TuResult});
}

void KpSim::switchRelay(SimBlock& b, int relay, bool on)
{
    TuLive& tu = b.tu;
    const uint8_t address = b.address();
    if (on) {
        // One relay at a time: the one still held is released first.
        for (int k = 1; k <= Inputs; ++k)
            if (k != relay && (tu.relays & Bit(k)))
                switchRelay(b, k, false);
        tu.relays |= Bit(relay);
        const uint32_t operation = ++tu.operation;
        if (tu.holdMs > 0)
            QTimer::singleShot(tu.holdMs, this, [this, address, relay, operation] {
                SimBlock* held = block(BlockType::Tu, address);
                if (held && held->tu.operation == operation && (held->tu.relays & Bit(relay)))
                    switchRelay(*held, relay, false);
            });
    } else {
        tu.relays &= ~Bit(relay);
    }
    emit relaySwitched(address, relay, on);
    if (relay == tu.faultyRelay)
        return;
    for (const Wiring& w : options_.wiring) {
        SimBlock* ts = w.tu == address ? block(BlockType::Ts, w.ts) : nullptr;
        const bool level = on != w.normallyClosed && !(ts && (ts->ts.stuckAtZero & Bit(relay)));
        if (ts && bool(ts->ts.inputs & Bit(relay)) != level)
            setInput(w.ts, relay, level);
    }
}

void KpSim::handleArchiveRequest(SimBlock& ts, uint8_t position)
{
    const int p = position & 31;
    emit archiveRequested(ts.address(), p);
    const auto& e = ts.ts.archive[size_t(p)];
    // An empty position is answered with an event record that holds no event.
    sendBlockDatagram(e ? record::TsEventRecord(ts.address(), *e)
                        : record::TsEventEmpty(ts.address()),
                      {RecordKind::TsEvent});
}

void KpSim::afterCounterPreset(SimBlock& ts, std::span<const uint8_t> data)
{
    if (data.size() < 6 || data[0] >= Inputs)
        return;
    const int channel = data[0] + 1;
    const uint32_t value = ts.ts.counters[data[0]];
    emit counterPreset(ts.address(), channel, value);
    // Where counters are being reported, the new value shows at once.
    if (options_.rates.tiiCounters > 0 && liveAllowed())
        sendLive({{RecordKind::TiiCounter,
                   record::TiiCounter(ts.address(), channel, value, now().seconds)}});
}

} // namespace kpsim
