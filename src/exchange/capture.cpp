// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/capture.h"

#include "support/byteorder.h"

#include <QDateTime>
#include <QDir>
#include <QUdpSocket>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}
} // namespace

CaptureRecorder::CaptureRecorder(TraceLog& trace, QObject* parent) : QObject(parent), trace_(trace)
{
    hold_.setObjectName(QStringLiteral("CaptureHold"));
    hold_.setSingleShot(true);
    held_.reserve(16);
    connect(&hold_, &QTimer::timeout, this, [this] { WriteAllHeld(); });
}

CaptureRecorder::~CaptureRecorder()
{
    Stop();
}

QString CaptureRecorder::ProposedName(const QDateTime& at)
{
    return QStringLiteral("trace-%1.pcapng")
        .arg(at.toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss")));
}

QString CaptureRecorder::Start(const QString& path)
{
    Stop();
    QString error;
    if (!writer_.Open(path, &error))
        return QStringLiteral("Не удалось создать файл записи обмена %1:\n%2")
            .arg(Native(path), error);
    Reset();
    written_ = 0;
    trace_.observer = this;
    emit recordingChanged(true);
    return {};
}

void CaptureRecorder::Stop()
{
    if (!Recording())
        return;
    WriteAllHeld();
    if (!Recording())
        return; // the last write failed and stopped the recording
    writer_.Close();
    Reset();
    emit recordingChanged(false);
}

void CaptureRecorder::Reset()
{
    if (trace_.observer == this && !Recording())
        trace_.observer = nullptr;
    hold_.stop();
    held_.clear();
    rowHeld_ = awaitingRow_ = -1;
    rowAwaitsSend_ = false;
    rowDatagram_ = TPacket();
    rowNote_ = QString();
}

void CaptureRecorder::Fail(const QString& error)
{
    const QString message =
        QStringLiteral("Запись обмена в файл %1 прервана:\n%2").arg(Native(FileName()), error);
    writer_.Close();
    Reset();
    emit recordingChanged(false);
    QMetaObject::invokeMethod(
        this, [this, message] { emit failed(message); }, Qt::QueuedConnection);
}

void CaptureRecorder::WriteHeld(size_t count)
{
    count = std::min(count, held_.size());
    if (count == 0)
        return;
    for (size_t i = 0; i < count; ++i) {
        const Held& h = held_[i];
        writer_.Append(h.microseconds, h.ends, h.datagram, h.note);
    }
    held_.erase(held_.begin(), held_.begin() + qsizetype(count));
    rowHeld_ = rowHeld_ >= int(count) ? rowHeld_ - int(count) : -1;
    awaitingRow_ = awaitingRow_ >= int(count) ? awaitingRow_ - int(count) : -1;
    QString error;
    if (!writer_.Flush(&error)) {
        Fail(error);
        return;
    }
    written_ += count;
    if (held_.empty()) {
        hold_.stop();
    } else {
        // The oldest datagram still held is written at most HoldInterval after it came.
        const qint64 age = (capture::NowMicroseconds() - held_.front().microseconds) / 1000;
        hold_.start(int(std::clamp<qint64>(HoldInterval - age, 0, HoldInterval)));
    }
}

void CaptureRecorder::WriteAllHeld()
{
    WriteHeld(held_.size());
}

void CaptureRecorder::Record(Way way, const capture::UdpEnds& ends, const TPacket& datagram,
                             bool traced)
{
    if (!Recording())
        return;
    const bool startsTimer = held_.empty();
    held_.push_back(Held{capture::NowMicroseconds(), ends, datagram, {}});
    const int index = int(held_.size()) - 1;
    if (traced && way == Sent && rowAwaitsSend_ && rowDatagram_ == datagram) {
        // The datagram of the row traced just before it was sent: the row's notes are its own.
        held_.back().note = std::move(rowNote_);
        rowNote_ = QString();
        rowDatagram_ = TPacket();
        rowAwaitsSend_ = false;
        rowHeld_ = index;
    } else if (traced && way == Received) {
        awaitingRow_ = index; // its row is added right after it was read
    }
    if (startsTimer)
        hold_.start(HoldInterval);
}

void CaptureRecorder::Datagram(const QUdpSocket& socket, Way way, const QHostAddress& peer,
                               quint16 peerPort, const TPacket& datagram, bool traced)
{
    if (!Recording())
        return;
    const quint32 remote = peer.toIPv4Address();
    quint32 local = socket.localAddress().toIPv4Address();
    if (local == 0)
        local = SourceFor(remote); // bound to any address: the one the system sends from
    const quint16 localPort = socket.localPort();
    capture::UdpEnds ends;
    if (way == Sent)
        ends = {local, localPort, remote, peerPort};
    else
        ends = {remote, peerPort, local, localPort};
    Record(way, ends, datagram, traced);
}

quint32 CaptureRecorder::SourceFor(quint32 destination)
{
    if (destination == 0)
        return 0;
    if (destination == routeDestination_)
        return routeSource_;
    // A connected datagram socket learns the source address of the route; nothing is sent.
    quint32 source = 0;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        to.sin_addr.s_addr = htonl(destination);
        sockaddr_in me{};
        socklen_t length = sizeof me;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&me), &length) == 0)
            source = ntohl(me.sin_addr.s_addr);
        ::close(fd);
    }
    routeDestination_ = destination;
    routeSource_ = source;
    return source;
}

void CaptureRecorder::RowAdded(const QString& direction, const TPacket& packet)
{
    // A new row: the notes of every row before it are complete.
    if (awaitingRow_ >= 0 && direction == TraceLog::Adapter &&
        held_[size_t(awaitingRow_)].datagram == packet) {
        const size_t before = size_t(awaitingRow_);
        rowAwaitsSend_ = false;
        rowDatagram_ = TPacket();
        WriteHeld(before);
        if (!Recording())
            return;
        rowHeld_ = awaitingRow_; // WriteHeld moved it to the front
        awaitingRow_ = -1;
        return;
    }
    WriteAllHeld();
    if (!Recording())
        return;
    rowHeld_ = awaitingRow_ = -1;
    // A row of the program's own datagram comes before the datagram is sent; an empty row
    // ("Разрыв соединения!") has none.
    rowAwaitsSend_ = direction != TraceLog::Adapter && !packet.isEmpty();
    rowDatagram_ = rowAwaitsSend_ ? packet : TPacket();
    rowNote_ = QString();
}

void CaptureRecorder::NoteWritten(const QString& text)
{
    if (rowHeld_ >= 0)
        held_[size_t(rowHeld_)].note = text;
    else if (rowAwaitsSend_)
        rowNote_ = text;
}

void CaptureRecorder::NoteAppended(const QString& text)
{
    if (rowHeld_ >= 0)
        held_[size_t(rowHeld_)].note += text;
    else if (rowAwaitsSend_)
        rowNote_ += text;
}
