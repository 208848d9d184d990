// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/changebatch.h"

#include <algorithm>

ChangeBatch::ChangeBatch(std::function<void(int, int, int, int)> flush) : flush_(std::move(flush))
{
    timer_.setSingleShot(true);
    timer_.setInterval(IntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { this->flush(); });
}

void ChangeBatch::add(int top, int left, int bottom, int right)
{
    if (!pending_) {
        top_ = top, left_ = left, bottom_ = bottom, right_ = right;
        pending_ = true;
        timer_.start();
        return;
    }
    top_ = std::min(top_, top);
    left_ = std::min(left_, left);
    bottom_ = std::max(bottom_, bottom);
    right_ = std::max(right_, right);
}

void ChangeBatch::flush()
{
    timer_.stop();
    if (!pending_)
        return;
    pending_ = false;
    flush_(top_, left_, bottom_, right_);
}
