// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulated controlled point: an Ethernet-to-CAN adapter on one UDP socket and the function
// blocks behind it on the CAN bus. It plays the adapter's side of the exchange with the
// configurator: announcements, link start, receipts and transmission reports for numbered
// requests, its own numbered data datagrams carrying the blocks' replies, and the program's
// receipts for them.
//
// The blocks answer the configuration service and keep what is written to them (simblock.h):
// announcements on the query, version area, parameter records, diagnostics, block memory with
// firmware and loader programming, calibration record and interlock logic; each block may be
// given faults of its own.
//
// The blocks also live: telesignal blocks report input states, change events with an archive
// and integral counters; measurement blocks report readings with time stamps; telecontrol
// blocks answer select and execute commands, switch relays (optionally wired to telesignal
// inputs), report diagnostics and interlock states. Records sent unasked go out at the rates
// of the options, several to a datagram, only after the link start.
//
// Everything runs on the event loop of the thread the object lives on. The simulator answers
// only the address and port it last heard the program from; it sends nothing before that.

#include "simblock.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class QTimer;
class QUdpSocket;
struct CanRecord;

namespace kpsim
{

struct BlockSpec {
    BlockType type = BlockType::Ts;
    uint8_t address = 0;
    QByteArray versionText; // empty: the type's default
};

// What the command line sets on one block beyond its type, address and version text, applied
// as the block is added. In-process the block's own state (KpSim::block) is set directly.
struct BlockSetup {
    BlockType type = BlockType::Ts;
    uint8_t address = 0;
    QList<std::pair<int, QByteArray>> record;          // parameter record bytes by offset, in order
    std::optional<std::array<uint8_t, 8>> diagnostics; // the diagnostics reply
    std::optional<Calibration> calibration;
    bool unclosedInterlock = false; // SimBlock::UnclosedInterlock at 0x8000
    bool silent = false;
    BlockFaults faults;
    uint32_t stuckInputs = 0; // SimBlock::stickInputs
};

// Faults of the adapter and the bus; every field may be changed while the simulator runs.
struct Faults {
    int dropReceipts = 0;              // the next N receipts are lost (counts down)
    bool dropAllReceipts = false;      // every receipt is lost
    bool wrongReceiptSequence = false; // receipts carry the request's number minus 1
    // The receipt of the nth request (from now) whose first record has the sub-function is
    // lost; the request itself reaches the block, and so does the copy the program sends again.
    std::vector<SilentAt> dropReceiptAt;
    // Block replies: configuration replies, announcements, telecontrol and archive answers.
    // Records the blocks send unasked are not affected.
    int dropReplies = 0;         // the next N block replies are lost (counts down)
    bool dropAllReplies = false; // every block reply is lost
    int replyDelayMs = 0;        // block replies leave this many ms after the request
    bool silent = false;         // the adapter sends nothing at all
};

// Kinds of records the blocks send unasked, one timer each.
enum class Live : uint8_t {
    TsStates,      // a state record of every telesignal block
    TsEvents,      // one input change of a telesignal block not wired to relays, in turn
    TitReadings,   // time stamp and readings of every measurement block
    TiiCounters,   // the reported counters of every telesignal block
    Interlocks,    // interlock states of every telecontrol block
    TuDiagnostics, // diagnostics of every telecontrol block
};
constexpr int LiveCount = 6;

// Rounds per second of each kind; 0 sends none.
struct Rates {
    double tsStates = 0;
    double tsEvents = 0;
    double titReadings = 0;
    double tiiCounters = 0;
    double interlocks = 0;
    double tuDiagnostics = 0;

    double of(Live kind) const;
    double& of(Live kind);
};

// Relay k of the telecontrol block drives input k of the telesignal block.
struct Wiring {
    uint8_t tu = 0;
    uint8_t ts = 0;
    // Normally open: the input reads 0 at rest and 1 while the relay is on. Normally closed:
    // 1 at rest, 0 while on.
    bool normallyClosed = false;
};

// Result status of telecontrol blocks, applied to each block as it is added; later items win.
struct TuAnswer {
    int address = -1; // -1: every telecontrol block
    int relay = 0;    // 1..32; 0: every relay
    uint8_t status = 0;
};

struct RelayRef {
    uint8_t address = 0;
    int relay = 1; // 1..32
};

struct Options {
    QHostAddress bindAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 9720;      // 0: the system chooses (see KpSim::localPort)
    uint8_t versionMajor = 3; // 4 marks an adapter that takes a CAN mode message
    uint8_t versionMinor = 2;
    QByteArray text = "KpSim adapter"; // announcement text, single-byte characters
    std::array<uint8_t, 6> mac{0x02, 0x00, 0x00, 0x00, 0x09, 0x72};
    std::array<uint8_t, 4> heldAddress{127, 0, 0, 1}; // IPv4 address the adapter holds
    // Before the link start each keep-alive is answered with an address request followed by
    // the connection request (otherwise with the connection request alone).
    bool addressRequestOnKeepAlive = false;
    // After the link start keep-alives are still answered with connection requests, so a
    // program that lost the link can open it again.
    bool relinkOnKeepAlive = false;
    QList<BlockSpec> blocks;
    QList<BlockSetup> setups; // at most one per block
    Faults faults;

