// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/tracelog.h"

#include <QDateTime>
#include <QTime>

TraceLog::TraceLog(QObject* parent) : QAbstractTableModel(parent)
{
    rows_.resize(2); // the grid starts with its header and two empty rows
}

QString TraceLog::TimeStamp(const QTime& time)
{
    return TimeStamp(time.second(), time.msec());
}

QString TraceLog::TimeStamp(int second, int msec)
{
    QString s;
    s.reserve(8);
    s += u'[';
    s += QString::number(second);
    s += u'"';
    s += QString::number(msec);
    s += u']';
    return s;
}

QString TraceLog::TimeStampNow()
{
    // Seconds and milliseconds within the minute are the same in local time and in UTC
    // (time zones differ by whole minutes), so the clock is read without a time-zone lookup,
    // which would cost a file-system check on every row.
    const qint64 inMinute = QDateTime::currentMSecsSinceEpoch() % 60000;
    return TimeStamp(int(inMinute / 1000), int(inMinute % 1000));
}

void TraceLog::TraceFrame(const QString& direction, const TPacket& packet)
{
    if (observer)
        observer->RowAdded(direction, packet);
    if (!TrassEnable)
        return;
    // At the limit the oldest row goes as the new one comes: the rows shift by one and the
    // grid's shape stays, so the view only repaints.
    const bool atLimit = GridRowCount() >= MaxGridRows;
    if (atLimit) {
        rows_.pop_front();
        rows_.emplace_back();
    } else {
        const int last = int(rows_.size());
        beginInsertRows({}, last, last);
        rows_.emplace_back();
        endInsertRows();
    }

    Row& newest = rows_[rows_.size() - 2];
    newest.whoColour = direction == Program ? ColourProgram : ColourOther;
    newest.whoColoured = true;
    newest.hex = packet::HexText(packet);
    newest.who = direction + TimeStampNow();
    const int row = NewestRow();
    batch_.add(atLimit ? 0 : row, ColWho, row + 1, ColPacket);
}

void TraceLog::TraceNote(const QString& text)
{
    if (observer)
        observer->NoteWritten(text);
    WriteNote(text, false);
}

void TraceLog::TraceAppend(const QString& text)
{
    if (observer)
        observer->NoteAppended(text);
    WriteNote(text, true);
}

void TraceLog::WriteNote(const QString& text, bool append)
{
    if (!TrassEnable)
        return;
    const int row = NewestRow();
    QString& note = rows_[size_t(row)].note;
    if (append)
        note += text;
    else
        note = text;
    batch_.add(row, ColNote);
}

void TraceLog::TraceNoteQuiet()
{
    if (!TrassEnable)
        return;
    const int row = NewestRow();
    rows_[size_t(row)].noteColour = ColourQuiet;
    rows_[size_t(row)].noteColoured = true;
    batch_.add(row, ColNote);
}

QString TraceLog::NewestNote() const
{
    return rows_[size_t(NewestRow())].note;
}

int TraceLog::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int TraceLog::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant TraceLog::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size()))
        return {};
    const Row& row = rows_[size_t(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case ColWho:
            return row.who;
        case ColNote:
            return row.note;
        case ColPacket:
            return row.hex;
        }
    } else if (role == ColourRole) {
        if (index.column() == ColWho && row.whoColoured)
            return row.whoColour;
        if (index.column() == ColNote && row.noteColoured)
            return row.noteColour;
    }
    return {};
}

QVariant TraceLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColWho:
        return QStringLiteral("Кто[время]");
    case ColNote:
        return QStringLiteral("Тип пакета");
    case ColPacket:
        return QStringLiteral("Пакет");
    }
    return {};
}
