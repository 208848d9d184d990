// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's end of the exchange for the simulator's tests: a plain UDP socket on loopback,
// and small builders of the program's datagrams.

#include "exchange/packet.h"
#include "kpsim.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>

namespace simtest
{

inline QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// A request as the program's request channel sends it: channel and sequence stamped.
inline QByteArray Stamped(uint8_t channel, uint8_t seq, uint8_t function, uint8_t address,
                          uint8_t sub, std::initializer_list<uint8_t> data)
{
    QByteArray d = packet::Request(function, 0x18, address, sub, data);
    d[0] = char(channel);
    d[2] = char(seq);
    return d;
}

// The program's end of the exchange: one socket on loopback talking to the simulator.
class Peer
{
public:
    explicit Peer(quint16 simPort) : port_(simPort)
    {
        bound_ = socket_.bind(QHostAddress(QHostAddress::LocalHost), 0);
    }
    bool bound() const { return bound_; }
    void send(const QByteArray& d)
    {
        socket_.writeDatagram(d, QHostAddress(QHostAddress::LocalHost), port_);
    }
    // The next datagram from the simulator, or an empty array when none comes in time.
    QByteArray next(int timeoutMs = 2000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!socket_.hasPendingDatagrams()) {
            QSignalSpy spy(&socket_, &QUdpSocket::readyRead);
            if (socket_.hasPendingDatagrams())
                break;
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0 || !spy.wait(int(left)))
                break;
        }
        if (!socket_.hasPendingDatagrams())
            return {};
        return socket_.receiveDatagram().data();
    }
    // Sends a numbered request that nothing on the bus answers and returns true when the next
    // datagrams are exactly its receipt and transmission report. The simulator handles
    // datagrams in order, so anything it would have sent for earlier input comes before them.
    bool barrier(uint8_t seq = 0xEE)
    {
        send(packet::Bytes({0x00, 0x05, seq, 0x19, 0x10, 0x00, 0x00, 0x00, 0x00}));
        const QByteArray receipt = next();
        const QByteArray report = next();
        if (receipt != packet::Bytes({0x82, 0x01, seq}) ||
            report != packet::Bytes({0x83, 0x00, seq})) {
            qWarning() << "barrier got" << receipt.toHex(' ') << "then" << report.toHex(' ');
            return false;
        }
        return true;
    }

private:
    QUdpSocket socket_;
    quint16 port_;
    bool bound_ = false;
};

inline kpsim::Options LoopbackOptions(QList<kpsim::BlockSpec> blocks = {})
{
    kpsim::Options o;
    o.port = 0;
    o.blocks = std::move(blocks);
    return o;
}

inline bool WaitForCount(QSignalSpy& spy, int count)
{
    while (spy.count() < count)
        if (!spy.wait(2000))
            return false;
    return true;
}

} // namespace simtest
