// SPDX-License-Identifier: GPL-3.0-or-later
// Trends: the ring of a series (an hour, the oldest dropped, its memory fixed), the curves fed
// from the tables (measurements in the table's unit, telesignal steps at their events' own
// stamps), the CSV export byte for byte, the event list's limit, and the trend window once
// through its controls.

#include "fielddata/feedrecords.h"
#include "fielddata/livetables.h"
#include "fielddata/trends.h"
#include "fielddata/trendwindow.h"

#include <QChartView>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
// 2026-12-09 14:05:09 UTC, the tests' zone.
constexpr qint64 T0 = 1796825109000;
} // namespace

class TestTrends : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    // One value a second for two hours: the last hour stays, in a ring that never grows; more
    // values in an hour than the ring holds: the newest.
    void ringKeepsTheNewestHour()
    {
        trend::Ring ring;
        const int capacity = ring.capacity();
        for (int s = 0; s < 7200; ++s)
            ring.Append(T0 + 1000 * s, s);
        QCOMPARE(ring.size(), 3601);
        QCOMPARE(ring.at(0).value, 3599.0);
        QCOMPARE(ring.capacity(), capacity);
        QCOMPARE(ring.ValueAt(T0 + 1000 * 5000 + 500), 5000.0);
        QCOMPARE(ring.ValueAt(T0), std::nullopt);

        trend::Ring small(10);
        for (int i = 0; i < 25; ++i)
            small.Append(T0 + i, i);
        QCOMPARE(small.size(), 10);
        QCOMPARE(small.at(0).value, 15.0);
        small.Append(T0, 99); // earlier than the newest: taken at the newest's time
        QCOMPARE(small.at(9).ms, T0 + 24);
    }

    // Curves from the tables' records; the export's bytes: the header with the names, local
    // time with milliseconds, the decimal point, a cell left empty where a curve has no value.
    void curvesFromTheTablesAndTheirCsv()
    {
        LiveTables tables;
        trend::Recorder r(tables);
        qint64 now = T0;
        r.Now = [&] { return now; };
        const trend::Series& tit = r.Add({trend::Kind::Measurement, 2, 5});
        const trend::Series& tii = r.Add({trend::Kind::Counter, 1, 3});
        const trend::Series& ts = r.Add({trend::Kind::Telesignal, 0, 7});
        tables.setUnit(LiveTables::Volts);
        feed(tables, QByteArray::fromHex("48 18 02 04 04 2406 0000")); // channels 5, 6: 1572, 0
        now += 500;
        feed(tables, QByteArray::fromHex("44 21 01 03 08 e8030000 00000000"));
        feed(tables, QByteArray::fromHex("44 18 00 00 04 00000000")); // input 7 at 0
        // Input 7 rises at 14:05:10.250 of the controlled point, a double point with input 8.
        feed(tables, QByteArray::fromHex("44 80 00 a6 07 1660196b fa00 01"));
        QCOMPARE(ts.ring.size(), 2);
        QCOMPARE(ts.ring.at(1).ms, T0 + 1250);
        QCOMPARE(ts.ring.at(1).value, 1.0);

        QCOMPARE(r.Csv({&tit, &tii, &ts}, T0, T0 + 2000),
                 QByteArray("Время,ТИТ 2 вход 5 (В),ТИИ 1 счётчик 3,ТС 0 вход 7\n"
                            "2026-12-09 14:05:09.000,0.9773688137,,\n"
                            "2026-12-09 14:05:09.500,,1000,0\n"
                            "2026-12-09 14:05:10.250,,,1\n"));
        r.Remove(tii.key);
        QCOMPARE(r.series().size(), size_t(2));
        r.Clear();
        QCOMPARE(tit.ring.size(), 0);
    }

    // The newest 100,000 lines stay; a line at the top says how many gave way; "Очистить"
    // clears it all.
    void eventListKeepsItsNewestLines()
    {
        EventList list;
        for (int i = 0; i < EventList::Limit + 3; ++i)
            list.Append(QString::number(i));
        QCOMPARE(list.size(), qsizetype(EventList::Limit));
        QCOMPARE(list.rowCount(), EventList::Limit + 1);
        QCOMPARE(list.index(0).data().toString(), EventList::DroppedNote(3));
        QCOMPARE(list.index(1).data().toString(), "3");
        QCOMPARE(list.last(), QString::number(EventList::Limit + 2));
        list.Clear();
        QCOMPARE(list.rowCount(), 0);
        QCOMPARE(list.dropped(), 0);
    }

    // The window through its controls: the curves listed by name, following the newest value,
    // a look back by the keyboard, follow again, pause, both exports, a curve removed.
    void windowThroughItsControls()
    {
        LiveTables tables;
        trend::Recorder r(tables);
        for (int s = 0; s < 1200; ++s) {
            r.Add({trend::Kind::Measurement, 0, 1}).ring.Append(T0 + 1000 * s, s % 100);
            r.Add({trend::Kind::Telesignal, 0, 2}).ring.Append(T0 + 1000 * s, (s / 50) % 2);
        }
        TrendWindow w(r);
        QTemporaryDir dir;
        w.SaveDialog = [&](const QString& filter) {
            return dir.filePath(filter.contains("csv") ? "t.csv" : "t.png");
        };
        w.ShowCurves({{trend::Kind::Counter, 1, 1}});
        QCOMPARE(w.TrendCurves->count(), 3);
        QCOMPARE(w.TrendCurves->item(1)->text(), "ТС 0 вход 2");
        w.Redraw();
        QCOMPARE(w.End(), T0 + 1199 * 1000);
        QCOMPARE(w.Span(), TrendWindow::DefaultSpanMs);

        QTest::keyClick(&w, Qt::Key_Left);
        QVERIFY(!w.Following() && !w.TrendFollow->isChecked());
        QCOMPARE(w.End(), T0 + 1199 * 1000 - TrendWindow::DefaultSpanMs / 10);
        QTest::keyClick(&w, Qt::Key_Minus);
        QCOMPARE(w.Span(), TrendWindow::DefaultSpanMs * 5 / 4);
        w.TrendFollow->click();
        QVERIFY(w.Following());
        w.TrendPause->click();
        QCOMPARE(w.TrendPause->text(), "Продолжить");

        w.TrendExportCsv->click();
        QFile csv(dir.filePath("t.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        QCOMPARE(rows[0], "Время,ТИТ 0 вход 1 (кванты),ТС 0 вход 2,ТИИ 1 счётчик 1");
        QCOMPARE(rows.size(), 2 + 751); // the 12.5 minutes shown, and the last line's end
        w.TrendExportPng->click();
        QVERIFY(QImage(dir.filePath("t.png")).width() > 100);

        w.TrendCurves->setCurrentRow(0);
        w.TrendRemove->click();
        QCOMPARE(w.TrendCurves->count(), 2);
        QCOMPARE(r.series().size(), size_t(2));
    }
};

QTEST_MAIN(TestTrends)
#include "tst_trends.moc"
