// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's core objects, wired as the program runs them: the exchange link with its trace,
// its recorder, dispatcher and announcements, the live tables and telecontrol, the local query
// service, the block service with firmware programming, and the module test bench. The main
// window shows them; the command-line tool and the tests drive them without a window. They live
// as long as their owner, which keeps them for the process.

#include "blocks/blockservice.h"
#include "blocks/calibration.h"
#include "blocks/interlock.h"
#include "blocks/kpconfigservice.h"
#include "blocks/parametereditor.h"
#include "exchange/announcements.h"
#include "exchange/capture.h"
#include "exchange/dispatcher.h"
#include "exchange/linkcore.h"
#include "exchange/localquery.h"
#include "exchange/tracelog.h"
#include "fielddata/fieldrequests.h"
#include "fielddata/livetables.h"
#include "fielddata/telecontrol.h"
#include "fielddata/trends.h"
#include "firmware/image.h"
#include "firmware/programming.h"
#include "testbench/benchconfig.h"
#include "testbench/moduletest.h"

struct ProgramCore {
    ProgramCore();
    ProgramCore(const ProgramCore&) = delete;
    ProgramCore& operator=(const ProgramCore&) = delete;

    TraceLog Trace;
    CaptureRecorder Capture{Trace}; // "Запись в файл": the exchange recorded to a capture file
    LinkCore Link{Trace};
    ReceiveDispatcher Dispatcher{Link, Trace};
    AdapterAnnouncements Announcements{Link, Trace};
    LiveTables Tables;
    trend::Recorder Trends{Tables}; // the curves of the trend window
    Telecontrol Tc{Link, Trace};
    FieldRequests Requests{Link, Tables};
    LocalQueryService LocalQuery{Tables.Telesignals};
    BlockService Blocks{Link, Trace};
    // The grid's view of the block it shows; the window's alone, never a script's.
    ParameterEditor Editor{Blocks};
    AdcCalibration Calibration{Link, Blocks};
    InterlockTransfer Interlock{Link, Blocks};
    kpconfig::Service KpConfig{Link, Blocks, Calibration, Interlock};
    firmware::FirmwareImage Image{Blocks};
    firmware::FirmwareProgramming Firmware{Link, Blocks, Image};
    BenchConfig Bench{Blocks, Editor};
    ModuleTest Test{Link, Tc, Tables, Bench};
};
