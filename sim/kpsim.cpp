// SPDX-License-Identifier: GPL-3.0-or-later
#include "kpsim.h"

#include "exchange/packet.h"
#include "support/byteorder.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>

namespace kpsim
{

namespace
{

constexpr uint8_t KeepAliveSecond = 0x00;
constexpr uint8_t AddressRequestMark = 0x02;
constexpr uint8_t ConnectionRequestMark = 0x01;
constexpr uint8_t AddressReplyLength = 0x37;
constexpr uint8_t ConfigFlags = 0x18;
constexpr uint8_t ServiceFunction = 0x01;
constexpr uint8_t BroadcastAddress = 0x80;
constexpr uint8_t ServiceClock = 0x01;
constexpr uint8_t ServiceAnnouncementQuery = 0x06;
constexpr uint8_t ServiceStart = 0x05;
constexpr uint8_t ServiceEnd = 0x04;
constexpr int MaxAnnouncementText = 126;
// Sequence numbers are 8 bits wide; older unacknowledged numbers are forgotten.
constexpr size_t MaxUnacknowledged = 256;

void AppendText(QByteArray& d, const QByteArray& text)
{
    d.append(text.left(MaxAnnouncementText));
    d.append(char(0));
}

} // namespace

KpSim::KpSim(Options options, QObject* parent) : QObject(parent), options_(std::move(options))
{
    // Local time as the controlled point counts it. The zone offset is looked up once a minute:
    // each look-up checks the zone file, and bursts stamp thousands of records a second.
    clockSource_ = [offsetMs = qint64(0), checkedAt = qint64(-1)]() mutable {
        const qint64 utc = QDateTime::currentMSecsSinceEpoch();
        if (checkedAt < 0 || utc - checkedAt > 60000) {
            offsetMs = qint64(QDateTime::currentDateTime().offsetFromUtc()) * 1000;
            checkedAt = utc;
        }
        return utc + offsetMs;
    };
    for (const BlockSpec& wanted : options_.blocks)
        addBlock(wanted);
}

KpSim::~KpSim() = default;

bool KpSim::start(QString* error)
{
    if (!socket_) {
        socket_ = new QUdpSocket(this);
        connect(socket_, &QUdpSocket::readyRead, this, &KpSim::readDatagrams);
    }
    if (socket_->state() == QAbstractSocket::BoundState)
        return true;
    if (!socket_->bind(options_.bindAddress, options_.port)) {
        if (error)
            *error = QStringLiteral("cannot bind %1:%2: %3")
                         .arg(options_.bindAddress.toString())
                         .arg(options_.port)
                         .arg(socket_->errorString());
        return false;
    }
    startLiveTimers();
    return true;
}

quint16 KpSim::localPort() const
{
    return socket_ ? socket_->localPort() : 0;
}

SimBlock& KpSim::addBlock(const BlockSpec& wanted)
{
    removeBlock(wanted.type, wanted.address);
    blocks_.push_back(std::make_unique<SimBlock>(wanted.type, wanted.address, wanted.versionText));
    applySetup(*blocks_.back());
    prepareBlock(*blocks_.back());
    return *blocks_.back();
}

void KpSim::applySetup(SimBlock& b)
{
    const auto it =
        std::find_if(options_.setups.begin(), options_.setups.end(),
                     [&](const auto& s) { return s.type == b.type() && s.address == b.address(); });
    if (it == options_.setups.end())
        return;
    for (const auto& [offset, bytes] : it->record)
        b.setParameterBytes(offset, bytes);
    if (it->diagnostics) {
        const auto& d = *it->diagnostics;
        b.restarts = byteorder::le16(d.data());
        b.repeats = byteorder::le16(d.data() + 2);
        std::copy(d.begin() + 4, d.end(), b.diagnosticsTail.begin());
    }
    if (it->calibration)
        b.setCalibration(*it->calibration);
    if (it->unclosedInterlock)
        b.setInterlock(SimBlock::UnclosedInterlock());
    b.silent = it->silent;
    b.faults = it->faults;
    b.stickInputs(it->stuckInputs);
}

bool KpSim::removeBlock(BlockType type, uint8_t address)
{
    const auto it = std::find_if(blocks_.begin(), blocks_.end(), [&](const auto& b) {
        return b->type() == type && b->address() == address;
    });
    if (it == blocks_.end())
        return false;
    blocks_.erase(it);
    return true;
}

SimBlock* KpSim::block(BlockType type, uint8_t address)
{
    for (const auto& b : blocks_)
        if (b->type() == type && b->address() == address)
            return b.get();
    return nullptr;
}

void KpSim::resetLink()
{
    linkStarted_ = false;
    canChannel_ = 0;
    bitRate_ = 0;
}

QByteArray KpSim::connectionRequestBytes() const
{
    QByteArray d = packet::Bytes({packet::KindAnnouncement, 0x00, ConnectionRequestMark,
                                  options_.versionMajor, options_.versionMinor});
    AppendText(d, options_.text);
    return d;
}

QByteArray KpSim::addressRequestBytes() const
{
    QByteArray d = packet::Bytes({packet::KindAnnouncement, 0x00, AddressRequestMark,
                                  options_.versionMajor, options_.versionMinor});
    for (uint8_t b : options_.mac)
        d.append(char(b));
    for (uint8_t b : options_.heldAddress)
        d.append(char(b));
    AppendText(d, options_.text);
    return d;
}

bool KpSim::sendAddressRequest()
{
    return send(addressRequestBytes());
}

bool KpSim::sendConnectionRequest()
{
    return send(connectionRequestBytes());
}

int KpSim::sendData(const QByteArray& records)
{
    if (options_.faults.silent || peerPort_ == 0 || records.size() > 255 - packet::HeaderSize)
        return -1;
    const uint8_t seq = sequence_;
    QByteArray d =
        packet::Bytes({uint8_t(canChannel_), uint8_t(records.size()), seq, packet::TypeCanFrames});
    d.append(records);
    // A datagram the socket did not take leaves no trace: its number goes to the next one.
    if (!send(d))
        return -1;
    ++sequence_;
    unacknowledged_.push_back(seq);
    if (unacknowledged_.size() > MaxUnacknowledged)
        unacknowledged_.pop_front();
    ++counters_.dataSent;
    return seq;
}

int KpSim::lastUnacknowledged() const
{
    return unacknowledged_.empty() ? -1 : unacknowledged_.back();
}

void KpSim::readDatagrams()
{
    while (socket_->hasPendingDatagrams()) {
        const QNetworkDatagram dg = socket_->receiveDatagram();
        if (!dg.isValid())
            continue;
        peerAddress_ = dg.senderAddress();
        peerPort_ = quint16(dg.senderPort());
        emit datagramReceived(dg.data());
        handle(dg.data());
    }
}

void KpSim::takeOverLink(const QHostAddress& peer, quint16 port, int channel,
                         const QByteArray& datagram)
{
    peerAddress_ = peer;
    peerPort_ = port;
    linkStarted_ = true;
    canChannel_ = channel;
    if (datagram.isEmpty())
        return;
    emit datagramReceived(datagram);
    handle(datagram);
}

void KpSim::handle(const QByteArray& d)
{
    ++counters_.datagramsReceived;
    const int n = int(d.size());
    const auto b = [&](int i) { return packet::at(d, i); };

    if (n == 2 && b(0) == packet::KindAnnouncement && b(1) == KeepAliveSecond) {
        ++counters_.keepAlives;
        emit keepAliveReceived();
        answerKeepAlive();
    } else if (n >= 2 && b(0) == packet::KindLinkMessage) {
        handleLinkMessage(d);
    } else if (n == 3 && b(0) == packet::KindReceipt && b(1) == 0x01) {
        handleProgramReceipt(b(2));
    } else if (n >= packet::HeaderSize && b(3) == packet::TypeCanFrames && b(0) <= 1) {
        handleRequest(d);
    } else {
        ++counters_.ignored;
        emit ignoredDatagram(d);
    }
}

void KpSim::answerKeepAlive()
{
    if (linkStarted_ && !options_.relinkOnKeepAlive)
        return;
    if (options_.addressRequestOnKeepAlive && !linkStarted_)
        sendAddressRequest();
    sendConnectionRequest();
}

void KpSim::handleLinkMessage(const QByteArray& d)
{
    const auto b = [&](int i) { return packet::at(d, i); };
    if (b(1) == AddressReplyLength) {
        lastAddressReply_ = d;
        emit addressReplyReceived(d);
        return;
    }
    int channel = -1;
    char rate = 0;
    if (d.size() == 2 && b(1) == 0x00) {
        channel = 0;
    } else if (d.size() == 7 && b(1) == 0x00 && b(2) == 'C' && (b(3) == '1' || b(3) == '2') &&
               (b(4) == 'M' || b(4) == 'S') && b(5) == ' ' && b(6) == 0x00) {
        channel = b(3) - '1';
        rate = char(b(4));
    }
    if (channel < 0) {
        ++counters_.ignored;
        emit ignoredDatagram(d);
        return;
    }
    linkStarted_ = true;
    canChannel_ = channel;
    bitRate_ = rate;
    emit linkStartReceived(channel, rate);
    if (options_.burstOnLinkStart > 0 && !burstOnLinkDone_)
        burstOnLinkDone_ = sendBurst(options_.burstOnLinkStart);
}

void KpSim::handleProgramReceipt(uint8_t sequence)
{
    ++counters_.receiptsReceived;
    const auto it = std::find(unacknowledged_.begin(), unacknowledged_.end(), sequence);
    const bool expected = it != unacknowledged_.end();
    if (expected) {
        unacknowledged_.erase(it);
        ++counters_.receiptsExpected;
    }
    emit receiptReceived(sequence, expected);
}

void KpSim::sendAdapterReceipt(uint8_t sequence, int sub)
{
    Faults& f = options_.faults;
    if (f.dropAllReceipts)
        return;
    for (SilentAt& at : f.dropReceiptAt)
        if (at.nth > 0 && at.sub == sub && --at.nth == 0)
            return;
    if (f.dropReceipts > 0) {
        --f.dropReceipts;
        return;
    }
    send(packet::Receipt(f.wrongReceiptSequence ? uint8_t(sequence - 1) : sequence));
}

void KpSim::handleRequest(const QByteArray& d)
{
    ++counters_.requests;
    emit requestReceived(d);
    const uint8_t seq = packet::at(d, 2);
    sendAdapterReceipt(seq, d.size() > 7 ? packet::at(d, 7) : -1);
    send(packet::Bytes({packet::KindTransmitted, 0x00, seq}));

    // The frames go out on the CAN channel named in byte 0; the blocks sit on the link's one.
    if (packet::at(d, 0) != canChannel_)
        return;
    CanRecordWalk walk(d);
    CanRecord rec;
    while (walk.next(rec)) {
        if (rec.flags != ConfigFlags)
            continue;
        if (rec.function == ServiceFunction && rec.address == BroadcastAddress) {
            handleServiceRecord(rec.sub, rec.data);
            continue;
        }
        if (handleLiveRecord(rec))
            continue;
        const auto type = TypeFromConfigFunction(rec.function);
        SimBlock* target = type ? block(*type, rec.address) : nullptr;
        if (!target || !target->takes(rec.sub))
            continue;
        const int writes = target->service().configurationWrites;
        const SimBlock::Chunk reply = target->configure(rec.sub, rec.data);
        QByteArray record =
            packet::Bytes({target->configFunction(), ConfigFlags, target->address(), rec.sub, 8});
        record.append(reinterpret_cast<const char*>(reply.data()), int(reply.size()));
        sendBlockDatagram(record);
        if (target->type() == BlockType::Ts && rec.sub == sub::CounterPreset)
            afterCounterPreset(*target, rec.data);
        afterService(*target, rec.sub, writes);
    }
}

void KpSim::afterService(const SimBlock& b, uint8_t subFunction, int writesBefore)
{
    if (b.service().configurationWrites != writesBefore)
        emit configurationWritten(b.configFunction(), b.address());
    if (subFunction == sub::FirmwareCompletion)
        emit firmwareCompleted(b.configFunction(), b.address());
    else if (subFunction == sub::Completion)
        emit completionReceived(b.configFunction(), b.address());
}

void KpSim::handleServiceRecord(uint8_t subFunction, std::span<const uint8_t> data)
{
    if (subFunction == ServiceAnnouncementQuery) {
        for (const auto& blk : blocks_)
            if (!blk->silent && !blk->faults.noAnnouncement)
                sendBlockDatagram(packet::Bytes(
                    {blk->configFunction(), ConfigFlags, blk->address(), sub::Announcement, 0}));
    } else if (subFunction == ServiceClock && data.size() >= 4) {
        lastClock_ = byteorder::le32(data.data());
        clockOffsetMs_ = qint64(*lastClock_) * 1000 - clockSource_();
        emit clockSet(*lastClock_);
    } else if (subFunction == ServiceStart) {
        ++counters_.serviceStarts;
    } else if (subFunction == ServiceEnd) {
        ++counters_.serviceEnds;
    }
}

void KpSim::sendBlockDatagram(const QByteArray& records, std::vector<RecordKind> kinds)
{
    Faults& f = options_.faults;
    if (f.silent || f.dropAllReplies)
        return;
    if (f.dropReplies > 0) {
        --f.dropReplies;
        return;
    }
    if (f.replyDelayMs > 0)
        QTimer::singleShot(f.replyDelayMs, this,
                           [this, records, kinds] { sendCounted(records, kinds); });
    else
        sendCounted(records, kinds);
}

int KpSim::sendCounted(const QByteArray& records, const std::vector<RecordKind>& kinds)
{
    const int seq = sendData(records);
    if (seq >= 0)
        for (RecordKind k : kinds)
            ++counters_.records[size_t(k)];
    return seq;
}

bool KpSim::send(const QByteArray& d)
{
    if (options_.faults.silent || !socket_ || peerPort_ == 0 || peerAddress_.isNull())
        return false;
    if (socket_->writeDatagram(d, peerAddress_, peerPort_) != d.size())
        return false;
    emit datagramSent(d);
    return true;
}

} // namespace kpsim
