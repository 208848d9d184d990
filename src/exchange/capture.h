// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recording of the exchange to a capture file that Wireshark reads: every datagram the program
// sends or receives, as an IPv4/UDP packet with its real addresses and ports, time-stamped to
// the microsecond, with the note of its trace row as the packet's comment.
//
// Every packet goes to the file (pcapng.h) as soon as it is complete, with one write, so a
// crash loses at most the datagram whose note was still being built.

#include "exchange/datagramtap.h"
#include "exchange/pcapng.h"
#include "exchange/tracelog.h"

#include <QFile>
#include <QObject>
#include <QStringEncoder>
#include <QTimer>
#include <vector>

class QDateTime;

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
