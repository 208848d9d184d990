// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one wait of the program. Everything runs on the user-interface thread; an operation that
// waits for a receipt, a reply or a timer keeps handling datagrams, timer ticks and clicks while
// it waits, and uses no CPU between events.

#include <functional>

namespace eventwait
{

// Set once when the main window closes: every wait ends, and operations stop without sending.
bool Closing();
void SetClosing(bool closing);

// Blocks in the event loop until an event arrives, handles it, and re-checks keepWaiting().
// Returns when keepWaiting() is false or the program is closing. The caller bounds the wait with
// a running timer that is part of keepWaiting(), so the wait always ends.
void WaitWhile(const std::function<bool()>& keepWaiting);

} // namespace eventwait