    // Live data. Everything unasked is off by default.
    Rates rates;
    uint32_t seed = 1;    // inputs, readings, counters and events are drawn from it
    int titChannels = 16; // measurement channels reported per block, 1..32
    int tiiChannels = 8;  // counters reported per telesignal block, 0..32
    QList<Wiring> wiring; // may be changed at run time through setWiring
    QList<TuAnswer> tuAnswers;
    bool tuNoReady = false;  // telecontrol blocks answer no select
    bool tuNoResult = false; // telecontrol blocks answer no execute
    int relayHoldMs = 200;
    uint8_t tuDiagnosticsForm = 0x02; // 0x02 or 0x08
    QList<RelayRef> faultyRelays;     // relays that switch but drive no input
    // A burst writes this many datagrams per turn of the event loop, then pauses.
    int burstSlice = 32;
    int burstPauseMs = 1;
    int burstOnLinkStart = 0; // datagrams of a burst started by the first link start
};

// Counters of the exchange, from the simulator's side.
struct Counters {
    int datagramsReceived = 0;
    int keepAlives = 0;
    int requests = 0;         // numbered requests from the program
    int ignored = 0;          // datagrams the adapter does not understand
    int dataSent = 0;         // the simulator's own numbered data datagrams, as written
    int receiptsReceived = 0; // the program's receipts 82 01 seq
    int receiptsExpected = 0; // ... whose number is that of a datagram not yet acknowledged
    int liveSent = 0;         // data datagrams holding records sent unasked (bursts included)
    int burstSent = 0;        // data datagrams written by bursts
    int serviceStarts = 0;    // service start notices (broadcast 01 18 80 05)
    int serviceEnds = 0;      // service end notices (broadcast 01 18 80 04)
    std::array<int, RecordKindCount> records{}; // records written, by RecordKind

    int recordsOf(RecordKind kind) const { return records[size_t(kind)]; }
};

// Real adapters pack several CAN frames into one datagram; a handful keeps datagrams short.
constexpr size_t MaxRecordsPerDatagram = 6;

class KpSim : public QObject
{
    Q_OBJECT
public:
    explicit KpSim(Options options = {}, QObject* parent = nullptr);
    ~KpSim() override;

    // Binds the socket. False with a message when the address or port cannot be bound.
    bool start(QString* error = nullptr);
    quint16 localPort() const;

    const Options& options() const { return options_; }
    Faults& faults() { return options_.faults; }

    // Blocks on the bus. A block added gets the setup of options().setups that names it.
    SimBlock& addBlock(const BlockSpec& wanted); // replaces a block of the same type and address
    bool removeBlock(BlockType type, uint8_t address);
    SimBlock* block(BlockType type, uint8_t address);
    const std::vector<std::unique_ptr<SimBlock>>& blocks() const { return blocks_; }

    // The program as last heard; null until the first datagram.
    QHostAddress peerAddress() const { return peerAddress_; }
    quint16 peerPort() const { return peerPort_; }

    // Link state set by the program's link start message.
    bool linkStarted() const { return linkStarted_; }
    int canChannel() const { return canChannel_; }
    char bitRate() const { return bitRate_; } // 'M' 500 kbit/s, 'S' 50 kbit/s, 0 not given
    // Forgets the link start: keep-alives are answered again.
    void resetLink();
    // Takes over a link another peer started (a replay that goes on as the simulator): the
    // program at `peer`:`port` on CAN channel `channel`; then handles `datagram` as received.
    void takeOverLink(const QHostAddress& peer, quint16 port, int channel,
                      const QByteArray& datagram);

    // Announcements to the program; false when no program has been heard yet.
    bool sendAddressRequest();
    bool sendConnectionRequest();

    // Sends a numbered data datagram on the link's CAN channel holding the given CAN frame
    // records. Returns its sequence number, or -1 when nothing was sent.
    int sendData(const QByteArray& records);

    const Counters& counters() const { return counters_; }
    uint8_t nextSequence() const { return sequence_; }
    // Number of the latest data datagram the program has not acknowledged, or -1.
    int lastUnacknowledged() const;
    int unacknowledgedCount() const { return int(unacknowledged_.size()); }

    QByteArray lastAddressReply() const { return lastAddressReply_; }
    std::optional<uint32_t> lastClockSetting() const { return lastClock_; }

    // The controlled point's clock: local time in milliseconds since 1970 with no zone shift,
    // moved by the program's clock setting. The source may be replaced (tests fix it); that
    // forgets the clock setting.
    void setClockSource(std::function<qint64()> localMsSince1970);
    Stamp now() const;

    // Live data. The timers run while the socket is bound; before the link start a round
    // neither sends nor changes anything. Changing the rates restarts the timers.
    const Rates& rates() const { return options_.rates; }
    void setRates(const Rates& rates);
    // One round of a kind now, as its timer sends it. False when nothing was written.
    bool sendRound(Live kind);

