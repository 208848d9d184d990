#include "exchange/linkcore.h"

#include "exchange/tracelog.h"
#include "support/convert.h"

#include <QNetworkDatagram>

LinkCore::LinkCore(TraceLog& traceLog, QObject* parent) : QObject(parent), trace(traceLog)
{
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(100);
    Timer1.setSingleShot(true);
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(500);
    Timer2.setSingleShot(true);
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
    QString error;
    const auto timeout = Timeout(&error);
    if (!timeout)
        return error;
    Timer1.setInterval(*timeout);
    Timer2.setInterval(*timeout * 5);
    error = Bind(settings.BaseIP, 0);
    if (!error.isEmpty())
        return error;
    Timer4.start();
    return {};
}

QString LinkCore::OpenSockClick()
{
    QString error;
    const auto timeout = Timeout(&error);
    if (!timeout)
        return error;
    const auto port = DataPort(&error);
    if (!port)
        return error;
    Timer1.setInterval(*timeout);
    Timer2.setInterval(*timeout * 5);
    return Bind(settings.BaseIP, *port);
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
    while (SocketData.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = SocketData.receiveDatagram();
        const TPacket d = datagram.data();
        ++RxCount;
        trace.TraceFrame(TraceLog::Adapter, d);
        if (onDatagram)
            onDatagram(d, datagram.senderAddress());
    }
}
