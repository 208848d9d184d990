// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two requests of the data tab that are not telecontrol: the archive request (the archived
// telesignal event after the last position the blocks reported) and the counter preset (a new
// value for one integral counter of a telesignal block). Both stand behind the operation guard.

#include "exchange/linkcore.h"

#include <QObject>

class LiveTables;

class FieldRequests : public QObject
{
    Q_OBJECT
public:
    FieldRequests(LinkCore& link, const LiveTables& tables, QObject* parent = nullptr);

    // "Запрос архива": sent, nothing noted or awaited. False when refused or stopped.
    bool RequestArchive();
    // Presets counter `num` of block `adr` to `val` and waits for the block's answer; only the
    // low bytes of adr and num are sent. Nothing is sent while another operation runs.
    Reply PresetCounter(qint32 adr, qint32 num, qint32 val);

private:
    LinkCore& link_;
    const LiveTables& tables_;
};
