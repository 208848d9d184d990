// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/fieldrequests.h"

#include "fielddata/livetables.h"

FieldRequests::FieldRequests(LinkCore& link, const LiveTables& tables, QObject* parent)
    : QObject(parent), link_(link), tables_(tables)
{
}

bool FieldRequests::RequestArchive()
{
    const auto operation = link_.Operations.Begin(QStringLiteral("запрос архива"));
    return operation && link_.SendRequest(tables_.ArchiveRequest()) != Sent::Stopped;
}

Reply FieldRequests::PresetCounter(qint32 adr, qint32 num, qint32 val)
{
    // The wait for the reply handles clicks too; a second click meanwhile is refused.
    const auto operation = link_.Operations.Begin(QStringLiteral("запись значения ТИИ"));
    if (!operation)
        return Reply::Stopped;
    return link_.SendAndWait(LiveTables::CounterPreset(adr, num, val));
}
