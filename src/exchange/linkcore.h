// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The exchange link with the adapter: the data socket, the link state and its timers, the
// keep-alive that asks the adapter for a connection, the inactivity limit, and the request
// channel that numbers requests, waits for the adapter's receipts and retransmits.

#include "exchange/datagramtap.h"
#include "exchange/linksettings.h"
#include "exchange/operationguard.h"
#include "exchange/packet.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <functional>
#include <limits>
#include <optional>

class QHostInfo;
class TraceLog;

// What became of a request handed to SendRequest.
enum class [[nodiscard]] Sent : uint8_t{
    Done,       // it went out (with its retransmissions); its rows are in the trace
    LinkClosed, // the link is closed: only counted, nothing sent or traced
    Stopped,    // nothing sent: a setting was refused (the operator was told) or the program
                // is closing; the operation stops without a further word
};

// What became of a request handed to SendAndWait.
enum class [[nodiscard]] Reply : uint8_t{
    Answered, // the block's reply came; its data is in ReplyData
    NoAnswer, // no reply within the guard (also when the link is closed)
    Stopped,  // as Sent::Stopped: stop without a further word
};

class LinkCore : public QObject
{
    Q_OBJECT
public:
    static constexpr int DisconnectInterval = 30000;
    static constexpr int KeepAliveInterval = 1000;
    static constexpr int ReceiveBufferBytes = 4 << 20;
    // The longest interval a timer holds, in milliseconds.
    static constexpr int MaxTimerInterval = std::numeric_limits<int>::max();

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
    // The keep-alive tick: 0x80 0x00 to the adapter while "Разрешить обмен" is checked and the
    // link is not open. A program without a window sends the first one at once.
    void Timer4Timer();

    // "Время ожидания" read afresh: a decimal integer from 0 to MaxTimerInterval. Otherwise
    // nothing, and in error the conversion error or why the value cannot be honoured.
    std::optional<int> Timeout(QString* error) const;
    // The adapter's data port read afresh.
    std::optional<quint16> DataPort(QString* error) const;

    // Opens or closes the link; announces the change for the colour of "Разрешить обмен".
    void SetLinkOpen(bool open);

    // Sends bytes straight through the data socket to BaseIPadapter:BasePortD. A host name is
    // looked up without blocking, and what is sent meanwhile goes out once it is known. False
    // when the port does not read, the name cannot be resolved, the socket refuses or the
    // program is closing.
    bool SendToAdapter(const TPacket& packet);

    // Told of every datagram the data socket sends or receives (recording); null for none.
    DatagramTap* tap = nullptr;

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

    // One request-making operation at a time: discovery, parameter writes, telecontrol, the
    // clock setting, ... each holds the guard while it runs.
    OperationGuard Operations;

    // Sends a request: paced behind the previous one, stamped with the CAN channel and the
    // sequence number, retransmitted five times at a doubling interval without a receipt, then
    // the link is declared lost. A timeout that is refused is announced with operatorError.
    Sent SendRequest(TPacket packet);
    // SendRequest, then waits for the block's reply for timeout + 1000 ms.
    Reply SendAndWait(const TPacket& packet);
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
    // The adapter's host name could not be resolved: nothing reaches the adapter.
    void adapterUnresolved(const QString& message);

private:
    // Reads the timeout and sets the pacing and reply timers from it; the conversion error.
    QString ArmTimers();
    QString Bind(const QString& address, quint16 port);
    void TimerDisconnectTimer();
    void SocketDataDataAvailable();
    bool SendTo(const QHostAddress& to, quint16 port, const TPacket& packet);
    void NameResolved(const QHostInfo& info);

    // A host name in BaseIPadapter: its address once looked up, and what waits for it.
    QString resolvedName_;
    QHostAddress resolvedAddress_;
    int lookupId_ = -1;
    QList<TPacket> waitingForName_;
};
