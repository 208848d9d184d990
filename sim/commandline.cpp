// SPDX-License-Identifier: GPL-3.0-or-later
// kp-sim's command line: every option a row of a table, applied in the table's order.

#include "commandline.h"

#include "optionparsing.h"
#include "sampleimage.h"
#include "support/cp1251.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <limits>

namespace kpsim
{

namespace
{

using Apply = std::function<QString(const QString& value, CommandLine& cl)>;

OptionRow Row(const char* name, const char* help, const char* value, Apply apply,
              const char* defaultValue = nullptr)
{
    return OptionRow{name, help, value, defaultValue, std::move(apply), false};
}

OptionRow Switch(const char* name, const char* help, std::function<void(Options&)> set)
{
    return Row(name, help, nullptr, [set](const QString&, CommandLine& cl) {
        set(cl.options);
        return QString();
    });
}

// A whole number within limits, handed to `set`.
OptionRow IntegerRow(const char* name, const char* help, const char* value, int min, int max,
                     std::function<void(Options&, int)> set)
{
    return Row(name, help, value, [=](const QString& v, CommandLine& cl) {
        const auto n = Number(v, min, max);
        if (!n)
            return QStringLiteral("must be %1..%2").arg(min).arg(max);
        set(cl.options, *n);
        return QString();
    });
}

OptionRow RateRow(const char* name, const char* help, Live kind)
{
    return Row(name, help, "rate", [kind](const QString& v, CommandLine& cl) {
        bool ok = false;
        const double r = v.trimmed().toDouble(&ok);
        if (!ok || !(r >= 0 && r <= 1000))
            return QStringLiteral("must be 0..1000 per second");
        cl.options.rates.of(kind) = r;
        return QString();
    });
}

// A list read by one of the list readers, handed to `set`.
template <typename T>
OptionRow ListRow(const char* name, const char* help,
                  std::optional<QList<T>> (*read)(const QString&, QString*),
                  std::function<void(Options&, const QList<T>&)> set)
{
    return Row(name, help, "list", [=](const QString& v, CommandLine& cl) {
        QString error;
        const auto list = read(v, &error);
        if (list)
            set(cl.options, *list);
        return error;
    });
}

template <size_t N>
bool ParseBytes(const QString& text, QChar separator, int base, std::array<uint8_t, N>& out)
{
    const QStringList parts = text.split(separator);
    if (parts.size() != int(N))
        return false;
    for (size_t i = 0; i < N; ++i) {
        bool ok = false;
        const uint v = parts[int(i)].toUInt(&ok, base);
        if (!ok || v > 255 || parts[int(i)].isEmpty())
            return false;
        out[i] = uint8_t(v);
    }
    return true;
}

QString ApplyBind(const QString& v, CommandLine& cl)
{
    const QHostAddress a(v);
    if (a.isNull() || a.protocol() != QAbstractSocket::IPv4Protocol)
        return QStringLiteral("bind address must be IPv4");
    if (!a.isLoopback() && !cl.given.contains(QStringLiteral("allow-any")))
        return QStringLiteral("bind address is outside loopback; add --allow-any to use it");
    cl.options.bindAddress = a;
    return QString();
}

QString ApplyVersion(const QString& v, CommandLine& cl)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})$"));
    const auto m = re.match(v);
    const auto major = m.hasMatch() ? Number(m.captured(1), 0, 255) : std::nullopt;
    const auto minor = m.hasMatch() ? Number(m.captured(2), 0, 255) : std::nullopt;
    if (!major || !minor)
        return QStringLiteral("adapter version must read major.minor");
    cl.options.versionMajor = uint8_t(*major);
    cl.options.versionMinor = uint8_t(*minor);
    return QString();
}

QString ApplyKm4(const QString&, CommandLine& cl)
{
    if (cl.given.contains(QStringLiteral("adapter-version")) && cl.options.versionMajor != 4)
        return QStringLiteral("needs adapter version major 4");
    cl.options.versionMajor = 4;
    return QString();
}

