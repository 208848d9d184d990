// SPDX-License-Identifier: GPL-3.0-or-later
// The long watch. The trend window drawing 8 curves of one hour each (36,000 values a
// curve, the whole hour in view): milliseconds a frame, curves computed and painted. Then a day
// of telesignal events at 100 a second (8.64 million) fed through the receive dispatcher into
// the tables and the data tab's event list in fast time: resident memory once the list first
// holds its 100,000 lines, and at the end of the day (the second run).
//
//   bench_trends            the redraw
//   bench_trends events     the day of events

#include "app/tform1.h"
#include "fielddata/trendwindow.h"

#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace
{
double ResidentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void Redraws(TForm1& form)
{
    TrendWindow window(form.Core.Trends);
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - trend::HourMs;
    for (int c = 0; c < 8; ++c) {
        trend::Series& s = form.Core.Trends.Add({trend::Kind::Measurement, 2, c + 1});
        for (int i = 0; i < trend::RingCapacity; ++i)
            s.ring.Append(start + qint64(i) * 100, 1000 * std::sin(i / (200.0 + 30 * c)) + 50 * c);
    }
    window.resize(1280, 720);
    window.show();
    QApplication::processEvents();
    for (int i = 0; i < 12; ++i) { // zoomed out to the whole hour
        QKeyEvent minus(QEvent::KeyPress, Qt::Key_Minus, {});
        QApplication::sendEvent(&window, &minus);
    }
    std::vector<double> frames, curves;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        window.Redraw();
        curves.push_back(double(t.nsecsElapsed()) / 1e6);
        window.TrendChart->viewport()->repaint();
        frames.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(curves.begin(), curves.end());
    std::sort(frames.begin(), frames.end());
    std::printf("redraw of 8 curves of %d values each, %.0f minutes in view, %d px wide:\n",
                trend::RingCapacity, double(window.Span()) / 60000.0,
                window.TrendChart->viewport()->width());
    std::printf("  %.1f ms a frame (median of %zu; fastest %.1f, slowest %.1f), of which %.1f ms "
                "computing the curves\n",
                frames[frames.size() / 2], frames.size(), frames.front(), frames.back(),
                curves[curves.size() / 2]);
}

void DayOfEvents(TForm1& form)
{
    constexpr qint64 Day = 100LL * 86400;
    form.BaseIPadapter->setText(QStringLiteral("127.0.0.1"));
    const QHostAddress adapter(QStringLiteral("127.0.0.1"));
    QByteArray d = QByteArray::fromHex("000c0019"
                                       "448000a007"
                                       "00000000"
                                       "0000"
                                       "00");
    double atFull = 0;
    QElapsedTimer t;
    t.start();
    for (qint64 i = 0; i < Day; ++i) {
        const quint32 seconds = quint32(1796800000 + i / 100);
        d[2] = char(i);
        d[7] = char(0x80 | (i % 32)); // input i % 32 + 1, changing state
        for (int b = 0; b < 4; ++b)
            d[9 + b] = char(seconds >> (8 * b));
        d[13] = char((i % 100) * 10);
        form.Link.Receive(d, adapter);
        if (i % 1000 == 999)
            QApplication::processEvents();
        if (atFull == 0 && form.Tables.Events.size() == EventList::Limit) {
            QApplication::processEvents();
            atFull = ResidentMegabytes();
        }
    }
    QApplication::processEvents();
    const double atEnd = ResidentMegabytes();
    std::printf("a day of events at 100 a second: %lld through the dispatcher in %.0f s\n", Day,
                double(t.elapsed()) / 1000.0);
    std::printf("  event list: %lld lines kept, %lld given way\n",
                static_cast<long long>(form.Tables.Events.size()),
                static_cast<long long>(form.Tables.Events.dropped()));
    std::printf("  resident memory: %.1f MB once the list held its %d lines, %.1f MB at the end "
                "(%+.1f MB)\n",
                atFull, EventList::Limit, atEnd, atEnd - atFull);
}
} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    TForm1 form({QStringLiteral("d")}, new QSettings(dir.filePath("s.conf"), QSettings::IniFormat));
    form.show();
    form.PageControl1->setTabVisible(TForm1::TabData, true);
    form.PageControl1->setCurrentIndex(TForm1::TabData);
    if (argc > 1 && QByteArray(argv[1]) == "events")
        DayOfEvents(form);
    else
        Redraws(form);
    return 0;
}
