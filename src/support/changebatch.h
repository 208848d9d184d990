// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Collects the cells of a table that changed and reports them together a little later, so that
// a flood of datagrams repaints the views a few dozen times a second instead of once per
// datagram. The data itself changes at once; only the notice to the views is gathered.

#include <QObject>
#include <QTimer>
#include <functional>

class ChangeBatch
{
public:
    static constexpr int IntervalMs = 40;

    // flush receives the bounding rows and columns of what changed since the last flush.
    explicit ChangeBatch(std::function<void(int top, int left, int bottom, int right)> flush);

    void add(int row, int col) { add(row, col, row, col); }
    void add(int top, int left, int bottom, int right);
    // Reports what is pending now.
    void flush();

private:
    std::function<void(int, int, int, int)> flush_;
    QTimer timer_;
    bool pending_ = false;
    int top_ = 0, left_ = 0, bottom_ = 0, right_ = 0;
};
