// SPDX-License-Identifier: GPL-3.0-or-later
// The live tables: every record kind into its cells, the units, the event lines, the archive
// position, the two requests, and records that are short or address cells the tables lack.
// Records are written "function flags address sub DLC data" with blanks between the fields.

#include "exchange/linkfixture.h"
#include "fielddata/livetables.h"
#include "support/localtext.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{
QByteArray hex(const char* h)
{
    return QByteArray::fromHex(h); // blanks are skipped
}

// The four stamp bytes of the controlled point's clock for a time of day.
QByteArray stamp(const QTime& time)
{
    const auto s = quint32(QDateTime(QDate(2024, 5, 17), time, Qt::UTC).toSecsSinceEpoch());
    return QByteArray(1, char(s)) + char(s >> 8) + char(s >> 16) + char(s >> 24);
}

// A data datagram with the given records; `keep` cuts it after that many bytes.
QByteArray datagram(const QByteArray& records, int keep = -1)
{
    QByteArray d = hex("00 00 11 19") + records;
    d[1] = char(records.size());
    if (keep >= 0)
        d.truncate(keep);
    return d;
}

// Hands every record of the datagram to the tables, as the dispatcher does.
void feed(LiveTables& t, const QByteArray& records, int keep = -1)
{
    const QByteArray d = datagram(records, keep);
    CanRecordWalk walk(d);
    CanRecord rec;
    while (walk.next(rec))
        t.HandleRecord(rec);
}

// Telesignal cells of a grid row, columns 1 to 32, an empty cell as '.'.
QString states(const LiveTables& t, int row)
{
    QString s;
    for (int c = 1; c <= 32; ++c)
        s +=
            t.Telesignals.cell(row, c).isEmpty() ? QStringLiteral(".") : t.Telesignals.cell(row, c);
    return s;
}

// Every cell of the three tables, headers included.
QStringList snapshot(const LiveTables& t)
{
    QStringList all;
    for (const GridTableModel* m : {&t.Telesignals, &t.Measurements, &t.Integrals})
        for (int r = 0; r < m->gridRowCount(); ++r)
            for (int c = 0; c < m->gridColumnCount(); ++c)
                all << m->cell(r, c);
    return all;
}

QString dp()
{
    return QLocale::system().decimalPoint();
}

const QString Unset = QString(32, u'.');
} // namespace

class TestLiveTables : public QObject
{
    Q_OBJECT

private slots:
    void tablesAndHeaders()
    {
        LiveTables t;
        const GridTableModel& ts = t.Telesignals;
        QCOMPARE(ts.gridColumnCount(), 33);
        QCOMPARE(ts.gridRowCount(), 18);
        QCOMPARE(ts.cell(0, 0), "№");
        QCOMPARE(ts.cell(0, 32), "32");
        QCOMPARE(ts.cell(8, 0), "7");
        QCOMPARE(ts.cell(9, 0), "Б0");
        QCOMPARE(ts.cell(16, 0), "Б7");
        QVERIFY(ts.cell(17, 0).isEmpty());
        // The model's rows and columns are the data cells; the headers come through headerData.
        QCOMPARE(ts.rowCount(), 17);
        QCOMPARE(ts.columnCount(), 32);
        QCOMPARE(ts.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "1");
        QCOMPARE(ts.headerData(8, Qt::Vertical, Qt::DisplayRole).toString(), "Б0");
        for (const GridTableModel* m : {&t.Measurements, &t.Integrals}) {
            QCOMPARE(m->gridColumnCount(), 18);
            QCOMPARE(m->gridRowCount(), 18);
            QCOMPARE(m->cell(0, 1), "1/17");
            QCOMPARE(m->cell(0, 16), "16/32");
            QCOMPARE(m->cell(0, 17), "Время");
            QCOMPARE(m->cell(4, 0), "1-17");
            QCOMPARE(m->cell(16, 0), "7-17");
            QVERIFY(m->cell(17, 0).isEmpty());
        }
        // Cells outside the grid read empty and cannot be written.
        t.Telesignals.setCell(18, 1, "1");
        t.Telesignals.setCell(1, 33, "1");
        QVERIFY(t.Telesignals.cell(18, 1).isEmpty());
        QVERIFY(t.Telesignals.cell(1, 33).isEmpty());
    }

