// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hands the CAN frame records of one data datagram to the live tables, as the dispatcher does.

#include "exchange/packet.h"
#include "fielddata/livetables.h"

#include <QByteArray>

inline void feed(LiveTables& t, const QByteArray& records)
{
    QByteArray d = QByteArray::fromHex("00000119") + records;
    d[1] = char(records.size());
    CanRecordWalk walk(d);
    CanRecord rec;
    while (walk.next(rec))
        t.HandleRecord(rec);
}
