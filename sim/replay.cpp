// SPDX-License-Identifier: GPL-3.0-or-later
#include "replay.h"

#include "commandline.h"
#include "exchange/packet.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

namespace replay
{

namespace
{

// The clock setting: service record 01 18 80 01, its 4 bytes of time at 9..12.
bool IsClockSetting(const QByteArray& d)
{
    return d.size() == 15 && packet::at(d, 4) == 0x01 && packet::at(d, 6) == 0x80 &&
           packet::at(d, 7) == 0x01;
}

// A request as recorded: equal from byte 3 on; a clock setting, but for the time it sets.
bool SameRequest(const QByteArray& recorded, const QByteArray& received)
{
    if (recorded.size() != received.size())
        return false;
    if (IsClockSetting(recorded) && IsClockSetting(received))
        return recorded.mid(3, 6) == received.mid(3, 6) && recorded.mid(13) == received.mid(13);
    return recorded.mid(3) == received.mid(3);
}

} // namespace

Replayer::Replayer(Script script, Settings settings, QObject* parent)
    : QObject(parent), script_(std::move(script)), settings_(std::move(settings))
{
    next_.setSingleShot(true);
    next_.setTimerType(Qt::PreciseTimer);
    requestWait_.setSingleShot(true);
    end_.setSingleShot(true);
    connect(&next_, &QTimer::timeout, this, &Replayer::sendDue);
    connect(&requestWait_, &QTimer::timeout, this, [this] {
        diverge(
            packet::HexText(script_.requests[nextRequest_].bytes),
            QStringLiteral(" nothing for %1 s").arg(requestWait_.interval() / 1000.0, 0, 'f', 1),
            {});
    });
    connect(&end_, &QTimer::timeout, this, &Replayer::finish);
}

Replayer::~Replayer() = default;

bool Replayer::start(QString* error)
{
    socket_ = new QUdpSocket(this);
    connect(socket_, &QUdpSocket::readyRead, this, &Replayer::readDatagrams);
    const kpsim::Options& o = settings_.simulator;
    if (socket_->bind(o.bindAddress, o.port))
        return true;
    *error = QStringLiteral("cannot bind %1:%2: %3")
                 .arg(o.bindAddress.toString())
                 .arg(o.port)
                 .arg(socket_->errorString());
    return false;
}

quint16 Replayer::localPort() const
{
    return socket_ ? socket_->localPort() : 0;
}

int Replayer::exitCode() const
{
    return divergences_ == 0 && nextRequest_ == script_.requests.size() ? 0 : 1;
}

QString Replayer::Summary() const
{
    return QStringLiteral("replay: %1 datagrams played, %2 of %3 requests matched, "
                          "divergences: %4")
        .arg(played_)
        .arg(matched_)
        .arg(script_.requests.size())
        .arg(divergences_);
}

void Replayer::readDatagrams()
{
    while (socket_ && socket_->hasPendingDatagrams()) {
        const QNetworkDatagram dg = socket_->receiveDatagram();
        if (!dg.isValid() || done_)
            continue;
        if (peerPort_ == 0) { // the program's first datagram starts the recorded time
            peer_ = dg.senderAddress();
            peerPort_ = quint16(dg.senderPort());
            clock_.start();
            armNext();
            armRequestWait();
        }
        if (dg.senderAddress().isEqual(peer_) && dg.senderPort() == peerPort_)
            fromProgram(dg.data());
        if (simulator_) // handed over: the socket is the simulator's now
            return;
    }
}

void Replayer::fromProgram(const QByteArray& d)
{
    if (diverged_)
        end_.start(SilentEndMs);
    else if (IsRequest(d) && d != lastRequest_) // a request sent again is already answered
        request(d);
}

void Replayer::request(const QByteArray& d)
{
    lastRequest_ = d;
    if (nextRequest_ >= script_.requests.size())
        return diverge(QStringLiteral(" nothing (the recording has no more requests)"),
                       packet::HexText(d), d);
    const Request& r = script_.requests[nextRequest_];
    if (!SameRequest(r.bytes, d))
        return diverge(packet::HexText(r.bytes), packet::HexText(d), d);
    ++matched_;
    ++nextRequest_;
    const qint64 now = nowUs();
    for (const Answer& a : r.answers) {
        QByteArray bytes = a.bytes;
        if (a.numbered)
            bytes[2] = d[2];
        answers_.emplace(now + scaled(a.afterUs), bytes);
    }
    armNext();
    armRequestWait();
}

void Replayer::diverge(const QString& recorded, const QString& received, const QByteArray& d)
{
    ++divergences_;
    diverged_ = true;
    const qint64 at =
        nextRequest_ < script_.requests.size() ? script_.requests[nextRequest_].us : -1;
    if (Tell)
        Tell(QStringLiteral("the exchange diverged at request %1 of %2%3: recorded%4; received%5")
                 .arg(nextRequest_ + 1)
                 .arg(script_.requests.size())
                 .arg(at < 0 ? QString()
                             : QStringLiteral(" (recorded %1 s after the program's first "
                                              "datagram)")
                                   .arg(double(at) / 1e6, 0, 'f', 3))
                 .arg(recorded, received));
    next_.stop();
    requestWait_.stop();
    answers_.clear();
    if (settings_.thenSimulate)
        simulate(d);
    else
        end_.start(SilentEndMs);
}

void Replayer::simulate(const QByteArray& d)
{
    kpsim::Options o = settings_.simulator;
    if (o.blocks.isEmpty())
        o.blocks = script_.blocks;
    o.relinkOnKeepAlive = true; // a program started again finds it
    // The port goes to the simulator at once; the socket itself may be in its own signal.
    socket_->close();
    socket_->deleteLater();
    socket_ = nullptr;
    simulator_ = std::make_unique<kpsim::KpSim>(o);
    QString error;
    if (!simulator_->start(&error)) {
        if (Tell)
            Tell(error);
        return finish();
    }
    if (Tell)
        Tell(QStringLiteral("going on as the simulator with blocks %1")
                 .arg(kpsim::BlocksText(o.blocks)));
    simulator_->takeOverLink(peer_, peerPort_, d.isEmpty() ? 0 : packet::at(d, 0), d);
}

void Replayer::armNext()
{
    qint64 due = answers_.empty() ? std::numeric_limits<qint64>::max() : answers_.begin()->first;
    if (nextSpontaneous_ < script_.spontaneous.size())
        due = std::min(due, scaled(script_.spontaneous[nextSpontaneous_].us));
    if (due == std::numeric_limits<qint64>::max())
        return checkEnd();
    next_.start(int(std::clamp<qint64>((due - nowUs() + 999) / 1000, 0, 24 * 3600 * 1000)));
}

void Replayer::armRequestWait()
{
    if (nextRequest_ >= script_.requests.size()) {
        requestWait_.stop();
        return checkEnd();
    }
    const qint64 before = nextRequest_ > 0 ? script_.requests[nextRequest_ - 1].us : 0;
    const qint64 pause = scaled(script_.requests[nextRequest_].us - before) / 1000;
    requestWait_.start(int(std::min<qint64>(pause + GraceMs, 24 * 3600 * 1000)));
}

void Replayer::sendDue()
{
    const qint64 now = nowUs();
    for (;;) {
        const bool answer = !answers_.empty() && answers_.begin()->first <= now;
        const bool spontaneous = nextSpontaneous_ < script_.spontaneous.size() &&
                                 scaled(script_.spontaneous[nextSpontaneous_].us) <= now;
        if (!answer && !spontaneous)
            break;
        // Of two due, the earlier first.
        const bool takeAnswer =
            answer && (!spontaneous ||
                       answers_.begin()->first <= scaled(script_.spontaneous[nextSpontaneous_].us));
        const QByteArray bytes =
            takeAnswer ? answers_.begin()->second : script_.spontaneous[nextSpontaneous_].bytes;
        if (takeAnswer)
            answers_.erase(answers_.begin());
        else
            ++nextSpontaneous_;
        socket_->writeDatagram(bytes, peer_, peerPort_);
        ++played_;
    }
    armNext();
}

void Replayer::checkEnd()
{
    const bool all = nextRequest_ >= script_.requests.size() && answers_.empty() &&
                     nextSpontaneous_ >= script_.spontaneous.size();
    if (all && !diverged_ && peerPort_ != 0 && !end_.isActive())
        end_.start(LingerMs);
}

void Replayer::finish()
{
    if (done_)
        return;
    done_ = true;
    next_.stop();
    requestWait_.stop();
    end_.stop();
    emit finished(exitCode());
}

} // namespace replay
