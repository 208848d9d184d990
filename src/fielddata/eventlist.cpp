// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/eventlist.h"

QString EventList::DroppedNote(qint64 dropped)
{
    return QStringLiteral("… ранее %1 событий, здесь их уже нет (хранятся последние %2)")
        .arg(dropped)
        .arg(Limit);
}

void EventList::Append(const QString& line)
{
    if (lines_.size() >= size_t(Limit)) {
        const int first = noteRows();
        beginRemoveRows({}, first, first);
        lines_.pop_front();
        endRemoveRows();
        if (dropped_++ == 0) {
            beginInsertRows({}, 0, 0);
            endInsertRows();
        } else {
            emit dataChanged(index(0), index(0));
        }
    }
    const int row = noteRows() + int(lines_.size());
    beginInsertRows({}, row, row);
    lines_.push_back(line);
    endInsertRows();
}

void EventList::Clear()
{
    beginResetModel();
    lines_.clear();
    dropped_ = 0;
    endResetModel();
}

int EventList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : noteRows() + int(lines_.size());
}

QVariant EventList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    const int row = index.row() - noteRows();
    if (row < 0)
        return DroppedNote(dropped_);
    return row < int(lines_.size()) ? QVariant(lines_[size_t(row)]) : QVariant();
}
