#pragma once
// Recording of the exchange to a capture file that Wireshark reads: every datagram the program
// sends or receives, as an IPv4/UDP packet with its real addresses and ports, time-stamped to
// the microsecond, with the note of its trace row as the packet's comment.
//
// The file is pcapng: a section header, one interface description (link type IPv4, so no
// link-layer header is made up; time stamps in microseconds), then one enhanced packet block
// per datagram. Every block goes to the file as soon as it is complete, with one write, so a
// crash loses at most the datagram whose note was still being built.

#include "exchange/datagramtap.h"
#include "exchange/tracelog.h"

#include <QFile>
#include <QObject>
#include <QStringEncoder>
#include <QTimer>
#include <vector>

class QDateTime;

namespace capture
{

// The addresses and ports of one datagram, IPv4 addresses as numbers (127.0.0.1 = 0x7F000001).
struct UdpEnds {
    quint32 sourceAddress = 0;
    quint16 sourcePort = 0;
    quint32 destinationAddress = 0;
    quint16 destinationPort = 0;
};

// Microseconds since 1970-01-01 00:00:00 UTC, now.
qint64 NowMicroseconds();

} // namespace capture

class PcapngWriter
{
public:
    static constexpr quint16 LinkTypeIpv4 = 228;
    static constexpr int IpHeaderSize = 20;
    static constexpr int UdpHeaderSize = 8;

    PcapngWriter();

    // Creates (or empties) the file and writes the section header and the interface
    // description. False with the file system's message when that fails.
    bool Open(const QString& path, QString* error);
    void Close();
    bool IsOpen() const { return file_.isOpen(); }
    QString FileName() const { return file_.fileName(); }

    // Adds one packet to what the next Flush writes: the datagram as an IPv4/UDP packet between
    // the given ends, at the given time, with the comment (none when empty).
    void Append(qint64 microseconds, const capture::UdpEnds& ends, const QByteArray& datagram,
                const QString& comment);
    // Writes what was appended, in one write. False with the message when the file refuses.
    bool Flush(QString* error);

private:
    uchar* Grow(int bytes); // room for bytes more at the end of the buffer, zero-filled
    qsizetype BeginBlock(quint32 type);
    void EndBlock(qsizetype start); // both lengths of the block that began at start
    void PutOption(quint16 code, const char* value, int length);
    void PutComment(const QString& comment);
    bool WriteAll(QString* error);

    QFile file_;
    QByteArray buffer_;
    QStringEncoder utf8_{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    quint16 ipIdentification_ = 0;
};

// Feeds a capture file from the trace (rows and notes, whether or not the trace is switched
// on) and from the sockets' taps (the datagrams with their addresses). A datagram is written
// when the notes of its trace row are complete: when the trace begins its next row, 100 ms after
// the datagram, or when the recording stops, whichever comes first.
class CaptureRecorder : public QObject, public TraceObserver, public DatagramTap
{
    Q_OBJECT
public:
    static constexpr int HoldInterval = 100;

    explicit CaptureRecorder(TraceLog& trace, QObject* parent = nullptr);
    ~CaptureRecorder() override;

    // Starts recording into the file (created or emptied). The message for the operator when it
    // cannot be created or written; recording is off then.
    QString Start(const QString& path);
    // Writes what is held and closes the file.
    void Stop();
    bool Recording() const { return writer_.IsOpen(); }
    QString FileName() const { return writer_.FileName(); }
    quint64 PacketsWritten() const { return written_; }

    // "trace-2026-12-09-14-05-09.pcapng": the file name proposed for a recording started then.
    static QString ProposedName(const QDateTime& at);

    // A datagram with its ends known: what the taps and programs without sockets of their own
    // record. traced as for DatagramTap.
    void Record(Way way, const capture::UdpEnds& ends, const TPacket& datagram, bool traced);

    // DatagramTap.
    void Datagram(const QUdpSocket& socket, Way way, const QHostAddress& peer, quint16 peerPort,
                  const TPacket& datagram, bool traced) override;
    // TraceObserver.
    void RowAdded(const QString& direction, const TPacket& packet) override;
    void NoteWritten(const QString& text) override;
    void NoteAppended(const QString& text) override;

signals:
    void recordingChanged(bool on);
    // The file could not be written; recording has stopped. Delivered from the event loop, not
    // from inside the exchange that was being recorded.
    void failed(const QString& message);

private:
    struct Held {
        qint64 microseconds = 0;
        capture::UdpEnds ends;
        TPacket datagram;
        QString note;
    };
    // Writes the first count held datagrams and forgets them.
    void WriteHeld(size_t count);
    void WriteAllHeld();
    void Fail(const QString& error);
    void Reset();
    // The address the system sends from to reach destination (for a socket bound to any).
    quint32 SourceFor(quint32 destination);

    TraceLog& trace_;
    PcapngWriter writer_;
    QTimer hold_;
    std::vector<Held> held_;
    int rowHeld_ = -1;     // held datagram on the trace's newest row
    int awaitingRow_ = -1; // held received datagram whose trace row comes next
    // A row traced before its datagram goes out, and the notes written to it meanwhile.
    bool rowAwaitsSend_ = false;
    TPacket rowDatagram_;
    QString rowNote_;
    quint64 written_ = 0;
    quint32 routeDestination_ = 0, routeSource_ = 0;
};