QList<OptionRow> AdapterRows()
{
    return {
        Row(
            "port", "UDP port (9720).", "port",
            [](const QString& v, CommandLine& cl) {
                const auto n = Number(v, 0, 65535);
                if (n)
                    cl.options.port = quint16(*n);
                return n ? QString() : QStringLiteral("port must be 0..65535");
            },
            "9720"),
        Row("bind", "IPv4 address to bind (127.0.0.1).", "address", ApplyBind, "127.0.0.1"),
        Switch("allow-any", "Allow a bind address outside loopback.", [](Options&) {}),
        Row("adapter-version", "Adapter version major.minor (3.2).", "major.minor", ApplyVersion),
        Row("km4", "Version 4 adapter taking a CAN mode message.", nullptr, ApplyKm4),
        Row("text", "Announcement text (Latin-1).", "text",
            [](const QString& v, CommandLine& cl) {
                cl.options.text = v.toLatin1();
                return QString();
            }),
        Row("mac", "Adapter MAC, six hex pairs joined by ':'.", "mac",
            [](const QString& v, CommandLine& cl) {
                return ParseBytes(v, QLatin1Char(':'), 16, cl.options.mac)
                           ? QString()
                           : QStringLiteral("MAC must read six hex pairs joined by ':'");
            }),
        Row("held-ip", "IPv4 address the adapter reports holding.", "address",
            [](const QString& v, CommandLine& cl) {
                return ParseBytes(v, QLatin1Char('.'), 10, cl.options.heldAddress)
                           ? QString()
                           : QStringLiteral("held address must read a.b.c.d");
            }),
        ListRow<BlockSpec>("blocks", "Blocks on the bus, e.g. ts:0,tu:1,tit:2.", ParseBlocks,
                           [](Options& o, const QList<BlockSpec>& l) { o.blocks = l; }),
        Switch("address-request", "Answer keep-alives with an address request too.",
               [](Options& o) { o.addressRequestOnKeepAlive = true; }),
        Switch("relink", "Keep answering keep-alives after the link start.",
               [](Options& o) { o.relinkOnKeepAlive = true; }),
    };
}

QList<OptionRow> FaultRows()
{
    OptionRow receiptAt =
        Row("drop-receipt-at",
            "Lose the receipt of the Nth request with the sub-function (hex), counted from the "
            "start; the block takes the request, and the copy the program sends again. E.g. 05:99 "
            "(the 99th memory write). May be given more than once.",
            "sub:n", [](const QString& v, CommandLine& cl) {
                const auto at = SubAndCount(v);
                if (at)
                    cl.options.faults.dropReceiptAt.push_back({at->first, at->second});
                return at ? QString() : QStringLiteral("must read sub:n, sub hex 00..ff, n from 1");
            });
    receiptAt.each = true;
    return {
        IntegerRow("drop-receipts", "Lose the next N receipts.", "n", 0, 1 << 30,
                   [](Options& o, int n) { o.faults.dropReceipts = n; }),
        receiptAt,
        Switch("drop-all-receipts", "Lose every receipt.",
               [](Options& o) { o.faults.dropAllReceipts = true; }),
        Switch("wrong-receipt-seq", "Receipts carry the request's number minus 1.",
               [](Options& o) { o.faults.wrongReceiptSequence = true; }),
        IntegerRow("drop-replies", "Lose the next N block replies.", "n", 0, 1 << 30,
                   [](Options& o, int n) { o.faults.dropReplies = n; }),
        Switch("drop-all-replies", "Lose every block reply.",
               [](Options& o) { o.faults.dropAllReplies = true; }),
        IntegerRow("reply-delay", "Delay block replies by MS milliseconds.", "ms", 0, 3600000,
                   [](Options& o, int n) { o.faults.replyDelayMs = n; }),
        Switch("silent", "The adapter answers nothing at all.",
               [](Options& o) { o.faults.silent = true; }),
    };
}

QList<OptionRow> LiveRows()
{
    return {
        Switch("quiet", "Send nothing unasked except the rates given explicitly.",
               [](Options& o) { o.rates = Rates{}; }),
        RateRow("ts-rate", "Telesignal state rounds per second (0.5).", Live::TsStates),
        RateRow("event-rate", "Telesignal changes per second (0.25).", Live::TsEvents),
        RateRow("tit-rate", "Measurement rounds per second (1).", Live::TitReadings),
        RateRow("tii-rate", "Counter rounds per second (0.2).", Live::TiiCounters),
        RateRow("interlock-rate", "Interlock state rounds per second (0.2).", Live::Interlocks),
        RateRow("diag-rate", "Telecontrol diagnostics rounds per second (0.1).",
                Live::TuDiagnostics),
        IntegerRow("seed", "Seed of inputs, readings and counters (1).", "n", 0,
                   std::numeric_limits<int>::max(),
                   [](Options& o, int n) { o.seed = uint32_t(n); }),
        IntegerRow("tit-channels", "Measurement channels reported per block, 1..32 (16).", "n", 1,
                   32, [](Options& o, int n) { o.titChannels = n; }),
        IntegerRow("tii-channels", "Counters reported per telesignal block, 0..32 (8).", "n", 0, 32,
                   [](Options& o, int n) { o.tiiChannels = n; }),
        IntegerRow("burst", "After the link start send N telemetry datagrams as fast as possible.",
                   "n", 0, 1 << 30, [](Options& o, int n) { o.burstOnLinkStart = n; }),
        IntegerRow("burst-slice", "Burst datagrams written between pauses (32).", "n", 1, 100000,
                   [](Options& o, int n) { o.burstSlice = n; }),
        IntegerRow("burst-pause", "Pause between burst slices (1 ms).", "ms", 0, 60000,
                   [](Options& o, int n) { o.burstPauseMs = n; }),
    };
}

