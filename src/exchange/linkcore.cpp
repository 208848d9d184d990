// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/linkcore.h"

#include "exchange/tracelog.h"
#include "support/convert.h"
#include "support/errortext.h"
#include "support/eventwait.h"

#include <QHostInfo>
#include <sys/socket.h>

namespace
{
// A timer interval from a wider computation, held to what a timer accepts.
int TimerInterval(qint64 ms)
{
    return int(std::clamp<qint64>(ms, 0, LinkCore::MaxTimerInterval));
}
// What waits for the adapter's name to be looked up; older datagrams give way beyond it.
constexpr int MaxWaitingForName = 64;
} // namespace

LinkCore::LinkCore(TraceLog& traceLog, QObject* parent) : QObject(parent), trace(traceLog)
{
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(100);
    Timer1.setSingleShot(true);
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(500);
    Timer2.setSingleShot(true);
    Timer2.setTimerType(Qt::PreciseTimer);
    Timer4.setObjectName(QStringLiteral("Timer4"));
    Timer4.setInterval(KeepAliveInterval);
    TimerDisconnect.setObjectName(QStringLiteral("TimerDisconnect"));
    TimerDisconnect.setInterval(DisconnectInterval);
    socket_.setObjectName(QStringLiteral("SocketData"));

    connect(&Timer4, &QTimer::timeout, this, &LinkCore::SendKeepAlive);
    connect(&TimerDisconnect, &QTimer::timeout, this, &LinkCore::TimerDisconnectTimer);
    connect(&socket_, &QUdpSocket::readyRead, this, &LinkCore::SocketDataDataAvailable);
}

std::optional<int> LinkCore::Timeout(QString* error) const
{
    bool ok = false;
    const qint64 ms = settings.Timeout.trimmed().toLongLong(&ok, 10);
    QString problem;
    if (!ok)
        problem = IntConversionError(QStringLiteral("Время ожидания"), settings.Timeout);
    else if (ms < 0)
        problem = QStringLiteral("Время ожидания не может быть отрицательным: %1 мс").arg(ms);
    else if (ms > MaxTimerInterval)
        problem = QStringLiteral("Время ожидания %1 мс больше наибольшего возможного (%2 мс)")
                      .arg(ms)
                      .arg(MaxTimerInterval);
    if (problem.isEmpty())
        return int(ms);
    if (error)
        *error = problem;
    return std::nullopt;
}

std::optional<quint16> LinkCore::DataPort(QString* error) const
{
    const auto port = StrToInt(settings.BasePortD, QStringLiteral("№ порта данных"), error);
    if (!port)
        return std::nullopt;
    if (*port < 0 || *port > 65535) {
        if (error)
            *error = QStringLiteral("Неверный номер порта: %1").arg(settings.BasePortD);
        return std::nullopt;
    }
    return quint16(*port);
}

QString LinkCore::Bind(const QString& address, quint16 port)
{
    socket_.close();
    const QString text = address.trimmed();
    QHostAddress local(QHostAddress::AnyIPv4);
    if (!text.isEmpty())
        local.setAddress(text); // checked with what was typed
    if (!socket_.bind(local, port))
        return QStringLiteral("Сокет данных не открыт на %1:%2: %3")
            .arg(local.toString())
            .arg(port)
            .arg(SocketErrorText(socket_.error()));
    // Room for a burst of the controlled point's datagrams while the window repaints.
    const int bytes = ReceiveBufferBytes;
    if (setsockopt(int(socket_.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &bytes,
                   sizeof bytes) != 0)
        socket_.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, bytes);
    return {};
}

QString LinkCore::Enable(bool enabled)
{
    settings.Connect = enabled;
    if (!enabled) {
        SetLinkOpen(false);
        return {};
    }
    if (settings.BaseIPadapter.trimmed().isEmpty())
        return {};
    QString error = TypedProblem(false);
    if (error.isEmpty())
        error = ArmTimers();
    if (error.isEmpty())
        error = Bind(settings.BaseIP, 0);
    if (error.isEmpty())
        Timer4.start();
    return error;
}

QString LinkCore::OpenDataPort()
{
    const QString problem = TypedProblem(true);
    if (!problem.isEmpty())
        return problem;
    const QString error = ArmTimers();
    return error.isEmpty() ? Bind(settings.BaseIP, *DataPort(nullptr)) : error;
}

QString LinkCore::TypedProblem(bool withPort) const
{
    QString error;
    if (!Timeout(&error) || (withPort && !DataPort(&error)))
        return error;
    QHostAddress local;
    if (!settings.BaseIP.trimmed().isEmpty() && !local.setAddress(settings.BaseIP.trimmed()))
        return QStringLiteral("Неверный IP адрес компьютера: %1").arg(settings.BaseIP);
    return {};
}

QString LinkCore::ArmTimers()
{
    QString error;
    const auto timeout = Timeout(&error);
    if (!timeout)
        return error;
    Timer1.setInterval(*timeout);
    Timer2.setInterval(TimerInterval(qint64(*timeout) * 5));
    return {};
}

