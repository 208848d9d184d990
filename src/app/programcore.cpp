// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/programcore.h"

ProgramCore::ProgramCore()
{
    // Recording sees every datagram of the data socket and of the local query service.
    Link.tap = &Capture;
    LocalQuery.tap = &Capture;
    Link.onDatagram = [this](const TPacket& d, const QHostAddress& from) {
        Dispatcher.Dispatch(d, from);
    };
    Dispatcher.onAnnouncement = [this](const TPacket& d, const QHostAddress& from) {
        Announcements.Handle(d, from);
    };
    // Every record goes to the live tables and events first, then to telecontrol, then to
    // block discovery. The fuzz target builds this same core, so each handler registered here
    // runs under the fuzzer.
    Dispatcher.RegisterRecordHandler([this](const CanRecord& r) { Tables.HandleRecord(r); });
    Dispatcher.RegisterRecordHandler([this](const CanRecord& r) { Tc.HandleRecord(r); });
    Dispatcher.RegisterRecordHandler([this](const CanRecord& r) { Blocks.HandleRecord(r); });
    QObject::connect(&Announcements, &AdapterAnnouncements::linkStarted, &Blocks,
                     &BlockService::LinkStarted);
}
