// Trace rows appended per second, with the trace on and the grid already at its 300-row limit,
// once for the model alone and once with the grid view attached and shown (offscreen).

#include "exchange/capture.h"
#include "exchange/tracelog.h"
#include "exchange/tracepage.h"

#include <QApplication>
#include <QElapsedTimer>
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
    return 0;
}