QList<OptionRow> TelecontrolRows()
{
    return {
        ListRow<Wiring>("wire",
                        "Relays of a telecontrol block drive the inputs of a telesignal block, "
                        "e.g. 0:0 or 0:0:nc (normally closed contacts).",
                        ParseWiring, [](Options& o, const QList<Wiring>& l) { o.wiring = l; }),
        ListRow<RelayRef>("faulty-relay", "Relays that switch but drive no input, e.g. 0:5.",
                          ParseRelays,
                          [](Options& o, const QList<RelayRef>& l) { o.faultyRelays = l; }),
        ListRow<TuAnswer>("tu-status",
                          "Telecontrol result status: 6 (all), 1=6 (block 1), 1:5=6 (relay 5 of "
                          "block 1).",
                          ParseTuAnswers,
                          [](Options& o, const QList<TuAnswer>& l) { o.tuAnswers = l; }),
        Switch("tu-silent", "Telecontrol blocks answer no command.",
               [](Options& o) { o.tuNoReady = o.tuNoResult = true; }),
        Switch("tu-no-result", "Telecontrol blocks get ready but report no result.",
               [](Options& o) { o.tuNoResult = true; }),
        IntegerRow("relay-hold",
                   "A switched relay releases after MS milliseconds, 0 at the next (200).", "ms", 0,
                   3600000, [](Options& o, int n) { o.relayHoldMs = n; }),
        Row("tu-diag-form", "Telecontrol diagnostics form, 2 or 8 (2).", "form",
            [](const QString& v, CommandLine& cl) {
                const auto form = Number(v, 2, 8);
                if (form != 2 && form != 8)
                    return QStringLiteral("must be 2 or 8");
                cl.options.tuDiagnosticsForm = uint8_t(*form);
                return QString();
            }),
        Switch("bench",
               "The module test bench: adds blocks ts:0 and tu:0 and wires relay k of tu:0 to "
               "input k of ts:0 through normally closed contacts (input k reads 0 while relay k "
               "is held).",
               [](Options& o) {
                   for (BlockType t : {BlockType::Ts, BlockType::Tu})
                       if (std::none_of(o.blocks.begin(), o.blocks.end(), [t](const BlockSpec& b) {
                               return b.type == t && b.address == 0;
                           }))
                           o.blocks.append(BlockSpec{t, 0, {}});
                   if (std::none_of(o.wiring.begin(), o.wiring.end(),
                                    [](const Wiring& w) { return w.tu == 0 && w.ts == 0; }))
                       o.wiring.append(Wiring{0, 0, true});
               }),
    };
}

QList<OptionRow> OutputRows()
{
    return {
        Row("write-image",
            "Write a sample firmware image file (60,416 bytes, never a real block's firmware) "
            "and exit.",
            "file",
            [](const QString& v, CommandLine& cl) {
                cl.imagePath = v;
                return QString();
            }),
        Row("image-version",
            "Version text of the sample image at 0x2080, up to 48 characters (TS v1.04 sim).",
            "text",
            [](const QString& v, CommandLine& cl) {
                if (!cl.given.contains(QStringLiteral("write-image")))
                    return QStringLiteral("needs --write-image");
                cl.imageVersion = ToCp1251(v);
                if (cl.imageVersion.isEmpty() || cl.imageVersion.size() > SimBlock::VersionAreaSize)
                    return QStringLiteral("must be 1..48 characters");
                return QString();
            }),
        Row("capture", "Record every datagram sent and received to a pcapng capture file.", "file",
            [](const QString& v, CommandLine& cl) {
                cl.capturePath = v;
                return QString();
            }),
    };
}

