// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Plays the adapter's side of a recorded exchange to a program. The program's first datagram
// starts the clock: the adapter's own datagrams go out at their recorded times from then
// (divided by the speed). Each numbered request of the program is compared with the next one
// recorded, from byte 3 on (byte 0's channel and byte 2's number are the program's own; a clock
// setting is compared without its time); on a match the recorded answers follow at their
// recorded delays, the receipt and the transmission report carrying the program's number. The
// program's keep-alives, link messages and receipts are taken without comparing. A request
// the recording does not have next, or none within the recorded pause and 10 s more, is a
// divergence: it is told, and the replay then either falls silent or goes on as the ordinary
// simulator with the blocks the recording showed.
//
// The replay ends by itself 1 s after the last recorded request was matched and the last
// datagram played, or 3 s after the program's last datagram once it fell silent.

#include "kpsim.h"
#include "replayscript.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

class QUdpSocket;

namespace replay
{

class Replayer : public QObject
{
    Q_OBJECT
public:
    static constexpr int GraceMs = 10000;    // beyond the recorded pause before a request
    static constexpr int LingerMs = 1000;    // after the end, for a request too many
    static constexpr int SilentEndMs = 3000; // after a divergence, from the program's last word

    struct Settings {
        double speed = 1;
        bool thenSimulate = false;
        kpsim::Options simulator; // where to listen; the simulator's options after a divergence
    };

    Replayer(Script script, Settings settings, QObject* parent = nullptr);
    ~Replayer() override;

    bool start(QString* error);
    quint16 localPort() const;

    // Where the exchange diverged and what was sent and received, as it happens.
    std::function<void(const QString&)> Tell;

    int played() const { return played_; }
    int matched() const { return matched_; }
    int divergences() const { return divergences_; }
    // 0 when every recorded request came as recorded and nothing else did; 1 otherwise.
    int exitCode() const;
    QString Summary() const;

signals:
    void finished(int exitCode);

private:
    void readDatagrams();
    void fromProgram(const QByteArray& d);
    void request(const QByteArray& d);
    void diverge(const QString& recorded, const QString& received, const QByteArray& d);
    void simulate(const QByteArray& d);
    void schedule(qint64 atUs, const QByteArray& bytes);
    void sendDue();
    void armNext();
    void armRequestWait();
    void checkEnd();
    void finish();
    qint64 nowUs() const { return clock_.nsecsElapsed() / 1000; }
    qint64 scaled(qint64 recordedUs) const { return qint64(double(recordedUs) / settings_.speed); }

    Script script_;
    Settings settings_;
    QUdpSocket* socket_ = nullptr;
    QHostAddress peer_;
    quint16 peerPort_ = 0;
    QElapsedTimer clock_; // from the program's first datagram
    int nextSpontaneous_ = 0;
    std::multimap<qint64, QByteArray> answers_; // due time (µs on clock_) -> datagram
    QTimer next_;                               // the next datagram due
    QTimer requestWait_;                        // the next recorded request overdue
    QTimer end_;                                // the end: linger, or silence after a divergence
    int nextRequest_ = 0;
    QByteArray lastRequest_; // the program's latest request, to know a repetition
    bool diverged_ = false;
    bool done_ = false;
    int played_ = 0, matched_ = 0, divergences_ = 0;
    std::unique_ptr<kpsim::KpSim> simulator_;
};

} // namespace replay