    void telesignalAndInterlockStates()
    {
        LiveTables t;
        QSignalSpy changed(&t.Telesignals, &QAbstractItemModel::dataChanged);
        feed(t, hex("44 18 03 00 05 01000080 07"));
        QCOMPARE(states(t, 4), "1" + QString(30, u'0') + "1");
        QCOMPARE(states(t, 3), Unset);
        QCOMPARE(states(t, 5), Unset);
        QCOMPARE(t.ArchivePos, 7);
        QTRY_VERIFY(!changed.isEmpty()); // views follow, a moment later

        // Interlocks of block 0 go to "Б0"; their first data byte is not shown.
        feed(t, hex("42 18 00 0a 05 ff 01000000"));
        QCOMPARE(states(t, 9), "1" + QString(31, u'0'));
        QCOMPARE(states(t, 1), Unset);
        QCOMPARE(t.ArchivePos, 7);

        // Bit order across the bytes; state flags other than bit 7 are free.
        feed(t, hex("44 61 00 00 05 00800100 1f"));
        QCOMPARE(states(t, 1), QString(15, u'0') + "11" + QString(15, u'0'));
        QCOMPARE(t.ArchivePos, 0x1f);
    }

    void currentMeasurements()
    {
        LiveTables t;
        // Block 1 from channel index 14, three readings: channels 15, 16 and 17.
        feed(t, hex("48 18 01 0e 06 0100 ffff 2c01"));
        QCOMPARE(t.Measurements.cell(3, 15), "1");
        QCOMPARE(t.Measurements.cell(3, 16), "-1");
        QCOMPARE(t.Measurements.cell(4, 1), "300");
        for (auto [r, c] : {std::pair{3, 15}, {3, 16}, {4, 1}})
            QCOMPARE(t.Measurements.cellFontSize(r, c), 7);
        QCOMPARE(t.Measurements.cellFontSize(3, 14), 0);
        for (auto [r, c] : {std::pair{3, 14}, {4, 2}, {3, 17}})
            QVERIFY(t.Measurements.cell(r, c).isEmpty());

        // The time stamp of block 2 goes to "Время" of its first row.
        feed(t, hex("48 18 02 40 04") + stamp(QTime(13, 5, 9)));
        QCOMPARE(t.Measurements.cell(5, 17), LongTimeText(QTime(13, 5, 9)));
        QVERIFY(t.Measurements.cell(5, 1).isEmpty());
    }