QString NeedsReplay(const CommandLine& cl)
{
    return cl.given.contains(QStringLiteral("replay")) ? QString()
                                                       : QStringLiteral("needs --replay");
}

QList<OptionRow> ReplayRows()
{
    return {
        Row("replay",
            "Play the adapter's side of a recorded exchange (pcapng or pcap) to the program that "
            "talks to it, then print a summary; exit 0 when the program's requests matched the "
            "recording throughout.",
            "file",
            [](const QString& v, CommandLine& cl) {
                cl.replayPath = v;
                return cl.given.contains(QStringLiteral("capture"))
                           ? QStringLiteral("not together with --capture")
                           : QString();
            }),
        Row("adapter-port",
            "The adapter's port in the recording (972, or the port the program sends to).", "port",
            [](const QString& v, CommandLine& cl) {
                const auto n = Number(v, 1, 65535);
                if (!n)
                    return QStringLiteral("must be 1..65535");
                cl.replayAdapterPort = quint16(*n);
                return NeedsReplay(cl);
            }),
        Row("speed", "Replay faster (2) or slower (0.5) than recorded (1).", "factor",
            [](const QString& v, CommandLine& cl) {
                bool ok = false;
                cl.replaySpeed = v.trimmed().toDouble(&ok);
                if (!ok || !(cl.replaySpeed >= 0.01 && cl.replaySpeed <= 1000))
                    return QStringLiteral("must be 0.01..1000");
                return NeedsReplay(cl);
            }),
        Row("then-simulate",
            "Where the program leaves the recording, go on as the simulator with the blocks the "
            "recording showed (or --blocks) instead of falling silent.",
            nullptr,
            [](const QString&, CommandLine& cl) {
                cl.thenSimulate = true;
                return NeedsReplay(cl);
            }),
    };
}

QList<OptionRow> AllRows()
{
    return AdapterRows() + FaultRows() + LiveRows() + TelecontrolRows() + BlockOptionRows() +
           OutputRows() + ReplayRows();
}

// Applies every option given (or having a default) in the table's order.
bool ApplyRows(const QCommandLineParser& p, const QList<OptionRow>& rows, CommandLine& cl,
               QString* error)
{
    for (const OptionRow& row : rows) {
        const QString name = QLatin1String(row.name);
        if (p.isSet(name))
            cl.given << name;
    }
    for (const OptionRow& row : rows) {
        const QString name = QLatin1String(row.name);
        if (!p.isSet(name) && !row.defaultValue)
            continue;
        const QStringList values = row.each ? p.values(name) : QStringList{p.value(name)};
        for (const QString& value : values) {
            const QString message = row.apply(value, cl);
            if (!message.isEmpty()) {
                if (error)
                    *error = row.value ? QStringLiteral("--%1: %2: %3").arg(name, message, value)
                                       : QStringLiteral("--%1: %2").arg(name, message);
                return false;
            }
        }
    }
    return true;
}

} // namespace

std::optional<CommandLine> ParseCommandLine(const QStringList& arguments, QString* error)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated controlled point: an Ethernet-to-CAN adapter with its function blocks.\n"
        "Block memory: version text at 0x2080 (inside the running firmware 0x2000-0x7DBF), "
        "firmware written at 0x8000 and copied down by the firmware completion, interlock logic "
        "of telecontrol blocks at 0x8000, loader at 0xEA00, calibration record of measurement "
        "blocks at 0xFC00. Options naming blocks (a list such as ts:0,tu:3 of blocks on the "
        "bus) may be given more than once."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    p.addOption(help);
    const QList<OptionRow> rows = AllRows();
    for (const OptionRow& row : rows)
        p.addOption(OptionOf(row));
    if (!p.parse(arguments)) {
        if (error)
            *error = p.errorText();
        return std::nullopt;
    }
    CommandLine cl;
    if (p.isSet(help)) {
        cl.help = true;
        cl.helpText = p.helpText();
        return cl;
    }
    if (!p.positionalArguments().isEmpty()) {
        if (error)
            *error = QStringLiteral("unexpected argument: %1").arg(p.positionalArguments()[0]);
        return std::nullopt;
    }
    cl.options.rates = DemoRates();
    cl.imageVersion = "TS v1.04 sim";
    if (!ApplyRows(p, rows, cl, error))
        return std::nullopt;
    return cl;
}

} // namespace kpsim
