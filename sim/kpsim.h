#pragma once
// The simulated controlled point: an Ethernet-to-CAN adapter on one UDP socket and the function
// blocks behind it on the CAN bus. It plays the adapter's side of the exchange with the
// configurator: announcements, link start, receipts and transmission reports for numbered
// requests, its own numbered data datagrams carrying the blocks' replies, and the program's
// receipts for them.
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
#include <memory>
#include <optional>
#include <span>
#include <vector>

class QUdpSocket;

namespace kpsim
{

struct BlockSpec {
    BlockType type = BlockType::Ts;
    uint8_t address = 0;
    QByteArray versionText; // empty: the type's default
};

// Faults of the adapter and the bus; every field may be changed while the simulator runs.
struct Faults {
    int dropReceipts = 0;              // the next N receipts are lost (counts down)
    bool dropAllReceipts = false;      // every receipt is lost
    bool wrongReceiptSequence = false; // receipts carry the request's number minus 1
    int dropReplies = 0;               // the next N block datagrams are lost (counts down)
    bool dropAllReplies = false;       // every block datagram is lost
    int replyDelayMs = 0;              // block datagrams leave this many ms after the request
    bool silent = false;               // the adapter sends nothing at all
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
    Faults faults;
};

// Counters of the exchange, from the simulator's side.
struct Counters {
    int datagramsReceived = 0;
    int keepAlives = 0;
    int requests = 0;         // numbered requests from the program
    int ignored = 0;          // datagrams the adapter does not understand
    int dataSent = 0;         // the simulator's own numbered data datagrams
    int receiptsReceived = 0; // the program's receipts 82 01 seq
    int receiptsExpected = 0; // ... whose number is that of a datagram not yet acknowledged
};

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

    // Blocks on the bus.
    SimBlock& addBlock(const BlockSpec& spec); // replaces a block of the same type and address
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

private:
    void readDatagrams();
    void handle(const QByteArray& d);
    void handleLinkMessage(const QByteArray& d);
    void handleRequest(const QByteArray& d);
    void handleProgramReceipt(uint8_t sequence);
    void handleServiceRecord(uint8_t subFunction, std::span<const uint8_t> data);
    void answerKeepAlive();
    void sendAdapterReceipt(uint8_t sequence);
    // Block replies and announcements, subject to the reply faults.
    void sendBlockDatagram(const QByteArray& records);
    bool send(const QByteArray& d);

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
};

} // namespace kpsim
