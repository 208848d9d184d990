// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/blocklist.h"

void BlockList::Clear()
{
    beginResetModel();
    lines_.clear();
    ticks_.clear();
    endResetModel();
    SetSelected(-1);
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

void BlockList::SetSelected(int i)
{
    const int line = inside(i) ? i : -1;
    if (line == selected_)
        return;
    selected_ = line;
    emit selectedChanged(line);
}

int BlockList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant BlockList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !inside(index.row()))
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return lines_[index.row()];
    if (role == Qt::CheckStateRole)
        return ticks_[index.row()] ? Qt::Checked : Qt::Unchecked;
    return {};
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
