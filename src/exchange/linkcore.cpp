#include "exchange/linkcore.h"

#include "exchange/tracelog.h"
#include "support/convert.h"
#include "support/eventwait.h"

#include <sys/socket.h>

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
    SocketData.setObjectName(QStringLiteral("SocketData"));

    connect(&Timer4, &QTimer::timeout, this, &LinkCore::Timer4Timer);
    connect(&TimerDisconnect, &QTimer::timeout, this, &LinkCore::TimerDisconnectTimer);
    connect(&SocketData, &QUdpSocket::readyRead, this, &LinkCore::SocketDataDataAvailable);
}

std::optional<int> LinkCore::Timeout(QString* error) const
{
    return StrToInt(settings.Timeout, error);
}

std::optional<quint16> LinkCore::DataPort(QString* error) const
{
    const auto port = StrToInt(settings.BasePortD, error);
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
    SocketData.close();
    const QString text = address.trimmed();
    QHostAddress local(QHostAddress::AnyIPv4);
    if (!text.isEmpty() && !local.setAddress(text))
        return QStringLiteral("Неверный IP адрес компьютера: %1").arg(address);
    if (!SocketData.bind(local, port))
        return SocketData.errorString();
    // Room for a burst of the controlled point's datagrams while the window repaints.
    const int bytes = ReceiveBufferBytes;
    if (setsockopt(int(SocketData.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &bytes,
                   sizeof bytes) != 0)
        SocketData.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, bytes);
    return {};
}

QString LinkCore::ConnectClick(bool checked)
{
    settings.Connect = checked;
    if (!checked) {
        SetLinkOpen(false);
        return {};
    }
    if (settings.BaseIPadapter.trimmed().isEmpty())
        return {};
    QString error = ArmTimers();
    if (error.isEmpty())
        error = Bind(settings.BaseIP, 0);
    if (error.isEmpty())
        Timer4.start();
    return error;
}

QString LinkCore::OpenSockClick()
{
    QString error;
    const auto port = DataPort(&error);
    if (!port)
        return error;
    error = ArmTimers();
    return error.isEmpty() ? Bind(settings.BaseIP, *port) : error;
}

QString LinkCore::ArmTimers()
{
    QString error;
    const auto timeout = Timeout(&error);
    if (!timeout)
        return error;
    Timer1.setInterval(*timeout);
    Timer2.setInterval(*timeout * 5);
    return {};
}

void LinkCore::SetLinkOpen(bool open)
{
    LinkOpen = open;
    emit linkStateChanged(open);
}

bool LinkCore::SendToAdapter(const TPacket& packet)
{
    QHostAddress to;
    if (!to.setAddress(settings.BaseIPadapter.trimmed()))
        return false;
    const auto port = DataPort(nullptr);
    if (!port || SocketData.state() != QAbstractSocket::BoundState)
        return false;
    return SocketData.writeDatagram(packet, to, *port) == packet.size();
}

void LinkCore::Timer4Timer()
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
    while (SocketData.hasPendingDatagrams()) {
        const qint64 size = SocketData.pendingDatagramSize();
        TPacket d(qsizetype(std::max<qint64>(size, 0)), Qt::Uninitialized);
        const qint64 got = SocketData.readDatagram(d.data(), d.size(), &sender);
        if (got < 0)
            break;
        d.truncate(qsizetype(got));
        Receive(d, sender);
    }
}

void LinkCore::Receive(const TPacket& d, const QHostAddress& sender)
{
    ++RxCount;
    trace.TraceFrame(TraceLog::Adapter, d);
    if (onDatagram)
        onDatagram(d, sender);
}

bool LinkCore::FromAdapter(const QHostAddress& sender) const
{
    bool ipv4 = false;
    const quint32 a = sender.toIPv4Address(&ipv4);
    return ipv4 && QHostAddress(a).toString() == settings.BaseIPadapter;
}

bool LinkCore::SendRequest(TPacket packet)
{
    ++TxCount;
    if (!LinkOpen)
        return true;
    QString error;
    const auto timeout = Timeout(&error);
    if (!timeout) {
        emit operatorError(error);
        return false;
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
    if (eventwait::Closing() || packet.size() < packet::HeaderSize)
        return true;

    packet[0] = char(uint8_t(CanChannel));
    packet[2] = char(uint8_t(TxSequence));
    LastRequest = packet;
    trace.TraceFrame(TraceLog::Program, LastRequest);

    Timer1.setInterval(T);
    Timer1.start();
    ReceiptArrived = false;
    TransmitDone = false;
    SendToAdapter(LastRequest);

    for (int retry = 0; retry < Retransmissions; ++retry) {
        eventwait::WaitWhile([this] { return Timer1.isActive(); });
        if (ReceiptArrived || eventwait::Closing())
            return true;
        trace.TraceFrame(TraceLog::Program, LastRequest);
        trace.TraceNote(QStringLiteral("Повтор пакета!"));
        Timer1.setInterval(Timer1.interval() * 2);
        Timer1.start();
        SendToAdapter(LastRequest);
    }
    // The sixth transmission is not awaited: the link is lost.
    trace.TraceFrame(TraceLog::Program, TPacket());
    trace.TraceNote(QStringLiteral("Разрыв соединения!"));
    SetLinkOpen(false);
    return true;
}

bool LinkCore::SendAndWait(const TPacket& packet)
{
    QString error;
    const auto timeout = Timeout(&error);
    if (!timeout) {
        emit operatorError(error);
        return false;
    }
    Timer2.setInterval(*timeout + 1000);
    Timer2.start();
    AwaitingReply = true;
    if (!SendRequest(packet)) {
        Timer2.stop();
        AwaitingReply = false;
        return false;
    }
    eventwait::WaitWhile([this] { return AwaitingReply && Timer2.isActive(); });
    Timer2.stop();
    const bool replied = !AwaitingReply;
    AwaitingReply = false;
    return replied;
}

void LinkCore::SendReply(const TPacket& packet)
{
    ++TxCount;
    if (!LinkOpen)
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
    ++TxSequence;
    Timer1.stop();
    ReceiptArrived = true;
    return true;
}

void LinkCore::BlockReply(const CanRecord& record)
{
    // DLC + 1 bytes: the data and the byte that follows it; bytes past the datagram read as 0.
    const int count = std::min<int>(record.dlc + 1, ReplyData.size());
    for (int i = 0; i < count; ++i) {
        const int b = record.byte(packet::RecordHeaderSize + i);
        ReplyData[i] = char(b < 0 ? 0 : b);
    }
    AwaitingReply = false;
}
