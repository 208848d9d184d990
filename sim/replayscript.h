// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A recorded exchange turned into what the adapter is to play back: the program's numbered
// requests in order, each with what the adapter sent in answer to it (its receipt, the
// transmission report, the blocks' replies) and when; the adapter's other datagrams
// (announcements, live data, events) at their times from the program's first datagram; and
// the blocks the recording shows.
//
// The adapter is the end at the adapter port (given, else 972 when the capture holds it, else
// the port the program's keep-alive or link message goes to, else the one announcements come
// from); of two ends on that port the adapter is the one the keep-alive goes to or the
// announcements come from.

#include "capturereader.h"
#include "kpsim.h"

#include <QByteArray>
#include <QList>
#include <optional>

namespace replay
{

struct Answer {
    qint64 afterUs = 0; // after the request, as recorded
    QByteArray bytes;
    bool numbered = false; // a receipt or transmission report: byte 2 is the request's number
};

struct Request {
    qint64 us = 0; // from the program's first datagram
    QByteArray bytes;
    QList<Answer> answers;
};

struct Spontaneous {
    qint64 us = 0; // from the program's first datagram (0 for what came before it)
    QByteArray bytes;
};

struct Script {
    quint32 adapterAddress = 0;
    quint16 adapterPort = 0;
    QList<Request> requests; // a request sent again with the same number counts once
    QList<Spontaneous> spontaneous;
    QList<kpsim::BlockSpec> blocks;
    int adapterDatagrams = 0;
    int programDatagrams = 0;
};

// What the adapter is to play from the capture's datagrams; nothing, with the reason, when
// they hold no exchange with an adapter.
std::optional<Script> MakeScript(const QList<capture::Datagram>& datagrams,
                                 std::optional<quint16> adapterPort, QString* error);

// Whether a datagram is one of the program's numbered requests (channel 0 or 1, CAN frames).
bool IsRequest(const QByteArray& d);

} // namespace replay
