// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The adapter maker's own configurator, a library loaded at run time.

#include <QByteArray>
#include <QString>

// Calls VelmarIPConfig(MAC text, adapter address text) from the library "velmarcfgdll".
// Returns false with a message for the operator when the library or the function is absent.
bool CallVelmarIPConfig(const QByteArray& mac, const QByteArray& adapterAddress, QString* error);
