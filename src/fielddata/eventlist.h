// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The telesignal event list: its newest lines, oldest first, as an item model for the list box
// Events. It keeps at most Limit lines, so that a controlled point watched for days does not
// make the program grow: the oldest give way, and a line at the top says how many did.

#include <QAbstractListModel>
#include <QString>
#include <deque>

class EventList : public QAbstractListModel
{
    Q_OBJECT
public:
    static constexpr int Limit = 100000;

    using QAbstractListModel::QAbstractListModel;

    // The event lines kept, oldest first.
    qsizetype size() const { return qsizetype(lines_.size()); }
    bool isEmpty() const { return lines_.empty(); }
    const QString& at(qsizetype i) const { return lines_[size_t(i)]; }
    const QString& last() const { return lines_.back(); }
    // Lines that gave way to newer ones since the list was last cleared.
    qint64 dropped() const { return dropped_; }
    // The line shown above the events once some gave way.
    static QString DroppedNote(qint64 dropped);

    void Append(const QString& line);
    void Clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    int noteRows() const { return dropped_ > 0 ? 1 : 0; }

    std::deque<QString> lines_;
    qint64 dropped_ = 0;
};
