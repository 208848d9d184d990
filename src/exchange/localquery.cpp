// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/localquery.h"

#include "support/errortext.h"

#include <QNetworkDatagram>

namespace
{
constexpr int Columns = 32;
constexpr int LastRow = 16; // telesignal rows 1..8, interlock rows 9..16
} // namespace

LocalQueryService::LocalQueryService(const QAbstractItemModel& telesignals, QObject* parent)
    : QObject(parent), telesignals_(telesignals)
{
    LocalSender.setObjectName(QStringLiteral("LocalSender"));
    connect(&LocalSender, &QUdpSocket::readyRead, this,
            &LocalQueryService::LocalSenderDataAvailable);
}

QString LocalQueryService::Bind(quint16 port)
{
    if (!LocalSender.bind(QHostAddress::LocalHost, port))
        return SocketErrorText(LocalSender.error());
    return {};
}

QByteArray LocalQueryService::Answer(const QByteArray& query) const
{
    if (query.size() < 2 || query[0] != 'R')
        return {};
    const char code = query[1];
    const int row = int(uint8_t(code)) - 0x30 + 1;
    if (row < 1 || row > LastRow || row > telesignals_.rowCount())
        return {};
    QByteArray answer;
    answer.reserve(3 + Columns);
    answer.append('r').append(code).append('=');
    for (int c = 1; c <= Columns; ++c) {
        const QString cell = telesignals_.index(row - 1, c - 1).data().toString();
        answer.append(cell.isEmpty() ? 'X' : cell.at(0).toLatin1());
    }
    return answer;
}

void LocalQueryService::LocalSenderDataAvailable()
{
    while (LocalSender.hasPendingDatagrams()) {
        const QNetworkDatagram query = LocalSender.receiveDatagram();
        if (tap)
            tap->Datagram(LocalSender, DatagramTap::Received, query.senderAddress(),
                          quint16(query.senderPort()), query.data(), false);
        const QByteArray answer = Answer(query.data());
        if (!answer.isEmpty() &&
            LocalSender.writeDatagram(answer, QHostAddress::LocalHost, answerPort) ==
                answer.size() &&
            tap)
            tap->Datagram(LocalSender, DatagramTap::Sent, QHostAddress(QHostAddress::LocalHost),
                          answerPort, answer, false);
    }
}
