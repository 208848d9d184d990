// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/blocklist.h"

#include <utility>

void BlockList::Clear()
{
    beginResetModel();
    lines_.clear();
    ticks_.clear();
    active_ = -1;
    endResetModel();
}

int BlockList::Add(const QString& text)
{
    const int i = count();
    beginInsertRows({}, i, i);
    lines_ << text;
    ticks_ << false;
    endInsertRows();
    return i;
}

void BlockList::SetLine(int i, const QString& text)
{
    if (!inside(i))
        return;
    lines_[i] = text;
    emit dataChanged(index(i), index(i), {Qt::DisplayRole});
}

void BlockList::SetTicked(int i, bool ticked)
{
    if (!inside(i) || ticks_[i] == ticked)
        return;
    ticks_[i] = ticked;
    emit dataChanged(index(i), index(i), {Qt::CheckStateRole});
}

void BlockList::SetActive(int i, const QString& note)
{
    const int line = inside(i) ? i : -1;
    if (line == active_ && note == activeNote_)
        return;
    activeNote_ = note;
    const int before = std::exchange(active_, line);
    for (const int changed : {before, line})
        if (inside(changed))
            emit dataChanged(index(changed), index(changed));
}

int BlockList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant BlockList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !inside(index.row()))
        return {};
    const bool working = index.row() == active_;
    switch (role) {
    case Qt::DisplayRole:
        return lines_[index.row()];
    case Qt::AccessibleTextRole:
        return working ? lines_[index.row()] + QStringLiteral(" — ") + activeNote_
                       : lines_[index.row()];
    case Qt::CheckStateRole:
        return ticks_[index.row()] ? Qt::Checked : Qt::Unchecked;
    case ActiveRole:
        return working;
    default:
        return {};
    }
}

bool BlockList::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole)
        return false;
    SetTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags BlockList::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}