    // Sets input 1..32 of a telesignal block and files the change in its archive; the change
    // event and the block's state record go out together when the link is up. False when
    // there is no such block or input.
    bool setInput(uint8_t tsAddress, int input, bool value);
    bool setDoublePoint(uint8_t tsAddress, int input, bool value, bool second);

    // Relays wired to telesignal inputs. Setting the wiring puts the wired inputs at rest.
    const QList<Wiring>& wiring() const { return options_.wiring; }
    void setWiring(const QList<Wiring>& wiring);

    // Sends count data datagrams of mixed telemetry (states, events, readings, counters) as
    // fast as the socket takes them, a slice per turn of the event loop; burstFinished tells
    // how many were written. False when the link is not up, no block has telemetry or a burst
    // is already running.
    bool sendBurst(int count);
    bool burstRunning() const { return burstLeft_ > 0; }
    void stopBurst();

    // Datagram builders, exposed for the tests of the program.
    QByteArray connectionRequestBytes() const;
    QByteArray addressRequestBytes() const;

signals:
    void keepAliveReceived();
    void linkStartReceived(int channel, char bitRate);
    void addressReplyReceived(const QByteArray& reply);
    void requestReceived(const QByteArray& request);
    void receiptReceived(int sequence, bool expected);
    void clockSet(uint32_t seconds);
    void ignoredDatagram(const QByteArray& datagram);
    void datagramSent(const QByteArray& datagram);
    void datagramReceived(const QByteArray& datagram); // from the program, as peerAddress()
    void telecontrolSelected(int address, int relay);  // relay 1..256 as commanded
    void telecontrolExecuted(int address, int relay, int status); // relay 0: none selected
    void relaySwitched(int address, int relay, bool on);
    void archiveRequested(int address, int position);
    void counterPreset(int address, int channel, uint32_t value); // channel 1..32
    void burstFinished(int sent);
    // The block service, by the block's configuration function byte (0xC4, 0xC8, 0xC2) and
    // address: a configuration write end replaced the parameter record; a firmware completion
    // (0x0A) made the programmed firmware the running one; a completion (0x03) was answered.
    void configurationWritten(int function, int address);
    void firmwareCompleted(int function, int address);
    void completionReceived(int function, int address);

private:
    void readDatagrams();
    void handle(const QByteArray& d);
    void handleLinkMessage(const QByteArray& d);
    void handleRequest(const QByteArray& d);
    void handleProgramReceipt(uint8_t sequence);
    void handleServiceRecord(uint8_t subFunction, std::span<const uint8_t> data);
    void answerKeepAlive();
    void sendAdapterReceipt(uint8_t sequence, int sub);
    // Block replies and announcements, subject to the reply faults.
    void sendBlockDatagram(const QByteArray& records, std::vector<RecordKind> kinds = {});
    bool send(const QByteArray& d);

    // Live data (livedata.cpp).
    struct Out {
        RecordKind kind;
        QByteArray bytes;
    };
    using Outs = std::vector<Out>;
    void applySetup(SimBlock& block);
    void afterService(const SimBlock& block, uint8_t subFunction, int writesBefore);
    void prepareBlock(SimBlock& block);
    void startLiveTimers();
    bool liveAllowed() const;
    Outs roundRecords(Live kind);
    Outs eventRound(uint32_t round);
    Outs readingsRound();
    Outs eventRecords(SimBlock& ts, const TsEvent& event);
    // Packs records into data datagrams, several to each; false when any was not written.
    bool sendLive(const Outs& records);
    int sendCounted(const QByteArray& records, const std::vector<RecordKind>& kinds);
    bool handleLiveRecord(const CanRecord& rec);
    void handleSelect(SimBlock& tu, uint8_t relayIndex);
    void handleExecute(SimBlock& tu);
    void switchRelay(SimBlock& tu, int relay, bool on);
    void handleArchiveRequest(SimBlock& ts, uint8_t position);
    void afterCounterPreset(SimBlock& ts, std::span<const uint8_t> data);
    void burstStep();
    Outs nextBurstRecords();
    std::vector<SimBlock*> blocksOf(BlockType type);
    void putWiredInputsAtRest();

    Options options_;
    QUdpSocket* socket_ = nullptr;
    std::vector<std::unique_ptr<SimBlock>> blocks_;
    QHostAddress peerAddress_;
    quint16 peerPort_ = 0;
    bool linkStarted_ = false;
    int canChannel_ = 0;
    char bitRate_ = 0;
    uint8_t sequence_ = 0;
    std::deque<uint8_t> unacknowledged_;
    Counters counters_;
    QByteArray lastAddressReply_;
    std::optional<uint32_t> lastClock_;

    std::function<qint64()> clockSource_;
    qint64 clockOffsetMs_ = 0;
    std::array<QTimer*, LiveCount> liveTimers_{};
    std::array<uint32_t, LiveCount> rounds_{};
    QTimer* burstTimer_ = nullptr;
    bool burstOnLinkDone_ = false;
    int burstLeft_ = 0;
    int burstWritten_ = 0;
    uint32_t burstTurn_ = 0;
    Outs burstPending_; // records of a datagram whose write failed, tried again next slice
};

} // namespace kpsim
