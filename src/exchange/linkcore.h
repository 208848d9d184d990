#pragma once
// The exchange link with the adapter: the data socket, the link state and its timers, the
// keep-alive that asks the adapter for a connection, the inactivity limit, and the request
// channel that numbers requests, waits for the adapter's receipts and retransmits.

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
    static constexpr int ReceiveBufferBytes = 4 << 20;

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

    // A datagram received on the data socket: counted, traced and handed to onDatagram.
    void Receive(const TPacket& d, const QHostAddress& sender);
    // Called for every datagram received on the data socket, after it was counted and traced.
    std::function<void(const TPacket&, const QHostAddress&)> onDatagram;

    quint32 RxCount = 0; // datagrams received on the data socket
    quint32 TxCount = 0; // requests and receipts handed to the channel

    // Request channel state.
    static constexpr int Retransmissions = 5;
    quint32 TxSequence = 0;      // its low byte is the sequence number on the wire
    TPacket LastRequest;         // as sent, with channel and sequence stamped
    bool TransmitDone = false;   // the adapter reported the last request sent on the bus
    bool ReceiptArrived = false; // the receipt for LastRequest has come
    bool AwaitingReply = false;  // a SendAndWait waits for its block reply
    QByteArray ReplyData = QByteArray(256, '\0'); // data of the last block reply (0..7 used)

    // Sends a request: paced behind the previous one, stamped with the CAN channel and the
    // sequence number, retransmitted five times at a doubling interval without a receipt, then
    // the link is declared lost. Returns false only when the timeout text does not convert
    // (the error is announced with operatorError); a closed link only counts the request.
    bool SendRequest(TPacket packet);
    // SendRequest, then waits for the block's reply for timeout + 1000 ms. True if it came.
    bool SendAndWait(const TPacket& packet);
    // Sends a datagram once, unchanged: the program's receipts and link messages.
    void SendReply(const TPacket& packet);
    // A receipt from the adapter with the given sequence byte; false when it is not the one
    // awaited.
    bool ReceiptFromAdapter(uint8_t sequence);
    // A block reply record: its data (cut at the datagram's end) and the byte after it.
    void BlockReply(const CanRecord& record);

    // True when the datagram's sender, written as a.b.c.d, is exactly the configured adapter.
    bool FromAdapter(const QHostAddress& sender) const;

signals:
    void linkStateChanged(bool open);
    // A message for the operator from an operation that had to stop (conversion error).
    void operatorError(const QString& message);

private:
    // Reads the timeout and sets the pacing and reply timers from it; the conversion error.
    QString ArmTimers();
    QString Bind(const QString& address, quint16 port);
    void Timer4Timer();
    void TimerDisconnectTimer();
    void SocketDataDataAvailable();
};
