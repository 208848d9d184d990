// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The check list bloks: one line per block found, "Блок " + label + " " + address + version,
// with its tick (the block is to be programmed). The engineer ticks lines; discovery and the
// programming runs tick and untick them through the block service. The line a programming run
// is working on (or stopped at) is marked, without becoming the line whose parameters the grid
// shows.

#include <QAbstractListModel>
#include <QStringList>

class BlockService;

class BlockList : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // True for the line a programming run is working on (the view marks it).
    static constexpr int ActiveRole = Qt::UserRole + 1;

    int count() const { return int(lines_.size()); }
    QString line(int i) const { return inside(i) ? lines_[i] : QString(); }
    bool ticked(int i) const { return inside(i) && ticks_[i]; }
    // The line a programming run is working on, or stopped at; -1 for none.
    int active() const { return active_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // The engineer's tick.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    friend BlockService;
    void Clear();
    int Add(const QString& line); // its index
    void SetLine(int i, const QString& line);
    void SetTicked(int i, bool ticked);
    // `note` is told to screen readers with the line ("программируется").
    void SetActive(int i, const QString& note);
    bool inside(int i) const { return i >= 0 && i < lines_.size(); }

    QStringList lines_;
    QList<bool> ticks_;
    int active_ = -1;
    QString activeNote_;
};
