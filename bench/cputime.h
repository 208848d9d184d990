// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The benchmark process's own CPU time (user + system), in seconds.

#include <sys/resource.h>

inline double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
