// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs a function when the scope it was made in ends, whichever way it ends: an operation's
// controls and wait panel are restored after every early return.

#include <utility>

template <typename F> struct AtExit {
    F done;
    AtExit(F f) : done(std::move(f)) {}
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;
    ~AtExit() { done(); }
};