    void unitsApplyToLaterReadings_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<QByteArray>("reading");
        QTest::addColumn<QString>("text");
        QTest::newRow("quanta, most negative") << 3 << hex("0080") << "-32768";
        QTest::newRow("quanta, most positive") << 3 << hex("ff7f") << "32767";
        QTest::newRow("volts, most negative") << 1 << hex("0080") << "-20" + dp() + "373";
        QTest::newRow("volts, small") << 1 << hex("e803") << "0" + dp() + "622";
        QTest::newRow("milliamperes") << 2 << hex("0080") << "-40" + dp() + "746";
        QTest::newRow("milliamperes, zero") << 2 << hex("0000") << "0" + dp() + "000";
    }
    void unitsApplyToLaterReadings()
    {
        QFETCH(int, unit);
        QFETCH(QByteArray, reading);
        QFETCH(QString, text);
        LiveTables t;
        feed(t, hex("48 18 00 00 02 0100"));
        QSignalSpy unitChanged(&t, &LiveTables::unitChanged);
        t.setUnit(unit);
        QCOMPARE(unitChanged.size(), unit == LiveTables::Quanta ? 0 : 1);
        QCOMPARE(t.Measurements.cell(1, 1), "1"); // already shown: kept as it was
        feed(t, hex("48 18 00 01 02") + reading);
        QCOMPARE(t.Measurements.cell(1, 2), text);
        t.setUnit(0);
        t.setUnit(4);
        QCOMPARE(t.unit(), unit);
    }

    void integralCounters()
    {
        LiveTables t;
        // Block 0, channel number 17: the first cell of "0-17"; the time goes to row "0-01".
        feed(t, hex("44 21 00 11 08 00286bee") + stamp(QTime(23, 59, 58)));
        QCOMPARE(t.Integrals.cell(2, 1), "4000000000"); // unsigned
        QCOMPARE(t.Integrals.cell(1, 17), LongTimeText(QTime(23, 59, 58)));
        QVERIFY(t.Integrals.cell(2, 17).isEmpty());
        QVERIFY(t.Measurements.cell(2, 1).isEmpty());

        // Channel numbers 1 and 32 of block 7; flag bits outside the mask 0xE3 are free.
        feed(t, hex("44 3d 07 01 08 05000000 00000000  44 21 07 20 08 06000000 00000000"));
        QCOMPARE(t.Integrals.cell(15, 1), "5");
        QCOMPARE(t.Integrals.cell(16, 16), "6");
        QCOMPARE(t.Integrals.cell(15, 17), LongTimeText(QTime(0, 0)));
    }

    void telesignalEvents()
    {
        LiveTables t;
        QSignalSpy added(&t, &LiveTables::eventAdded);
        // Block 2, input 5 set, double point with its second input clear; number 513,
        // archive position 9.
        feed(t, hex("44 80 02 a4 07") + stamp(QTime(8, 7, 6)) + hex("0102 09"));
        const QString line = "ТС  Блок = 2 Номер = 5 Время =" + LongTimeText(QTime(8, 7, 6)) +
                             "(513) Значение = 1 ДБ=0 ";
        QCOMPARE(t.Events.size(), 1);
        QCOMPARE(t.Events.at(0), line);
        QCOMPARE(added.size(), 1);
        QCOMPARE(added[0][0].toString(), line);
        QCOMPARE(states(t, 3), "....10" + QString(26, u'.'));
        QCOMPARE(t.ArchivePos, 9);

        // A single point, state clear, on input 1 of block 0; free flag bits set.
        feed(t, hex("44 9c 00 00 07") + stamp(QTime(0, 0, 1)) + hex("0000 00"));
        QCOMPARE(t.Events.last(), "ТС  Блок = 0 Номер = 1 Время =" + LongTimeText(QTime(0, 0, 1)) +
                                      "(0) Значение = 0 ");
        QCOMPARE(states(t, 1), "0" + QString(31, u'.'));
        QCOMPARE(t.ArchivePos, 0);

        // A double point on input 32: the second input has no cell, the text keeps it.
        feed(t, hex("44 80 07 ff 07") + stamp(QTime(1, 2, 3)) + hex("ffff 1f"));
        QVERIFY(t.Events.last().endsWith("(65535) Значение = 1 ДБ=1 "));
        QCOMPARE(states(t, 8), QString(31, u'.') + "1");
        QCOMPARE(states(t, 9), Unset);
        QCOMPARE(t.ArchivePos, 31);
        QCOMPARE(t.Events.size(), 3);
    }

    void recordsWithDlcZeroChangeNothing()
    {
        LiveTables t;
        t.ArchivePos = 5;
        const QStringList before = snapshot(t);
        feed(t, hex("48 18 01 40 00  48 18 01 0e 00  44 21 00 11 00  44 18 03 00 00"
                    "42 18 00 0a 00  44 9c 02 00 00"));
        QCOMPARE(snapshot(t), before);
        QVERIFY(t.Events.isEmpty());
        QCOMPARE(t.ArchivePos, 5);
    }

    // Records whose fields do not all lie in the datagram or in the record's own data.
    void shortRecords()
    {
        LiveTables t;
        t.ArchivePos = 3;
        // Cut by the datagram's end: 3 of the 4 state bytes; interlock bits without their
        // last byte; a time stamp of 3 bytes.
        feed(t, hex("44 18 00 00 05 ffffffff 07"), 12);
        feed(t, hex("42 18 00 0a 05 00 ffffffff"), 13);
        feed(t, hex("48 18 00 40 04 01020304"), 12);
        QCOMPARE(states(t, 1), Unset);
        QCOMPARE(states(t, 9), Unset);
        QVERIFY(t.Measurements.cell(1, 17).isEmpty());
        QCOMPARE(t.ArchivePos, 3);

        // The states are all there, the archive position is not: it is not read from the
        // record that follows.
        feed(t, hex("44 18 00 00 04 01000000  44 18 01 00 05 00000000 09"));
        QCOMPARE(states(t, 1), "1" + QString(31, u'0'));
        QCOMPARE(states(t, 2), QString(32, u'0'));
        QCOMPARE(t.ArchivePos, 9); // from the second, complete record

        // Only complete readings: DLC 5 carries two, DLC 1 none, a cut datagram one.
        feed(t, hex("48 18 00 00 05 0a00 0b00 0c  48 18 00 04 01 0d"));
        QCOMPARE(t.Measurements.cell(1, 1), "10");
        QCOMPARE(t.Measurements.cell(1, 2), "11");
        QVERIFY(t.Measurements.cell(1, 3).isEmpty());
        QVERIFY(t.Measurements.cell(1, 5).isEmpty());
        feed(t, hex("48 18 00 08 04 0e00 0f00"), 4 + 5 + 3);
        QCOMPARE(t.Measurements.cell(1, 9), "14");
        QVERIFY(t.Measurements.cell(1, 10).isEmpty());

        // A counter value without its time stamp: the value only; a cut value: nothing.
        feed(t, hex("44 21 00 01 06 2a000000 0102  44 21 00 02 03 2a0000"));
        QCOMPARE(t.Integrals.cell(1, 1), "42");
        QVERIFY(t.Integrals.cell(1, 2).isEmpty());
        QVERIFY(t.Integrals.cell(1, 17).isEmpty());

        // An event needs its time stamp and number; the archive position is taken when there.
        feed(t, hex("44 80 02 a4 05 00000000 01"));
        QVERIFY(t.Events.isEmpty());
        QCOMPARE(states(t, 3), Unset);
        feed(t, hex("44 80 02 a4 06 00000000 0100  44 18 07 00 00"));
        QCOMPARE(t.Events.size(), 1);
        QVERIFY(t.Events.at(0).endsWith("(1) Значение = 1 ДБ=0 "));
        QCOMPARE(states(t, 3), "....10" + QString(26, u'.'));
        QCOMPARE(t.ArchivePos, 9);
    }

    void cellsTheTablesLack()
    {
        LiveTables t;
        const QStringList before = snapshot(t);
        // Block 8: states would land on "Б0", interlocks past "Б7"; its measurements, time
        // stamps and counters have no rows. Channel index 32 and counter number 33 of block 7
        // run past the last row; counter number 0 (sub-function 0x40) would address the header
        // column.
        feed(t, hex("44 18 08 00 05 ffffffff 0b  42 18 08 0a 05 00 ffffffff"
                    "48 18 08 00 02 0100  48 18 08 40 04 01000000"
                    "44 21 08 01 08 01000000 01000000  48 18 07 20 02 0100"
                    "44 21 07 21 08 01000000 01000000  44 21 00 40 08 01000000 01000000"));
        QCOMPARE(snapshot(t), before);
        QCOMPARE(t.ArchivePos, 11); // the position is the controlled point's, whatever the block

        // An event of block 8 is listed, but has no cells.
        feed(t, hex("44 80 08 a4 07 00000000 0000 05"));
        QCOMPARE(t.Events.size(), 1);
        QVERIFY(t.Events.at(0).startsWith("ТС  Блок = 8 Номер = 5 "));
        QCOMPARE(snapshot(t), before);
        QCOMPARE(t.ArchivePos, 5);
    }

    void clearCommands()
    {
        LiveTables t;
        feed(t, hex("44 18 00 00 05 ffffffff 00  44 18 07 00 05 ffffffff 00"
                    "42 18 07 0a 05 00 ffffffff  44 80 02 a4 07 00000000 0000 00"));
        QSignalSpy cleared(&t, &LiveTables::eventsCleared);
        t.ClearStates();
        for (int r = 1; r <= 8; ++r)
            QCOMPARE(states(t, r), Unset);
        QCOMPARE(states(t, 16), QString(32, u'1'));
        QCOMPARE(t.Telesignals.cell(1, 0), "0");
        QCOMPARE(t.Telesignals.cell(0, 1), "1");
        QCOMPARE(t.Events.size(), 1);
        QVERIFY(cleared.isEmpty());

        t.ClearEvents();
        QVERIFY(t.Events.isEmpty());
        QCOMPARE(cleared.size(), 1);
    }

    void archiveRequest()
    {
        LiveTables t;
        QCOMPARE(t.ArchiveRequest(), hex("00 06 00 19 44 18 00 01 01 00"));
        t.ArchivePos = 31;
        QCOMPARE(t.ArchiveRequest(), hex("00 06 00 19 44 18 00 00 01 00"));
        // The next request asks for the position after the event that came back.
        feed(t, hex("44 80 00 00 07 00000000 0000 1e"));
        QCOMPARE(t.ArchiveRequest(), hex("00 06 00 19 44 18 00 1f 01 00"));
        t.ArchivePos = 0xff; // a position outside the archive still wraps into it
        QCOMPARE(t.ArchiveRequest(), hex("00 06 00 19 44 18 00 00 01 00"));
    }

    void counterPreset()
    {
        QCOMPARE(LiveTables::CounterPreset(3, 18, 1000),
                 hex("00 0b 00 19 c4 18 03 0c 06 12 00 e8030000"));
        QCOMPARE(LiveTables::CounterPreset(0x103, 0x1ff, -2),
                 hex("00 0b 00 19 c4 18 03 0c 06 ff 00 feffffff"));
        QCOMPARE(LiveTables::CounterPreset(7, 31, INT32_MAX),
                 hex("00 0b 00 19 c4 18 07 0c 06 1f 00 ffffff7f"));
    }

    void presetFieldsFromADoubleClick_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("adr");
        QTest::addColumn<int>("num");
        QTest::newRow("row 4, column 3") << 4 << 3 << 1 << 18;
        QTest::newRow("first cell") << 1 << 1 << 0 << 0;
        QTest::newRow("second row of a block") << 2 << 16 << 0 << 31;
        QTest::newRow("Время") << 1 << 17 << 0 << 0;
        QTest::newRow("Время, second row") << 16 << 17 << 7 << 16;
        QTest::newRow("header row") << 0 << 5 << 0 << -12;
        QTest::newRow("header column") << 3 << 0 << 1 << -1;
    }
    void presetFieldsFromADoubleClick()
    {
        QFETCH(int, row);
        QFETCH(int, col);
        QFETCH(int, adr);
        QFETCH(int, num);
        const LiveTables::PresetFields f = LiveTables::PresetFieldsAt(row, col);
        QCOMPARE(f.adr, adr);
        QCOMPARE(f.num, num);
    }

    // Through the receive dispatcher: the notes are its own, the tables change.
    void fromTheDispatcher()
    {
        LinkFixture f;
        f.open();
        LiveTables t;
        f.dispatcher.RegisterRecordHandler([&t](const CanRecord& rec) { t.HandleRecord(rec); });
        f.link.Receive(datagram(hex("44 18 03 00 05 01000080 07  44 80 02 a4 07 00000000 0000 08")),
                       QHostAddress(QStringLiteral("127.0.0.1")));
        QCOMPARE(f.cell(1, TraceLog::ColNote), "ЦТС+ТС");
        QCOMPARE(t.Telesignals.cell(4, 1), "1");
        QCOMPARE(t.Telesignals.cell(3, 5), "1");
        QCOMPARE(t.Events.size(), 1);
        QCOMPARE(t.ArchivePos, 8);
    }
};

QTEST_GUILESS_MAIN(TestLiveTables)
#include "tst_livetables.moc"
