// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An operator that answers by policy and marks the moment a discovery's probe starts: the first
// position on the progress bar, in wall time and in the process's CPU time.

#include "cputime.h"
#include "support/operatorio.h"

#include <QElapsedTimer>

// Marks the moment the probe starts: the first position on the progress bar.
struct ProbeClock : PolicyOperator {
    QElapsedTimer wall;
    double cpu0 = 0;
    void Progress(int minimum, int maximum, int position) override
    {
        PolicyOperator::Progress(minimum, maximum, position);
        if (position == 1 && !wall.isValid()) {
            wall.start();
            cpu0 = cpuSeconds();
        }
    }
};
