// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/actionlog.h"

ActionLog::ActionLog(QObject* parent) : QAbstractTableModel(parent), rows_(InitialRows)
{
}

void ActionLog::Append(const QString& time, const QString& text, Colour colour)
{
    const int last = int(rows_.size());
    beginInsertRows({}, last, last);
    rows_.append(Row{});
    endInsertRows();
    rows_[last - 1] = Row{time, text, colour};
    emit dataChanged(index(last - 1, 0), index(last - 1, Columns - 1));
}

void ActionLog::ReplaceLast(const QString& text, Colour colour)
{
    const int row = int(rows_.size()) - 2;
    if (row < 0)
        return;
    rows_[row].text = text;
    rows_[row].colour = colour;
    emit dataChanged(index(row, 0), index(row, Columns - 1));
}

void ActionLog::Clear()
{
    beginResetModel();
    rows_ = QList<Row>(1);
    endResetModel();
}

QString ActionLog::cell(int row, int col) const
{
    if (row < 0 || row >= rows_.size())
        return {};
    return col == 0 ? rows_[row].time : col == 1 ? rows_[row].text : QString();
}

unsigned ActionLog::colour(int row) const
{
    return row >= 0 && row < rows_.size() ? rows_[row].colour : 0;
}

int ActionLog::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int ActionLog::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant ActionLog::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    if (role == Qt::DisplayRole)
        return cell(index.row(), index.column());
    if (role == ColourRole && rows_[index.row()].colour != 0)
        return rows_[index.row()].colour;
    return {};
}
