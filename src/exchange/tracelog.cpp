#include "exchange/tracelog.h"

#include <QTime>

TraceLog::TraceLog(QObject* parent) : QAbstractTableModel(parent)
{
    rows_.resize(2); // the grid starts with its header and two empty rows
}

QString TraceLog::TimeStamp(const QTime& time)
{
    return QStringLiteral("[%1\"%2]").arg(time.second()).arg(time.msec());
}

void TraceLog::TraceFrame(const QString& direction, const TPacket& packet)
{
    if (!TrassEnable)
        return;
    const QString hex = packet::HexText(packet);
    const int last = int(rows_.size());
    beginInsertRows({}, last, last);
    rows_.emplace_back();
    endInsertRows();

    Row& newest = rows_[rows_.size() - 2];
    newest.whoColour = direction == Program ? ColourProgram : ColourOther;
    newest.whoColoured = true;
    newest.hex = hex;
    newest.who = direction + TimeStamp(QTime::currentTime());
    const int row = NewestRow();
    emit dataChanged(index(row, ColWho), index(row, ColPacket));

    if (GridRowCount() > MaxGridRows) {
        beginRemoveRows({}, 0, 0);
        rows_.pop_front();
        endRemoveRows();
    }
}

void TraceLog::TraceNote(const QString& text)
{
    if (!TrassEnable)
        return;
    const int row = NewestRow();
    rows_[size_t(row)].note = text;
    emit dataChanged(index(row, ColNote), index(row, ColNote));
}

void TraceLog::TraceNoteQuiet()
{
    if (!TrassEnable)
        return;
    const int row = NewestRow();
    rows_[size_t(row)].noteColour = ColourQuiet;
    rows_[size_t(row)].noteColoured = true;
    emit dataChanged(index(row, ColNote), index(row, ColNote));
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
