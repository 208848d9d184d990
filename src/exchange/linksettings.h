// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the operator typed on the "Базовые настройки" tab, mirrored for the exchange core.
// The texts are converted at the moment of use, so a change takes effect at the next use.

#include <QString>

struct LinkSettings {
    QString BaseIP;         // computer address, data socket bound here
    QString BaseIPadapter;  // adapter address, destination of every datagram
    QString BaseMacAdapter; // adapter MAC as AA:BB:CC:DD:EE:FF
    QString BaseMask = QStringLiteral("255.255.255.0");
    QString BaseGW;                            // gateway
    QString BasePortC = QStringLiteral("971"); // shown and stored, used by no exchange
    QString BasePortD = QStringLiteral("972"); // adapter's data port
    QString Timeout = QStringLiteral("100");   // "Время ожидания", milliseconds
    int Km4Cfg = 0;                            // CAN channel and rate asked of a version-4 adapter
    bool Connect = false;                      // "Разрешить обмен"
    bool DebugMode = false;                    // engineering controls shown
};
