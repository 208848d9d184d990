// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live tables of the "Данные по ФБ" tab: telesignal and interlock states, current and
// integral measurements, filled only by the records that the blocks send on their own; the
// telesignal event list, the last reported archive position, and the two requests built from
// them (archive request and counter preset).
//
// The tables are addressed as grids: grid row 0 and grid column 0 are the fixed header row and
// column, data cells are grid rows 1.. and columns 1... A telesignal cell holds exactly "1", "0"
// or nothing.

#include "exchange/packet.h"

#include "fielddata/eventlist.h"
#include "support/changebatch.h"

#include <QAbstractTableModel>
#include <QObject>
#include <QStringList>
#include <QVector>

// A fixed-size grid with a header row and a header column. Model index (r, c) is grid cell
// (r + 1, c + 1); the grid's header row and column are served through headerData().
class GridTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The cell's font size in points (int); no value means the view's default font.
    static constexpr int FontSizeRole = Qt::UserRole + 1;

    // columnHeaders: grid row 0 from column 0 (the corner) on; rowHeaders: grid column 0 from
    // row 0 (the corner again, ignored) on. Their sizes give the grid's shape.
    GridTableModel(const QStringList& columnHeaders, const QStringList& rowHeaders,
                   QObject* parent = nullptr);

    int gridRowCount() const { return rows_; }
    int gridColumnCount() const { return columns_; }

    // The text of a grid cell, headers included; empty outside the grid.
    QString cell(int gridRow, int gridCol) const;
    // Writes a grid cell; cells outside the grid are ignored.
    void setCell(int gridRow, int gridCol, const QString& text);
    // Font size in points of a grid cell (0: the default font).
    int cellFontSize(int gridRow, int gridCol) const;
    void setCellFontSize(int gridRow, int gridCol, int points);
    // Empties the data cells of grid rows firstRow..lastRow, columns firstCol..lastCol.
    void clearCells(int firstRow, int lastRow, int firstCol, int lastCol);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    bool inside(int gridRow, int gridCol) const;
    int at(int gridRow, int gridCol) const { return gridRow * columns_ + gridCol; }
    void changed(int gridRow, int gridCol);

    int columns_, rows_;
    QVector<QString> text_;
    QVector<quint8> fontSize_;
    ChangeBatch batch_{[this](int top, int left, int bottom, int right) {
        emit dataChanged(index(top, left), index(bottom, right));
    }};
};

class LiveTables : public QObject
{
    Q_OBJECT
public:
    // The units of the current measurements, as the items of the popup menu number them.
    enum Unit { Volts = 1, Milliamps = 2, Quanta = 3 };
    static constexpr int Blocks = 8;
    static constexpr int MeasurementFontSize = 7;

    explicit LiveTables(QObject* parent = nullptr);

    GridTableModel Telesignals;  // 33 x 18: states of blocks 0-7, then interlocks "Б0"-"Б7"
    GridTableModel Measurements; // 18 x 18: channels 1-32 of blocks 0-7 over two rows, "Время"
    GridTableModel Integrals;    // same shape: counters

    quint8 ArchivePos = 0; // the last archive position a block reported
    EventList Events;      // the telesignal event list: its newest lines, oldest first

    // "Напряжение (V)" (1), "Ток (мА)" (2), "Кванты" (3). Other values are ignored. A change
    // applies to readings that arrive afterwards.
    void setUnit(int unit);
    int unit() const { return unit_; }
    double unitFactor() const;

    // Every record of an accepted data datagram: the measurement, counter, state, interlock
    // and telesignal event records change the tables; any other record changes nothing. The
    // trace notes are the dispatcher's.
    void HandleRecord(const CanRecord& rec);

    // "Очистить" of the telesignal table: empties the states of blocks 0-7; interlocks stay.
    void ClearStates();
    // "Очистить" of the event list.
    void ClearEvents();

    // The request for the archived event after ArchivePos (the archive wraps after 31).
    TPacket ArchiveRequest() const;
    // Presets counter num of block adr to val (only the low bytes of adr and num are sent).
    static TPacket CounterPreset(qint32 adr, qint32 num, qint32 val);

    // The counter preset fields for a double click on grid cell (row, col) of the integral
    // table, with division and remainder truncating toward zero (header cells give odd values).
    struct PresetFields {
        int adr = 0;
        int num = 0;
    };
    static PresetFields PresetFieldsAt(int row, int col);

signals:
    void eventAdded(const QString& line);
    void eventsCleared();
    void unitChanged(int unit);

    // What each record reported, for a watcher of the live data (the command-line tool).
    // The readings are emitted only while something is connected to them.
    void statesReceived(int block, bool interlock, quint32 bits); // bit i: input i + 1
    void readingsReceived(int block, int firstChannel, const QList<int>& quanta);
    void stampReceived(int block, quint32 seconds); // of a measurement group
    void counterReceived(int block, int channel, quint32 value, qint64 seconds); // -1: none
    void eventReceived(int block, int input, bool state, int second, quint32 seconds,
                       int number); // second: the double point's second input, -1 none

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    void TitStamp(const CanRecord& rec);
    void TitValues(const CanRecord& rec);
    void TiiCounter(const CanRecord& rec);
    void TsState(const CanRecord& rec);
    void InterlockState(const CanRecord& rec);
    void TsEvent(const CanRecord& rec);
    void WriteBits(int row, std::span<const uint8_t> bytes);

    int unit_ = Quanta;
    int readingWatchers_ = 0;
};
