// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A module test run as JUnit XML, for the test reporting of a production line: one test suite
// for the run; the two bench configuration writes and the 32 relays as test cases ("relay 01" …
// "relay 32"), each with its time; a failure for a relay that failed in any cycle, with the
// inputs as read; skipped for what the run did not get to. The action log is the suite's
// system-out.

#include "testbench/runrecord.h"

#include <QByteArray>

namespace junitreport
{

QByteArray Xml(const RunRecord& run, const QString& hostname);

} // namespace junitreport
