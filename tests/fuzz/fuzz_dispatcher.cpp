// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary datagrams from arbitrary senders through the receive dispatcher,
// the announcement handling and every record handler, with the link in arbitrary states; the same
// bytes also as queries of the local telesignal service. Nothing leaves the process: the data
// socket is never bound and the adapter's port does not read.
//
// Input: a sequence of [settings byte][sender byte][length byte][datagram bytes].

#include "app/programcore.h"

#include <QCoreApplication>
#include <cstddef>
#include <cstdint>

namespace
{

struct Harness {
    int argc = 1;
    char name[8] = "fuzz";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    // The core as the program wires it: every record handler the program registers runs here.
    ProgramCore core;
    TraceLog& trace = core.Trace;
    LinkCore& link = core.Link;
    LiveTables& tables = core.Tables;
    Telecontrol& tc = core.Tc;
    LocalQueryService& query = core.LocalQuery; // never bound: answers are only built
    uint64_t records = 0;

    Harness()
    {
        link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
        link.settings.BaseMacAdapter = QStringLiteral("0A:1B:2C:3D:4E:5F");
        link.settings.BasePortD = QString(); // no port: nothing can be sent anywhere
        core.Dispatcher.RegisterRecordHandler([this](const CanRecord& rec) {
            // Touch every byte the record claims to hold: a read outside would be caught.
            for (uint8_t b : rec.data)
                records += b;
            records += rec.byteAfterData();
        });
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Harness h;
    // One input's lines are enough here.
    h.tables.ClearEvents();
    h.tc.TuEvent.clear();
    size_t i = 0;
    while (i + 3 <= size) {
        const uint8_t settings = data[i], senderByte = data[i + 1], length = data[i + 2];
        i += 3;
        const size_t n = std::min<size_t>(length, size - i);
        const TPacket d(reinterpret_cast<const char*>(data + i), qsizetype(n));
        i += n;

        h.link.settings.Connect = settings & 0x01;
        h.link.settings.DebugMode = settings & 0x02;
        h.trace.Listen = settings & 0x04;
        h.trace.TrassEnable = !(settings & 0x08);
        h.link.settings.Km4Cfg = ((settings >> 4) & 0x07) - 1; // -1..6, past the list too
        if (settings & 0x80)
            h.link.SetLinkOpen(!h.link.LinkOpen);
        const QHostAddress sender(senderByte < 0xC0 ? 0x7F000001u : 0x7F000000u + senderByte);
        h.link.Receive(d, sender);
        // The same bytes as a query of the local service, answered from the tables just filled.
        h.records += uint64_t(h.query.Answer(d).size());
    }
    return 0;
}
