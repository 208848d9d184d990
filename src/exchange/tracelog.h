// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The exchange trace: one row per datagram sent to or received from the adapter, with its
// direction and time, a short decoding note and the bytes in hexadecimal.
//
// The grid has a header row; below it the newest datagram always sits just above the last row,
// which is kept empty. The model holds the grid's rows below the header, so the grid's row count
// is rowCount() + 1. After an append the oldest row is dropped once the grid exceeds 300 rows,
// so appending costs the same whatever the grid holds.

#include "exchange/packet.h"
#include "support/changebatch.h"

#include <QAbstractTableModel>
#include <QString>
#include <QtGlobal>
#include <deque>

// Sees every row and note as the trace is written, whether or not the trace is switched on, so
// that what it keeps (a capture file) carries the notes the grid would show.
class TraceObserver
{
public:
    virtual void RowAdded(const QString& direction, const TPacket& packet) = 0;
    virtual void NoteWritten(const QString& text) = 0;
    virtual void NoteAppended(const QString& text) = 0;

protected:
    ~TraceObserver() = default;
};

class TraceLog : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int MaxGridRows = 300; // header and empty last row included
    enum Column { ColWho = 0, ColNote = 1, ColPacket = 2 };
    // The cell's font colour as 0xRRGGBB (quint32); no value means the default colour.
    static constexpr int ColourRole = Qt::UserRole + 1;

    // Font colours of the cells, as RGB.
    static constexpr quint32 ColourProgram = 0xFF0000; // "КОМП": red
    static constexpr quint32 ColourOther = 0x008000;   // any other label: green
    static constexpr quint32 ColourQuiet = 0x808080;   // notes of receipts and keep-alive: grey

    static inline const QString Program = QStringLiteral("КОМП");
    static inline const QString Adapter = QStringLiteral("Тавена");
    static inline const QString Broadcast = QStringLiteral("<- ");

    explicit TraceLog(QObject* parent = nullptr);

    // "Трассировка обмена": while false nothing is added and notes are lost.
    bool TrassEnable = true;
    // "Прослушка": receipts are not traced and time-stamp differences are noted.
    bool Listen = false;

    // Adds a datagram row: label with the time within the minute, and the bytes in hex.
    void TraceFrame(const QString& direction, const TPacket& packet);
    // Writes the note of the newest row, replacing what was there.
    void TraceNote(const QString& text);
    // Adds text at the end of the newest row's note.
    void TraceAppend(const QString& text);
    // Greys the note cell of the newest row (receipts and keep-alive).
    void TraceNoteQuiet();
    // The note of the newest row, also when the trace is off.
    QString NewestNote() const;

    // Told of every row and note before the switch is looked at; null when nobody listens.
    TraceObserver* observer = nullptr;

    int GridRowCount() const { return int(rows_.size()) + 1; }
    int NewestRow() const { return int(rows_.size()) - 2; } // model row of the newest datagram

    // "[s\"ms]": seconds and milliseconds of the given time.
    static QString TimeStamp(const QTime& time);
    static QString TimeStamp(int second, int msec);
    static QString TimeStampNow();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void WriteNote(const QString& text, bool append);

    struct Row {
        QString who, note, hex;
        quint32 whoColour = 0;
        quint32 noteColour = 0;
        bool whoColoured = false;
        bool noteColoured = false;
    };
    std::deque<Row> rows_;
    ChangeBatch batch_{[this](int top, int left, int bottom, int right) {
        emit dataChanged(index(top, left), index(bottom, right));
    }};
};
