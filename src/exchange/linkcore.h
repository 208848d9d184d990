// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The exchange link with the adapter: the data socket, the link state and its timers, the
// keep-alive that asks the adapter for a connection, the inactivity limit, and the request
// channel that numbers requests, waits for the adapter's receipts and retransmits.

#include "exchange/datagramtap.h"
#include "exchange/linksettings.h"
#include "exchange/operationguard.h"
#include "exchange/packet.h"
#include "support/owned.h"

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
    // Records to this address and above go to no one block (0x80: broadcast service records).
    static constexpr uint8_t BroadcastAddress = 0x80;

    explicit LinkCore(TraceLog& trace, QObject* parent = nullptr);

    LinkSettings settings;
    TraceLog& trace;

    // Link state.
    Owned<bool, LinkCore> LinkOpen{false}; // the adapter has accepted the exchange
    Owned<int, LinkCore> CanChannel{0};    // CAN channel stamped into requests and accepted in data

    const QUdpSocket& SocketData = socket_; // bound at "Разрешить обмен"
    QTimer Timer1;                          // request pacing and receipt timeout
    QTimer Timer2;                          // reply guard
    QTimer Timer4;                          // keep-alive
    QTimer TimerDisconnect;                 // link inactivity

    // The exchange enabled ("Разрешить обмен" checked) or disabled. Returns the message for the
    // operator when the timeout does not convert or the socket cannot be bound; nothing is
    // bound or started then.
    QString Enable(bool enabled);
    // The hidden "Открыть сеть": binds the data socket to BaseIP and BasePortD.
    QString OpenDataPort();
    // What the operator typed that cannot be used (the timeout, the computer's address, and the
    // data port when asked), as the message naming it; empty when everything converts.
    QString TypedProblem(bool withPort) const;
    // The keep-alive (Timer4's tick): 0x80 0x00 to the adapter while the exchange is enabled
    // and the link is not open. A program without a window sends the first one at once.
    void SendKeepAlive();

    // "Время ожидания" read afresh: a decimal integer from 0 to MaxTimerInterval. Otherwise
    // nothing, and in error the conversion error or why the value cannot be honoured.
    std::optional<int> Timeout(QString* error) const;
    // The adapter's data port read afresh.
    std::optional<quint16> DataPort(QString* error) const;

    // Opens or closes the link; announces the change for the colour of "Разрешить обмен".
    void SetLinkOpen(bool open);
    // The adapter's connection request accepted: the link opens with the sequence at 0, the
    // link start message (when there is one) goes out, the CAN channel is the one it selects,
    // the next request goes out at once, and the inactivity limit runs.
    void StartLink(const TPacket& message, int channel);
    // Data from the adapter: the inactivity limit starts again.
    void RestartInactivity();
    // The adapter reported the last request sent on the bus (0x83).
    void TransmissionReported();
    // A datagram to 255.255.255.255 at the data port through the bound data socket (the address
    // reply); false when the socket is not bound or does not take it.
    bool SendBroadcast(const TPacket& packet);

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

    Owned<quint32, LinkCore> RxCount{0}; // datagrams received on the data socket
    Owned<quint32, LinkCore> TxCount{0}; // requests and receipts handed to the channel

    // Request channel state.
    static constexpr int Retransmissions = 5;
    Owned<quint32, LinkCore> TxSequence{0};      // its low byte is the sequence number on the wire
    Owned<TPacket, LinkCore> LastRequest;        // as sent, with channel and sequence stamped
    Owned<bool, LinkCore> TransmitDone{false};   // the adapter reported the last request sent
    Owned<bool, LinkCore> ReceiptArrived{false}; // the receipt for LastRequest has come
    Owned<bool, LinkCore> AwaitingReply{false};  // a SendAndWait waits for its block reply
    // Data of the last block reply that released a SendAndWait (indexes 0..7 used).
    Owned<QByteArray, LinkCore> ReplyData{QByteArray(256, '\0')};
    // The latest request had to be sent again for lack of a receipt. A block that took the
    // first copy (only its receipt was lost) takes the request twice.
    Owned<bool, LinkCore> LastRequestRepeated{false};

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
    // A block reply record. It releases the waiting SendAndWait, its data (cut at the
    // datagram's end) and the byte after it going to ReplyData, when it comes from the block
    // the request went to (a request to one block: its configuration function byte and
    // address). A reply from another block, or one that comes while nothing waits, is left.
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

    QUdpSocket socket_;
    // The block a waiting SendAndWait expects its reply from: the configuration function byte
    // and address of its request's record; none for a request that is not to one block.
    std::optional<std::pair<uint8_t, uint8_t>> awaitedBlock_;

    // A host name in BaseIPadapter: its address once looked up, and what waits for it.
    QString resolvedName_;
    QHostAddress resolvedAddress_;
    int lookupId_ = -1;
    QList<TPacket> waitingForName_;
};