void LinkCore::SetLinkOpen(bool open)
{
    LinkOpen = open;
    emit linkStateChanged(open);
}

void LinkCore::StartLink(const TPacket& message, int channel)
{
    SetLinkOpen(true);
    TxSequence = 0;
    if (!message.isEmpty())
        SendReply(message);
    CanChannel = channel;
    TransmitDone = true;
    TimerDisconnect.start();
}

void LinkCore::RestartInactivity()
{
    TimerDisconnect.stop();
    TimerDisconnect.start();
}

void LinkCore::TransmissionReported()
{
    TransmitDone = true;
}

bool LinkCore::SendBroadcast(const TPacket& packet)
{
    // Only through the bound data socket: an unbound one would bind itself anew.
    const auto port = DataPort(nullptr);
    if (!port || socket_.state() != QAbstractSocket::BoundState || eventwait::Closing())
        return false;
    return SendTo(QHostAddress(QHostAddress::Broadcast), *port, packet);
}

bool LinkCore::SendToAdapter(const TPacket& packet)
{
    if (eventwait::Closing())
        return false;
    const auto port = DataPort(nullptr);
    if (!port || socket_.state() != QAbstractSocket::BoundState)
        return false;
    const QString name = settings.BaseIPadapter.trimmed();
    QHostAddress to;
    if (to.setAddress(name))
        return SendTo(to, *port, packet);

    // A host name: sent to its address once known. A new name is looked up afresh.
    if (name.isEmpty())
        return false;
    if (name != resolvedName_) {
        if (lookupId_ >= 0)
            QHostInfo::abortHostLookup(lookupId_);
        resolvedName_ = name;
        resolvedAddress_.clear();
        waitingForName_.clear();
        lookupId_ = QHostInfo::lookupHost(name, this, &LinkCore::NameResolved);
    }
    if (!resolvedAddress_.isNull())
        return SendTo(resolvedAddress_, *port, packet);
    if (lookupId_ < 0) // the name did not resolve: looked up again for this datagram
        lookupId_ = QHostInfo::lookupHost(name, this, &LinkCore::NameResolved);
    if (waitingForName_.size() >= MaxWaitingForName)
        waitingForName_.removeFirst();
    waitingForName_.append(packet);
    return true;
}

bool LinkCore::SendTo(const QHostAddress& to, quint16 port, const TPacket& packet)
{
    const bool sent = socket_.writeDatagram(packet, to, port) == packet.size();
    if (sent && tap)
        tap->Datagram(socket_, DatagramTap::Sent, to, port, packet, true);
    return sent;
}

void LinkCore::NameResolved(const QHostInfo& info)
{
    if (info.lookupId() != lookupId_)
        return;
    lookupId_ = -1;
    for (const QHostAddress& a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            resolvedAddress_ = a;
            break;
        }
    }
    const QList<TPacket> waiting = std::exchange(waitingForName_, {});
    if (resolvedAddress_.isNull()) {
        emit adapterUnresolved(QStringLiteral("Адрес адаптера «%1» не найден: %2")
                                   .arg(info.hostName(), HostLookupErrorText(info.error())));
        return;
    }
    const auto port = DataPort(nullptr);
    if (!port || socket_.state() != QAbstractSocket::BoundState || eventwait::Closing())
        return;
    for (const TPacket& p : waiting)
        SendTo(resolvedAddress_, *port, p);
}

void LinkCore::SendKeepAlive()
{
    if (!settings.Connect || LinkOpen)
        return;
    const TPacket keepAlive = packet::Bytes({0x80, 0x00});
    trace.TraceFrame(TraceLog::Program, keepAlive);
    trace.TraceNote(QStringLiteral("ЗАПРОС"));
    trace.TraceNoteQuiet();
    SendToAdapter(keepAlive);
}

void LinkCore::TimerDisconnectTimer()
{
    SetLinkOpen(false);
}

void LinkCore::SocketDataDataAvailable()
{
    QHostAddress sender;
    quint16 senderPort = 0;
    while (socket_.hasPendingDatagrams()) {
        const qint64 size = socket_.pendingDatagramSize();
        TPacket d(qsizetype(std::max<qint64>(size, 0)), Qt::Uninitialized);
        const qint64 got = socket_.readDatagram(d.data(), d.size(), &sender, &senderPort);
        if (got < 0)
            break;
        d.truncate(qsizetype(got));
        if (tap)
            tap->Datagram(socket_, DatagramTap::Received, sender, senderPort, d, true);
        Receive(d, sender);
    }
}

void LinkCore::Receive(const TPacket& d, const QHostAddress& sender)
{
    ++RxCount.ref();
    trace.TraceFrame(TraceLog::Adapter, d);
    if (onDatagram)
        onDatagram(d, sender);
}

bool LinkCore::FromAdapter(const QHostAddress& sender) const
{
    bool ipv4 = false;
    const quint32 a = sender.toIPv4Address(&ipv4);
    if (!ipv4)
        return false;
    if (QHostAddress(a).toString() == settings.BaseIPadapter)
        return true;
    // An adapter given by its host name speaks from the address the name resolved to.
    return !resolvedAddress_.isNull() && resolvedName_ == settings.BaseIPadapter.trimmed() &&
           resolvedAddress_.toIPv4Address() == a;
}

