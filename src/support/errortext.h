// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What went wrong with a file, a socket, a host name or a JSON text, in the engineer's words:
// Qt's own error strings are English, and none of them reaches the engineer.

#include <QAbstractSocket>
#include <QFileDevice>
#include <QHostInfo>
#include <QJsonParseError>
#include <QString>

// Why a file could not be opened, read or written.
QString FileErrorText(const QFileDevice& file);
// Why a socket could not be bound or could not send.
QString SocketErrorText(QAbstractSocket::SocketError error);
// Why a host name did not give an address.
QString HostLookupErrorText(QHostInfo::HostInfoError error);
// Why a text is not JSON, with the position (in bytes) where reading stopped.
QString JsonErrorText(const QJsonParseError& error);
