// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The local telesignal query service: another program on this computer asks with "R" and a
// code character for one row of the telesignal table and gets the row's 32 cells as text.
// It answers from whatever the table shows, whether or not the link to the adapter is open.

#include "exchange/datagramtap.h"

#include <QAbstractItemModel>
#include <QObject>
#include <QUdpSocket>

class LocalQueryService : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 QueryPort = 956;
    static constexpr quint16 AnswerPort = 955;

    // telesignals: the telesignal table, model row r and column c holding the table's row r + 1
    // and column c + 1 (the header row and column are not part of the model).
    explicit LocalQueryService(const QAbstractItemModel& telesignals, QObject* parent = nullptr);

    QUdpSocket LocalSender;
    quint16 answerPort = AnswerPort;
    // Told of every query and answer (recording); null for none.
    DatagramTap* tap = nullptr;

    // Binds LocalSender to 127.0.0.1:port; the socket layer's message when it cannot.
    QString Bind(quint16 port = QueryPort);

    // "r", the code, "=" and 32 characters ("1", "0", or "X" for an empty cell); empty when
    // the query is not answered (not "R", too short, or a row outside the telesignal and
    // interlock rows).
    QByteArray Answer(const QByteArray& query) const;

private:
    void LocalSenderDataAvailable();
    const QAbstractItemModel& telesignals_;
};