Sent LinkCore::SendRequest(TPacket packet)
{
    LastRequestRepeated = false;
    if (eventwait::Closing())
        return Sent::Stopped;
    ++TxCount.ref();
    if (!LinkOpen)
        return Sent::LinkClosed;
    QString error;
    const auto timeout = Timeout(&error);
    if (!timeout) {
        emit operatorError(error);
        return Sent::Stopped;
    }
    const int T = *timeout;

    // Pacing: behind the previous request, and until the adapter reports it sent.
    eventwait::WaitWhile([this] { return Timer1.isActive(); });
    if (!TransmitDone && !eventwait::Closing()) {
        Timer1.setInterval(T);
        Timer1.start();
        eventwait::WaitWhile([this] { return Timer1.isActive() && !TransmitDone; });
    }
    Timer1.stop();
    if (eventwait::Closing())
        return Sent::Stopped;
    if (packet.size() < packet::HeaderSize)
        return Sent::LinkClosed; // not a request: nothing to stamp or send

    packet[0] = char(uint8_t(CanChannel));
    packet[2] = char(uint8_t(TxSequence));
    LastRequest = packet;
    trace.TraceFrame(TraceLog::Program, packet);

    Timer1.setInterval(T);
    Timer1.start();
    ReceiptArrived = false;
    TransmitDone = false;
    SendToAdapter(LastRequest);

    for (int retry = 0; retry < Retransmissions; ++retry) {
        eventwait::WaitWhile([this] { return Timer1.isActive(); });
        if (eventwait::Closing())
            return Sent::Stopped;
        if (ReceiptArrived)
            return Sent::Done;
        trace.TraceFrame(TraceLog::Program, LastRequest);
        trace.TraceNote(QStringLiteral("Повтор пакета!"));
        LastRequestRepeated = true;
        Timer1.setInterval(TimerInterval(qint64(Timer1.interval()) * 2));
        Timer1.start();
        SendToAdapter(LastRequest);
    }
    // The sixth transmission is not awaited: the link is lost.
    trace.TraceFrame(TraceLog::Program, TPacket());
    trace.TraceNote(QStringLiteral("Разрыв соединения!"));
    SetLinkOpen(false);
    return Sent::Done;
}

Reply LinkCore::SendAndWait(const TPacket& packet)
{
    if (eventwait::Closing())
        return Reply::Stopped;
    QString error;
    const auto timeout = Timeout(&error);
    if (!timeout) {
        emit operatorError(error);
        return Reply::Stopped;
    }
    Timer2.setInterval(TimerInterval(qint64(*timeout) + 1000));
    Timer2.start();
    awaitedBlock_.reset();
    if (packet.size() >= packet::HeaderSize + packet::RecordHeaderSize) {
        const uint8_t f = packet::at(packet, 4), a = packet::at(packet, 6);
        if ((f & packet::ConfigBit) && a < BroadcastAddress)
            awaitedBlock_ = std::pair{f, a};
    }
    AwaitingReply = true;
    const auto done = [this] {
        Timer2.stop();
        const bool replied = !AwaitingReply;
        AwaitingReply = false;
        awaitedBlock_.reset();
        return replied;
    };
    if (SendRequest(packet) == Sent::Stopped) {
        done();
        return Reply::Stopped;
    }
    eventwait::WaitWhile([this] { return AwaitingReply && Timer2.isActive(); });
    const bool replied = done();
    if (eventwait::Closing())
        return Reply::Stopped;
    return replied ? Reply::Answered : Reply::NoAnswer;
}

void LinkCore::SendReply(const TPacket& packet)
{
    ++TxCount.ref();
    if (!LinkOpen || eventwait::Closing())
        return;
    if (!trace.Listen) {
        trace.TraceFrame(TraceLog::Program, packet);
        trace.TraceNote(QStringLiteral("КВТ"));
        trace.TraceNoteQuiet();
    }
    SendToAdapter(packet);
}

bool LinkCore::ReceiptFromAdapter(uint8_t sequence)
{
    if (sequence != uint8_t(TxSequence))
        return false;
    ++TxSequence.ref();
    Timer1.stop();
    ReceiptArrived = true;
    return true;
}

void LinkCore::BlockReply(const CanRecord& record)
{
    if (!AwaitingReply)
        return; // late, or a second answer to a request the block took twice
    if (awaitedBlock_ && *awaitedBlock_ != std::pair{record.function, record.address})
        return; // another block's
    // DLC + 1 bytes: the data and the byte that follows it; bytes past the datagram read as 0.
    QByteArray& reply = ReplyData.ref();
    const int count = std::min<int>(record.dlc + 1, reply.size());
    for (int i = 0; i < count; ++i) {
        const int b = record.byte(packet::RecordHeaderSize + i);
        reply[i] = char(b < 0 ? 0 : b);
    }
    AwaitingReply = false;
}
