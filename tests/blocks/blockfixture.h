// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The block service on the stand-in adapter of LinkFixture, facing one block: every numbered
// request gets its receipt and transmission report, and the block answers what `block` says,
// so that tests pin the requests byte by byte.

#include "blocks/blockservice.h"
#include "exchange/linkfixture.h"
#include "support/operatorio.h"

#include <optional>

struct BlockBench : LinkFixture {
    BlockService blocks{link, trace};
    PolicyOperator op;
    QList<QByteArray> requests; // numbered requests as sent, with the sequence byte set to 0
    uint8_t seq = 0;
    // The 8 data bytes of the block's reply to a request record (F 18 A sub DLC data...), or
    // nothing for no reply. Unset: every request is answered with zeros.
    std::function<std::optional<QByteArray>(const QByteArray& record)> block;

    const blocks::Ref target; // the block the requests go to

    BlockBench(uint8_t f, uint8_t a) : target{blocks::SlotOf(f), a}
    {
        blocks.SetOperator(&op);
        open();
        onSent = [this](const QByteArray& d) {
            if (d.size() < 5 || d[3] != 0x19)
                return;
            const QByteArray record = d.mid(4);
            requests << d;
            requests.last()[2] = 0;
            fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
            fromAdapter(packet::Bytes({0x83, 0x00, uint8_t(d[2])}));
            if (uint8_t(record[0]) == 0x01) // a broadcast notice: nobody answers
                return;
            const auto data = block ? block(record) : QByteArray(8, '\0');
            if (!data)
                return;
            const QByteArray reply = record.left(4) + char(0x08) + data->leftJustified(8, '\0');
            fromAdapter(QByteArray(1, '\0') + char(reply.size()) + char(seq++) + char(0x19) +
                        reply);
        };
    }

    // The sub-function of a request record.
    static uint8_t Sub(const QByteArray& record) { return uint8_t(record[3]); }
    // The requests as hex, for comparison with the protocol's tables.
    QStringList hexRequests() const
    {
        QStringList all;
        for (const QByteArray& r : requests)
            all << QString::fromLatin1(r.toHex());
        return all;
    }
};
