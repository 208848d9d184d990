// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The check list bloks: one line per block found, "Блок " + label + " " + address + version,
// with its tick (the block is to be programmed) and the line selected in it.

#include <QAbstractListModel>
#include <QStringList>

class BlockList : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int count() const { return int(lines_.size()); }
    QString line(int i) const { return inside(i) ? lines_[i] : QString(); }
    bool ticked(int i) const { return inside(i) && ticks_[i]; }

    void Clear();
    int Add(const QString& line); // its index
    void SetLine(int i, const QString& line);
    void SetTicked(int i, bool ticked);

    // The line selected (the engineer's click, or the block being programmed); -1 for none.
    int selected() const { return selected_; }
    void SetSelected(int i);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void selectedChanged(int line);

private:
    bool inside(int i) const { return i >= 0 && i < lines_.size(); }
    QStringList lines_;
    QList<bool> ticks_;
    int selected_ = -1;
};
