// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange trace: row layout, row limit, colours, time stamp and hex text, notes.

#include "exchange/tracelog.h"

#include <QRegularExpression>
#include <QtTest>

class TestTrace : public QObject
{
    Q_OBJECT

    static QString cell(const TraceLog& t, int row, int col)
    {
        return t.data(t.index(row, col), Qt::DisplayRole).toString();
    }
    static QVariant colour(const TraceLog& t, int row, int col)
    {
        return t.data(t.index(row, col), TraceLog::ColourRole);
    }

private slots:
    void startsWithHeaderAndTwoEmptyRows()
    {
        TraceLog t;
        QCOMPARE(t.GridRowCount(), 3);
        QCOMPARE(t.columnCount(), 3);
        QCOMPARE(t.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Кто[время]");
        QCOMPARE(t.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Тип пакета");
        QCOMPARE(t.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Пакет");
    }

    void newestSitsAboveTheEmptyLastRow()
    {
        TraceLog t;
        t.TraceFrame(TraceLog::Program, QByteArray::fromHex("8000"));
        QCOMPARE(t.GridRowCount(), 4);
        QCOMPARE(cell(t, 0, 2), QString()); // the first data row stays empty
        QCOMPARE(cell(t, 1, 2), " 80 00");
        QCOMPARE(cell(t, 2, 0), QString()); // the last row is empty
        QCOMPARE(cell(t, 2, 2), QString());

        t.TraceFrame(TraceLog::Adapter, QByteArray::fromHex("0a1bff"));
        QCOMPARE(t.GridRowCount(), 5);
        QCOMPARE(cell(t, 2, 2), " 0A 1B FF");
        QVERIFY(cell(t, 2, 0).startsWith("Тавена["));
        QCOMPARE(cell(t, 3, 2), QString());
    }

    void labelColoursAndTimeStamp()
    {
        TraceLog t;
        t.TraceFrame(TraceLog::Program, QByteArray(1, '\0'));
        QCOMPARE(colour(t, t.NewestRow(), 0).toUInt(), 0xFF0000u);
        QVERIFY(!colour(t, t.NewestRow(), 1).isValid());
        static const QRegularExpression stamp(QStringLiteral("^КОМП\\[(\\d{1,2})\"(\\d{1,3})\\]$"));
        const auto m = stamp.match(cell(t, t.NewestRow(), 0));
        QVERIFY2(m.hasMatch(), qPrintable(cell(t, t.NewestRow(), 0)));
        QVERIFY(m.captured(1).toInt() < 60);
        QVERIFY(m.captured(1) == "0" || !m.captured(1).startsWith('0'));

        t.TraceFrame(TraceLog::Broadcast, QByteArray(1, '\0'));
        QCOMPARE(colour(t, t.NewestRow(), 0).toUInt(), 0x008000u);
        t.TraceFrame(QStringLiteral("КОМП "), QByteArray(1, '\0')); // only the exact label is red
        QCOMPARE(colour(t, t.NewestRow(), 0).toUInt(), 0x008000u);

        QCOMPARE(TraceLog::TimeStamp(QTime(10, 20, 5, 7)), "[5\"7]");
        QCOMPARE(TraceLog::TimeStamp(QTime(10, 20, 59, 999)), "[59\"999]");
        QCOMPARE(TraceLog::TimeStamp(QTime(10, 20, 0, 0)), "[0\"0]");
    }

    void emptyPacketShowsLabelAndNote()
    {
        TraceLog t;
        t.TraceFrame(TraceLog::Program, QByteArray());
        t.TraceNote(QStringLiteral("Разрыв соединения!"));
        QVERIFY(cell(t, t.NewestRow(), 0).startsWith("КОМП["));
        QCOMPARE(cell(t, t.NewestRow(), 1), "Разрыв соединения!");
        QCOMPARE(cell(t, t.NewestRow(), 2), QString());
    }

    void rowLimitKeepsThreeHundredRows()
    {
        TraceLog t;
        for (int i = 1; i <= 297; ++i)
            t.TraceFrame(TraceLog::Adapter, QByteArray(1, char(i)));
        QCOMPARE(t.GridRowCount(), 300);
        QCOMPARE(cell(t, 0, 2), QString()); // the initially empty data row is still there

        t.TraceFrame(TraceLog::Adapter, QByteArray(1, char(298))); // the 298th removes it
        QCOMPARE(t.GridRowCount(), 300);
        QCOMPARE(cell(t, 0, 2), " 01");

        t.TraceFrame(TraceLog::Adapter, QByteArray(1, char(299))); // from then on the oldest goes
        QCOMPARE(t.GridRowCount(), 300);
        QCOMPARE(cell(t, 0, 2), " 02");
        QCOMPARE(cell(t, t.NewestRow(), 2), " 2B"); // 299 & 0xFF
        QCOMPARE(cell(t, t.NewestRow() + 1, 2), QString());
        QCOMPARE(t.rowCount(), 299);
    }

    void notesReplacedAppendedAndReadBack()
    {
        TraceLog t;
        t.TraceFrame(TraceLog::Adapter, QByteArray::fromHex("00"));
        t.TraceNote(QStringLiteral("ЦТИИ"));
        t.TraceNote(t.NewestNote() + "+" + QStringLiteral("ЦТС"));
        QCOMPARE(t.NewestNote(), "ЦТИИ+ЦТС");
        t.TraceAppend(QStringLiteral("+ТС"));
        QCOMPARE(t.NewestNote(), "ЦТИИ+ЦТС+ТС");
        t.TraceNote(QStringLiteral("Конф"));
        QCOMPARE(cell(t, t.NewestRow(), 1), "Конф");

        // A reply traced while handling a datagram gets its own row; later notes land there.
        t.TraceFrame(TraceLog::Program, QByteArray::fromHex("820101"));
        t.TraceNote(QStringLiteral("КВТ"));
        t.TraceNoteQuiet();
        QCOMPARE(colour(t, t.NewestRow(), 1).toUInt(), 0x808080u);
        QCOMPARE(cell(t, t.NewestRow() - 1, 1), "Конф");
    }

    void switchedOffAddsNothingAndLosesNotes()
    {
        TraceLog t;
        t.TraceFrame(TraceLog::Adapter, QByteArray::fromHex("01"));
        t.TraceNote(QStringLiteral("до"));
        t.TrassEnable = false;
        t.TraceFrame(TraceLog::Adapter, QByteArray::fromHex("02"));
        t.TraceNote(QStringLiteral("потеряна"));
        t.TraceAppend(QStringLiteral("+ТС"));
        t.TraceNoteQuiet();
        QCOMPARE(t.GridRowCount(), 4);
        QCOMPARE(cell(t, t.NewestRow(), 2), " 01");
        QCOMPARE(t.NewestNote(), "до"); // read back even while off
        QVERIFY(!colour(t, t.NewestRow(), 1).isValid());
        t.TrassEnable = true;
        t.TraceFrame(TraceLog::Adapter, QByteArray::fromHex("03"));
        QCOMPARE(t.GridRowCount(), 5);
    }

    void hexTextOfAllByteValues()
    {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        const QString hex = packet::HexText(all);
        QCOMPARE(hex.size(), 256 * 3);
        QCOMPARE(hex.left(12), " 00 01 02 03");
        QCOMPARE(hex.mid(0xAB * 3, 3), " AB");
        QCOMPARE(hex.right(3), " FF");
    }
};

QTEST_GUILESS_MAIN(TestTrace)
#include "tst_trace.moc"
