// SPDX-License-Identifier: GPL-3.0-or-later
// Trace rows appended per second, with the trace on and the grid already at its 300-row limit,
// once for the model alone and once with the grid view attached and shown (offscreen). Then what
// recording to a capture file adds to each datagram and its receipt, as the exchange traces and
// sends them (the sockets left out, so only the recorder's own work is measured).

#include "exchange/capture.h"
#include "exchange/tracelog.h"
#include "exchange/tracepage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

static double rowsPerSecond(TraceLog& trace, int rows)
{
    const TPacket datagram = QByteArray::fromHex("000b0119441802000604000000000000");
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rows; ++i) {
        trace.TraceFrame(i % 2 ? TraceLog::Program : TraceLog::Adapter, datagram);
        trace.TraceNote(QStringLiteral("ЦТС"));
        if ((i & 1023) == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    return rows / (clock.nsecsElapsed() / 1e9);
}

// A received datagram with its row and appended notes, then the program's receipt with its row;
// nanoseconds per datagram, recorded when capture is not null.
static double nsPerDatagram(TraceLog& trace, CaptureRecorder* capture, int datagrams)
{
    const TPacket datagram = QByteArray::fromHex("00120519442102010801000000e8030000"
                                                 "000000");
    const TPacket receipt = packet::Receipt(0x05);
    const capture::UdpEnds in{0x7F000001, 9720, 0x7F000001, 40001};
    const capture::UdpEnds out{0x7F000001, 40001, 0x7F000001, 9720};
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < datagrams; ++i) {
        if (capture)
            capture->Record(DatagramTap::Received, in, datagram, true);
        trace.TraceFrame(TraceLog::Adapter, datagram);
        trace.TraceAppend(QStringLiteral("ЦТИИ"));
        trace.TraceFrame(TraceLog::Program, receipt);
        trace.TraceNote(QStringLiteral("КВТ"));
        if (capture)
            capture->Record(DatagramTap::Sent, out, receipt, true);
        if ((i & 1023) == 0)
            QCoreApplication::processEvents();
    }
    return clock.nsecsElapsed() / double(datagrams);
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? atoi(argv[1]) : 200000;

    TraceLog bare;
    rowsPerSecond(bare, 400); // reach the limit
    const double modelOnly = rowsPerSecond(bare, rows);

    TraceLog shown;
    CaptureRecorder capture(shown);
    TracePage page(shown, capture);
    page.resize(760, 900);
    page.show();
    rowsPerSecond(shown, 400);
    const double withView = rowsPerSecond(shown, rows);

    std::printf("trace rows appended per second at the 300-row limit (%d rows):\n", rows);
    std::printf("  model only:        %.0f\n", modelOnly);
    std::printf("  with grid shown:   %.0f\n", withView);

    QTemporaryDir dir;
    TraceLog traced;
    CaptureRecorder recorder(traced);
    nsPerDatagram(traced, nullptr, 400);
    const double plain = nsPerDatagram(traced, nullptr, rows / 2);
    if (!recorder.Start(dir.filePath("bench.pcapng")).isEmpty())
        return 1;
    const double recorded = nsPerDatagram(traced, &recorder, rows / 2);
    recorder.Stop();
    std::printf("a datagram and its receipt traced (%d): %.2f us; recorded too: %.2f us;\n",
                rows / 2, plain / 1000, recorded / 1000);
    std::printf("  recording adds %.2f us per received datagram and its receipt (two packets)\n",
                (recorded - plain) / 1000);
    return 0;
}
