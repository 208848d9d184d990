#pragma once
// The exchange link with the adapter: the data socket, the link state and its timers, the
// keep-alive that asks the adapter for a connection, and the inactivity limit.

#include "exchange/linksettings.h"
#include "exchange/packet.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <functional>
#include <optional>

class TraceLog;

class LinkCore : public QObject
{
    Q_OBJECT
public:
    static constexpr int DisconnectInterval = 30000;
    static constexpr int KeepAliveInterval = 1000;

    explicit LinkCore(TraceLog& trace, QObject* parent = nullptr);

    LinkSettings settings;
    TraceLog& trace;

    // Link state.
    bool LinkOpen = false; // the adapter has accepted the exchange
    int CanChannel = 0;    // CAN channel stamped into requests and accepted in data

    QUdpSocket SocketData;
    QTimer Timer1;          // request pacing and receipt timeout
    QTimer Timer2;          // reply guard
    QTimer Timer4;          // keep-alive
    QTimer TimerDisconnect; // link inactivity

    // "Разрешить обмен" checked. Returns the message for the operator when the timeout does not
    // convert or the socket cannot be bound; nothing is bound or started then.
    QString ConnectClick(bool checked);
    // The hidden "Открыть сеть": binds the data socket to BaseIP and BasePortD.
    QString OpenSockClick();

    // "Время ожидания" read afresh; the conversion error in error.
    std::optional<int> Timeout(QString* error) const;
    // The adapter's data port read afresh.
    std::optional<quint16> DataPort(QString* error) const;

    // Opens or closes the link; announces the change for the colour of "Разрешить обмен".
    void SetLinkOpen(bool open);

    // Sends bytes straight through the data socket to BaseIPadapter:BasePortD. False when the
    // address or port does not read or the socket refuses.
    bool SendToAdapter(const TPacket& packet);

    // Called for every datagram received on the data socket, after it was counted and traced.
    std::function<void(const TPacket&, const QHostAddress&)> onDatagram;

    quint32 RxCount = 0; // datagrams received on the data socket
    quint32 TxCount = 0; // requests and receipts handed to the channel

signals:
    void linkStateChanged(bool open);

private:
    QString Bind(const QString& address, quint16 port);
    void Timer4Timer();
    void TimerDisconnectTimer();
    void SocketDataDataAvailable();
};
