// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A tap on the program's UDP sockets: told of every datagram a socket sends or receives, with
// the peer's address and port. The sockets' owners call it right where they read or write.

#include "exchange/packet.h"

#include <QHostAddress>

class QUdpSocket;

class DatagramTap
{
public:
    enum Way { Received, Sent };
    // socket: the program's own end; peer: where the datagram came from or went to. traced: the
    // datagram gets a row in the exchange trace (the data socket's datagrams do, the local
    // query service's do not).
    virtual void Datagram(const QUdpSocket& socket, Way way, const QHostAddress& peer,
                          quint16 peerPort, const TPacket& datagram, bool traced) = 0;

protected:
    ~DatagramTap() = default;
};
