// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "sampleimage.h"
#include "support/cp1251.h"

#include "support/byteorder.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <algorithm>
#include <functional>
#include <limits>

namespace kpsim
{

namespace
{

std::optional<int> Number(const QString& text, int min, int max)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

std::optional<double> Rate(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !(v >= 0 && v <= 1000))
        return std::nullopt;
    return v;
}

bool Fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
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

bool ParseVersion(const QString& text, Options& o, QString* error)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})$"));
    const auto m = re.match(text);
    const auto major = m.hasMatch() ? Number(m.captured(1), 0, 255) : std::nullopt;
    const auto minor = m.hasMatch() ? Number(m.captured(2), 0, 255) : std::nullopt;
    if (!major || !minor)
        return Fail(error, QStringLiteral("adapter version must read major.minor: %1").arg(text));
    o.versionMajor = uint8_t(*major);
    o.versionMinor = uint8_t(*minor);
    return true;
}

// A whole number, decimal or hexadecimal after 0x.
std::optional<qint64> Integer(const QString& text, qint64 min, qint64 max)
{
    const QString t = text.trimmed();
    bool ok = false;
    const qint64 v = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                         ? t.mid(2).toLongLong(&ok, 16)
                         : t.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

// A list of whole numbers joined by ','; nothing when any is wrong or the count is not allowed.
std::optional<QList<qint64>> Integers(const QString& text, qint64 min, qint64 max)
{
    QList<qint64> list;
    for (const QString& item : text.split(QLatin1Char(','))) {
        const auto v = Integer(item, min, max);
        if (!v)
            return std::nullopt;
        list.append(*v);
    }
    return list;
}

// A sub-function in hexadecimal, with or without 0x: "06", "0x0A".
std::optional<uint8_t> SubFunction(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(?:0[xX])?([0-9A-Fa-f]{1,2})\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return uint8_t(m.captured(1).toUInt(nullptr, 16));
}

std::optional<QByteArray> HexBytes(const QString& text, int maxBytes)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("[\\s:]")));
    static const QRegularExpression re(QStringLiteral("^(?:[0-9A-Fa-f]{2})+$"));
    if (!re.match(digits).hasMatch() || digits.size() > 2 * maxBytes)
        return std::nullopt;
    return QByteArray::fromHex(digits.toLatin1());
}

QByteArray LittleEndian(quint64 value, int width)
{
    QByteArray bytes;
    for (int i = 0; i < width; ++i)
        bytes.append(char(uint8_t(value >> (8 * i))));
    return bytes;
}

// Options that name blocks: "BLOCKS" or "BLOCKS=VALUE", BLOCKS a list like ts:0,tu:3 of blocks
// on the bus. Each may be given more than once.
class BlockOptions
{
public:
    BlockOptions();
    QList<QCommandLineOption> all() const;
    bool apply(const QCommandLineParser& p, Options& o, QString* error) const;

private:
    // Reads an occurrence's value (with a key: "KEY=VALUE") into one named block; an empty
    // text, or the message why the value does not do.
    using Apply = std::function<QString(const QString& value, BlockSpec&, BlockSetup&)>;
    // How an occurrence reads: "BLOCKS", "BLOCKS=VALUE" or "BLOCKS@KEY=VALUE".
    enum class Form { Blocks, Value, KeyValue };
    // Applies every occurrence of the option to each block it names.
    bool each(const QCommandLineParser& p, const QCommandLineOption& option, Form form, Options& o,
              QString* error, const Apply& apply) const;

    QCommandLineOption bench_, version_, record_, param_, diag_, calibration_, unclosed_,
        silentBlock_, silentTo_, silentAt_, noAnnounce_, stuck_;
};

QCommandLineOption Option(const char* name, const char* help, const char* value = nullptr)
{
    return value ? QCommandLineOption(QLatin1String(name), QString::fromUtf8(help),
                                      QLatin1String(value))
                 : QCommandLineOption(QLatin1String(name), QString::fromUtf8(help));
}

BlockOptions::BlockOptions()
    : bench_(Option("bench", "The module test bench: adds blocks ts:0 and tu:0 and wires relay k "
                             "of tu:0 to input k of ts:0 through normally closed contacts (input k "
                             "reads 0 while relay k is held).")),
      version_(Option("block-version",
                      "Version text of blocks, up to 48 characters (code page 1251), e.g. "
                      "ts:0,ts:1=TS v1.02. Defaults: TS v1.03 sim, TIT v1.03 sim, TU v1.03 sim.",
                      "blocks=text")),
      record_(Option("record",
                     "Parameter record of blocks from offset 0, in hex (up to 256 bytes; the "
                     "rest keeps its defaults), e.g. tit:2=0a00040032003c00",
                     "blocks=hex")),
      param_(Option("param",
                    "One field of the parameter record: offset 0..255, width u8, u16 (default) "
                    "or u32, value decimal or 0x hex, little-endian; e.g. tu:3@0=5 (interlock "
                    "mode), tit:2@22:u8=8.",
                    "blocks@offset[:width]=value")),
      diag_(Option("diag",
                   "Diagnostics reply: restart count, transmission repeat count (0..65535), "
                   "optionally the four further bytes (0..255); e.g. ts:0=3,12 or "
                   "tu:3=1,0,222,173,190,239. Default 1,0,0,0,0,0.",
                   "blocks=r,p[,b4,b5,b6,b7]")),
      calibration_(Option("calibration",
                          "Calibration record at 0xFC00 of measurement blocks: zero value, raw "
                          "maximum, raw minimum (signed 32-bit; 81492 shows as 5000), zero zone. "
                          "Default 2048,81492,-81492,5.",
                          "blocks=zero,max,min,zone")),
      unclosed_(Option("unclosed-interlock",
                       "Telecontrol blocks hold at 0x8000 an interlock logic text of more than "
                       "24,000 bytes without its closing \"@\" line.",
                       "blocks")),
      silentBlock_(
          Option("silent-block", "Blocks that answer nothing and send nothing.", "blocks")),
      silentTo_(Option("silent-to",
                       "Blocks never answer requests with these sub-functions (hex), e.g. "
                       "tu:3=06 or ts:0=05,09.",
                       "blocks=sub[,sub]")),
      silentAt_(Option("silent-at",
                       "The Nth request with the sub-function (hex), counted from the start, is "
                       "lost before the block sees it: it is not answered and changes nothing. "
                       "Every request before and after it is answered, so a repeated operation "
                       "succeeds; e.g. ts:0=05:100 (the 100th memory write).",
                       "blocks=sub:n")),
      noAnnounce_(Option("no-announce",
                         "Blocks that do not answer the announcement query but answer all else.",
                         "blocks")),
      stuck_(Option("stuck-input",
                    "Inputs of telesignal blocks that read 0 whatever drives them, e.g. ts:0=5 "
                    "or ts:0=5,7.",
                    "blocks=inputs"))
{
}

QList<QCommandLineOption> BlockOptions::all() const
{
    return {bench_,    version_,     record_,   param_,    diag_,       calibration_,
            unclosed_, silentBlock_, silentTo_, silentAt_, noAnnounce_, stuck_};
}

bool BlockOptions::each(const QCommandLineParser& p, const QCommandLineOption& option, Form form,
                        Options& o, QString* error, const Apply& apply) const
{
    const QString name = QStringLiteral("--") + option.names().constFirst();
    for (const QString& item : p.values(option)) {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const qsizetype at = eq >= 0 ? item.left(eq).indexOf(QLatin1Char('@')) : -1;
        if ((form == Form::Blocks) != (eq < 0) || (form == Form::KeyValue) != (at >= 0))
            return Fail(error,
                        QStringLiteral("%1 must read %2: %3").arg(name, option.valueName(), item));
        const QString list = item.left(at >= 0 ? at : eq);
        const QString value =
            form == Form::Blocks ? QString() : item.mid(at >= 0 ? at + 1 : eq + 1);
        QString message;
        const auto blocks = ParseBlocks(list, &message);
        if (!blocks || blocks->isEmpty())
            return Fail(error, QStringLiteral("%1: %2").arg(name, blocks ? item : message));
        for (const BlockSpec& named : *blocks) {
            const auto onBus = std::find_if(o.blocks.begin(), o.blocks.end(), [&](const auto& b) {
                return b.type == named.type && b.address == named.address;
            });
            if (onBus == o.blocks.end())
                return Fail(error, QStringLiteral("%1: no block %2 on the bus (see --blocks): %3")
                                       .arg(name, BlocksText({named}), item));
            auto setup = std::find_if(o.setups.begin(), o.setups.end(), [&](const auto& s) {
                return s.type == named.type && s.address == named.address;
            });
            if (setup == o.setups.end()) {
                BlockSetup fresh;
                fresh.type = named.type;
                fresh.address = named.address;
                o.setups.append(fresh);
                setup = o.setups.end() - 1;
            }
            message = apply(value, *onBus, *setup);
            if (!message.isEmpty())
                return Fail(error, QStringLiteral("%1: %2: %3").arg(name, message, item));
        }
    }
    return true;
}

QString OnlyFor(BlockType wanted, const BlockSpec& b, const char* what)
{
    return b.type == wanted ? QString()
                            : QStringLiteral("%1 is kept by %2 blocks only, not %3")
                                  .arg(QLatin1String(what), TypeName(wanted), BlocksText({b}));
}

bool BlockOptions::apply(const QCommandLineParser& p, Options& o, QString* error) const
{
    if (p.isSet(bench_)) {
        for (BlockType t : {BlockType::Ts, BlockType::Tu})
            if (std::none_of(o.blocks.begin(), o.blocks.end(),
                             [t](const BlockSpec& b) { return b.type == t && b.address == 0; }))
                o.blocks.append(BlockSpec{t, 0, {}});
        if (std::none_of(o.wiring.begin(), o.wiring.end(),
                         [](const Wiring& w) { return w.tu == 0 && w.ts == 0; }))
            o.wiring.append(Wiring{0, 0, true});
    }
    return each(p, version_, Form::Value, o, error,
                [](const QString& value, BlockSpec& b, BlockSetup&) {
                    const QByteArray text = ToCp1251(value);
                    if (text.isEmpty() || text.size() > SimBlock::VersionAreaSize)
                        return QStringLiteral("version text must be 1..48 characters");
                    b.versionText = text;
                    return QString();
                }) &&
           each(p, record_, Form::Value, o, error,
                [](const QString& value, BlockSpec&, BlockSetup& s) {
                    const auto bytes = HexBytes(value, SimBlock::ParameterRecordSize);
                    if (!bytes)
                        return QStringLiteral("record must be 1..256 bytes as hex digit pairs");
                    s.record.append({0, *bytes});
                    return QString();
                }) &&
           each(p, param_, Form::KeyValue, o, error,
                [](const QString& value, BlockSpec&, BlockSetup& s) {
                    static const QRegularExpression re(
                        QStringLiteral("^\\s*(\\w+)\\s*(?::\\s*(u8|u16|u32)\\s*)?=(.*)$"));
                    const auto m = re.match(value);
                    const int width = m.captured(2) == QLatin1String("u8")    ? 1
                                      : m.captured(2) == QLatin1String("u32") ? 4
                                                                              : 2;
                    const auto offset =
                        m.hasMatch()
                            ? Integer(m.captured(1), 0, SimBlock::ParameterRecordSize - width)
                            : std::nullopt;
                    const auto v = m.hasMatch()
                                       ? Integer(m.captured(3), 0, (qint64(1) << (8 * width)) - 1)
                                       : std::nullopt;
                    if (!offset || !v)
                        return QStringLiteral("field must read offset[:u8|u16|u32]=value within "
                                              "the 256-byte record and the field's width");
                    s.record.append({int(*offset), LittleEndian(quint64(*v), width)});
                    return QString();
                }) &&
           each(p, diag_, Form::Value, o, error,
                [](const QString& value, BlockSpec&, BlockSetup& s) {
                    const auto n = Integers(value, 0, 65535);
                    if (!n || (n->size() != 2 && n->size() != 6) ||
                        std::any_of(n->begin() + 2, n->end(), [](qint64 b) { return b > 255; }))
                        return QStringLiteral(
                            "diagnostics must read restarts,repeats[,b4,b5,b6,b7]");
                    std::array<uint8_t, 8> d{};
                    byteorder::putLe16(d.data(), uint16_t(n->at(0)));
                    byteorder::putLe16(d.data() + 2, uint16_t(n->at(1)));
                    for (int i = 2; i < n->size(); ++i)
                        d[size_t(i + 2)] = uint8_t(n->at(i));
                    s.diagnostics = d;
                    return QString();
                }) &&
           each(p, calibration_, Form::Value, o, error,
                [](const QString& value, BlockSpec& b, BlockSetup& s) {
                    const auto n = Integers(value, std::numeric_limits<int32_t>::min(),
                                            std::numeric_limits<int32_t>::max());
                    if (!n || n->size() != 4 || n->at(0) < 0 || n->at(0) > 65535 || n->at(3) < 0 ||
                        n->at(3) > 65535)
                        return QStringLiteral("calibration must read zero,max,min,zone; zero and "
                                              "zone 0..65535, max and min signed 32-bit");
                    s.calibration = Calibration{uint16_t(n->at(0)), int32_t(n->at(1)),
                                                int32_t(n->at(2)), uint16_t(n->at(3))};
                    return OnlyFor(BlockType::Tit, b, "a calibration record");
                }) &&
           each(p, unclosed_, Form::Blocks, o, error,
                [](const QString&, BlockSpec& b, BlockSetup& s) {
                    s.unclosedInterlock = true;
                    return OnlyFor(BlockType::Tu, b, "interlock logic");
                }) &&
           each(p, silentBlock_, Form::Blocks, o, error,
                [](const QString&, BlockSpec&, BlockSetup& s) {
                    s.silent = true;
                    return QString();
                }) &&
           each(p, silentTo_, Form::Value, o, error,
                [](const QString& value, BlockSpec&, BlockSetup& s) {
                    for (const QString& item : value.split(QLatin1Char(','))) {
                        const auto sub = SubFunction(item);
                        if (!sub)
                            return QStringLiteral("sub-functions must be hex 00..ff");
                        s.faults.silentTo.set(*sub);
                    }
                    return QString();
                }) &&
           each(p, silentAt_, Form::Value, o, error,
                [](const QString& value, BlockSpec&, BlockSetup& s) {
                    const QStringList parts = value.split(QLatin1Char(':'));
                    const auto sub = parts.size() == 2 ? SubFunction(parts[0]) : std::nullopt;
                    const auto n = parts.size() == 2 ? Number(parts[1], 1, 1 << 30) : std::nullopt;
                    if (!sub || !n)
                        return QStringLiteral("must read sub:n, sub hex 00..ff, n from 1");
                    s.faults.silentAt.push_back({*sub, *n});
                    return QString();
                }) &&
           each(p, noAnnounce_, Form::Blocks, o, error,
                [](const QString&, BlockSpec&, BlockSetup& s) {
                    s.faults.noAnnouncement = true;
                    return QString();
                }) &&
           each(p, stuck_, Form::Value, o, error,
                [](const QString& value, BlockSpec& b, BlockSetup& s) {
                    const auto inputs = Integers(value, 1, Inputs);
                    if (!inputs)
                        return QStringLiteral("inputs must be 1..32 joined by ','");
                    for (qint64 k : *inputs)
                        s.stuckInputs |= uint32_t(1) << (k - 1);
                    return OnlyFor(BlockType::Ts, b, "an input");
                });
}

} // namespace

std::optional<QList<BlockSpec>> ParseBlocks(const QString& text, QString* error)
{
    QList<BlockSpec> blocks;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        const auto type = parts.size() == 2 ? TypeFromName(parts[0]) : std::nullopt;
        const auto address = parts.size() == 2 ? Number(parts[1], 0, 7) : std::nullopt;
        if (!type || !address) {
            Fail(error, QStringLiteral("block must read ts|tit|tu:0..7: %1").arg(item));
            return std::nullopt;
        }
        for (const BlockSpec& b : blocks)
            if (b.type == *type && b.address == *address) {
                Fail(error, QStringLiteral("block named twice: %1").arg(item));
                return std::nullopt;
            }
        blocks.append(BlockSpec{*type, uint8_t(*address), {}});
    }
    return blocks;
}

Rates DemoRates()
{
    Rates r;
    r.tsStates = 0.5;
    r.tsEvents = 0.25;
    r.titReadings = 1;
    r.tiiCounters = 0.2;
    r.interlocks = 0.2;
    r.tuDiagnostics = 0.1;
    return r;
}

std::optional<QList<Wiring>> ParseWiring(const QString& text, QString* error)
{
    QList<Wiring> list;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        const bool sized = parts.size() == 2 || parts.size() == 3;
        const auto tu = sized ? Number(parts[0], 0, 7) : std::nullopt;
        const auto ts = sized ? Number(parts[1], 0, 7) : std::nullopt;
        const QString contact = parts.size() == 3 ? parts[2].trimmed().toLower() : "no";
        if (!tu || !ts || (contact != "no" && contact != "nc")) {
            Fail(error,
                 QStringLiteral("wiring must read tu:ts[:no|nc], addresses 0..7: %1").arg(item));
            return std::nullopt;
        }
        list.append(Wiring{uint8_t(*tu), uint8_t(*ts), contact == "nc"});
    }
    return list;
}

std::optional<QList<TuAnswer>> ParseTuAnswers(const QString& text, QString* error)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*(?:(\\d+)(?::(\\d+))?\\s*=)?\\s*(\\d+)\\s*$"));
    QList<TuAnswer> list;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const auto m = re.match(item);
        const auto address =
            m.hasMatch() && m.hasCaptured(1) ? Number(m.captured(1), 0, 7) : std::optional<int>(-1);
        const auto relay =
            m.hasMatch() && m.hasCaptured(2) ? Number(m.captured(2), 1, 32) : std::optional<int>(0);
        const auto status = m.hasMatch() ? Number(m.captured(3), 0, 255) : std::nullopt;
        if (!m.hasMatch() || !address || !relay || !status) {
            Fail(error, QStringLiteral("telecontrol status must read [block[:relay]=]0..255: %1")
                            .arg(item));
            return std::nullopt;
        }
        list.append(TuAnswer{*address, *relay, uint8_t(*status)});
    }
    return list;
}

std::optional<QList<RelayRef>> ParseRelays(const QString& text, QString* error)
{
    QList<RelayRef> list;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        const auto address = parts.size() == 2 ? Number(parts[0], 0, 7) : std::nullopt;
        const auto relay = parts.size() == 2 ? Number(parts[1], 1, 32) : std::nullopt;
        if (!address || !relay) {
            Fail(error, QStringLiteral("relay must read block:relay, 0..7:1..32: %1").arg(item));
            return std::nullopt;
        }
        list.append(RelayRef{uint8_t(*address), *relay});
    }
    return list;
}

QString BlocksText(const QList<BlockSpec>& blocks)
{
    QStringList items;
    for (const BlockSpec& b : blocks)
        items << TypeName(b.type) + QLatin1Char(':') + QString::number(b.address);
    return items.join(QLatin1Char(','));
}

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
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("UDP port (9720)."),
                                  QStringLiteral("port"), QStringLiteral("9720"));
    const QCommandLineOption bind(QStringLiteral("bind"),
                                  QStringLiteral("IPv4 address to bind (127.0.0.1)."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption allowAny(QStringLiteral("allow-any"),
                                      QStringLiteral("Allow a bind address outside loopback."));
    const QCommandLineOption version(QStringLiteral("adapter-version"),
                                     QStringLiteral("Adapter version major.minor (3.2)."),
                                     QStringLiteral("major.minor"));
    const QCommandLineOption km4(QStringLiteral("km4"),
                                 QStringLiteral("Version 4 adapter taking a CAN mode message."));
    const QCommandLineOption text(QStringLiteral("text"),
                                  QStringLiteral("Announcement text (Latin-1)."),
                                  QStringLiteral("text"));
    const QCommandLineOption mac(QStringLiteral("mac"),
                                 QStringLiteral("Adapter MAC, six hex pairs joined by ':'."),
                                 QStringLiteral("mac"));
    const QCommandLineOption heldIp(QStringLiteral("held-ip"),
                                    QStringLiteral("IPv4 address the adapter reports holding."),
                                    QStringLiteral("address"));
    const QCommandLineOption blocks(QStringLiteral("blocks"),
                                    QStringLiteral("Blocks on the bus, e.g. ts:0,tu:1,tit:2."),
                                    QStringLiteral("list"));
    const QCommandLineOption addressRequest(
        QStringLiteral("address-request"),
        QStringLiteral("Answer keep-alives with an address request too."));
    const QCommandLineOption relink(
        QStringLiteral("relink"),
        QStringLiteral("Keep answering keep-alives after the link start."));
    const QCommandLineOption dropReceipts(QStringLiteral("drop-receipts"),
                                          QStringLiteral("Lose the next N receipts."),
                                          QStringLiteral("n"));
    const QCommandLineOption dropAllReceipts(QStringLiteral("drop-all-receipts"),
                                             QStringLiteral("Lose every receipt."));
    const QCommandLineOption wrongSeq(
        QStringLiteral("wrong-receipt-seq"),
        QStringLiteral("Receipts carry the request's number minus 1."));
    const QCommandLineOption dropReplies(QStringLiteral("drop-replies"),
                                         QStringLiteral("Lose the next N block replies."),
                                         QStringLiteral("n"));
    const QCommandLineOption dropAllReplies(QStringLiteral("drop-all-replies"),
                                            QStringLiteral("Lose every block reply."));
    const QCommandLineOption replyDelay(QStringLiteral("reply-delay"),
                                        QStringLiteral("Delay block replies by MS milliseconds."),
                                        QStringLiteral("ms"));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("The adapter answers nothing at all."));
    const QCommandLineOption tsRate(QStringLiteral("ts-rate"),
                                    QStringLiteral("Telesignal state rounds per second (0.5)."),
                                    QStringLiteral("rate"));
    const QCommandLineOption eventRate(QStringLiteral("event-rate"),
                                       QStringLiteral("Telesignal changes per second (0.25)."),
                                       QStringLiteral("rate"));
    const QCommandLineOption titRate(QStringLiteral("tit-rate"),
                                     QStringLiteral("Measurement rounds per second (1)."),
                                     QStringLiteral("rate"));
    const QCommandLineOption tiiRate(QStringLiteral("tii-rate"),
                                     QStringLiteral("Counter rounds per second (0.2)."),
                                     QStringLiteral("rate"));
    const QCommandLineOption interlockRate(
        QStringLiteral("interlock-rate"),
        QStringLiteral("Interlock state rounds per second (0.2)."), QStringLiteral("rate"));
    const QCommandLineOption diagRate(
        QStringLiteral("diag-rate"),
        QStringLiteral("Telecontrol diagnostics rounds per second (0.1)."), QStringLiteral("rate"));
    const QCommandLineOption quiet(
        QStringLiteral("quiet"),
        QStringLiteral("Send nothing unasked except the rates given explicitly."));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of inputs, readings and counters (1)."),
                                  QStringLiteral("n"));
    const QCommandLineOption titChannels(
        QStringLiteral("tit-channels"),
        QStringLiteral("Measurement channels reported per block, 1..32 (16)."),
        QStringLiteral("n"));
    const QCommandLineOption tiiChannels(
        QStringLiteral("tii-channels"),
        QStringLiteral("Counters reported per telesignal block, 0..32 (8)."), QStringLiteral("n"));
    const QCommandLineOption wire(
        QStringLiteral("wire"),
        QStringLiteral("Relays of a telecontrol block drive the inputs of a telesignal block, "
                       "e.g. 0:0 or 0:0:nc (normally closed contacts)."),
        QStringLiteral("list"));
    const QCommandLineOption faultyRelay(
        QStringLiteral("faulty-relay"),
        QStringLiteral("Relays that switch but drive no input, e.g. 0:5."), QStringLiteral("list"));
    const QCommandLineOption tuStatus(
        QStringLiteral("tu-status"),
        QStringLiteral("Telecontrol result status: 6 (all), 1=6 (block 1), 1:5=6 (relay 5 of "
                       "block 1)."),
        QStringLiteral("list"));
    const QCommandLineOption tuSilent(QStringLiteral("tu-silent"),
                                      QStringLiteral("Telecontrol blocks answer no command."));
    const QCommandLineOption tuNoResult(
        QStringLiteral("tu-no-result"),
        QStringLiteral("Telecontrol blocks get ready but report no result."));
    const QCommandLineOption relayHold(
        QStringLiteral("relay-hold"),
        QStringLiteral("A switched relay releases after MS milliseconds, 0 at the next (200)."),
        QStringLiteral("ms"));
    const QCommandLineOption diagForm(QStringLiteral("tu-diag-form"),
                                      QStringLiteral("Telecontrol diagnostics form, 2 or 8 (2)."),
                                      QStringLiteral("form"));
    const QCommandLineOption burst(
        QStringLiteral("burst"),
        QStringLiteral("After the link start send N telemetry datagrams as fast as possible."),
        QStringLiteral("n"));
    const QCommandLineOption burstSlice(
        QStringLiteral("burst-slice"),
        QStringLiteral("Burst datagrams written between pauses (32)."), QStringLiteral("n"));
    const QCommandLineOption burstPause(QStringLiteral("burst-pause"),
                                        QStringLiteral("Pause between burst slices (1 ms)."),
                                        QStringLiteral("ms"));
    const BlockOptions blockOptions;
    const QCommandLineOption writeImage = Option(
        "write-image",
        "Write a sample firmware image file (60,416 bytes, never a real block's firmware) and "
        "exit.",
        "file");
    const QCommandLineOption imageVersion = Option(
        "image-version",
        "Version text of the sample image at 0x2080, up to 48 characters (TS v1.04 sim).", "text");
    p.addOptions({help,           port,
                  bind,           allowAny,
                  version,        km4,
                  text,           mac,
                  heldIp,         blocks,
                  addressRequest, relink,
                  dropReceipts,   dropAllReceipts,
                  wrongSeq,       dropReplies,
                  dropAllReplies, replyDelay,
                  silent,         tsRate,
                  eventRate,      titRate,
                  tiiRate,        interlockRate,
                  diagRate,       quiet,
                  seed,           titChannels,
                  tiiChannels,    wire,
                  faultyRelay,    tuStatus,
                  tuSilent,       tuNoResult,
                  relayHold,      diagForm,
                  burst,          burstSlice,
                  burstPause});
    p.addOptions(blockOptions.all());
    const QCommandLineOption capture = Option(
        "capture", "Record every datagram sent and received to a pcapng capture file.", "file");
    p.addOptions({writeImage, imageVersion, capture});

    if (!p.parse(arguments)) {
        Fail(error, p.errorText());
        return std::nullopt;
    }
    CommandLine cl;
    if (p.isSet(help)) {
        cl.help = true;
        cl.helpText = p.helpText();
        return cl;
    }
    if (!p.positionalArguments().isEmpty()) {
        Fail(error, QStringLiteral("unexpected argument: %1").arg(p.positionalArguments()[0]));
        return std::nullopt;
    }
    Options& o = cl.options;
    const auto fail = [&](const QString& message) {
        Fail(error, message);
        return std::nullopt;
    };

    const auto portValue = Number(p.value(port), 0, 65535);
    if (!portValue)
        return fail(QStringLiteral("port must be 0..65535: %1").arg(p.value(port)));
    o.port = quint16(*portValue);

    const QHostAddress address(p.value(bind));
    if (address.isNull() || address.protocol() != QAbstractSocket::IPv4Protocol)
        return fail(QStringLiteral("bind address must be IPv4: %1").arg(p.value(bind)));
    if (!address.isLoopback() && !p.isSet(allowAny))
        return fail(QStringLiteral("bind address %1 is outside loopback; add --allow-any to use it")
                        .arg(p.value(bind)));
    o.bindAddress = address;

    if (p.isSet(version) && !ParseVersion(p.value(version), o, error))
        return std::nullopt;
    if (p.isSet(km4)) {
        if (p.isSet(version) && o.versionMajor != 4)
            return fail(QStringLiteral("--km4 needs adapter version major 4"));
        o.versionMajor = 4;
    }
    if (p.isSet(text))
        o.text = p.value(text).toLatin1();
    if (p.isSet(mac) && !ParseBytes(p.value(mac), QLatin1Char(':'), 16, o.mac))
        return fail(
            QStringLiteral("MAC must read six hex pairs joined by ':': %1").arg(p.value(mac)));
    if (p.isSet(heldIp) && !ParseBytes(p.value(heldIp), QLatin1Char('.'), 10, o.heldAddress))
        return fail(QStringLiteral("held address must read a.b.c.d: %1").arg(p.value(heldIp)));
    if (p.isSet(blocks)) {
        const auto list = ParseBlocks(p.value(blocks), error);
        if (!list)
            return std::nullopt;
        o.blocks = *list;
    }
    o.addressRequestOnKeepAlive = p.isSet(addressRequest);
    o.relinkOnKeepAlive = p.isSet(relink);

    Faults& f = o.faults;
    if (p.isSet(dropReceipts)) {
        const auto n = Number(p.value(dropReceipts), 0, 1 << 30);
        if (!n)
            return fail(
                QStringLiteral("--drop-receipts needs a count: %1").arg(p.value(dropReceipts)));
        f.dropReceipts = *n;
    }
    if (p.isSet(dropReplies)) {
        const auto n = Number(p.value(dropReplies), 0, 1 << 30);
        if (!n)
            return fail(
                QStringLiteral("--drop-replies needs a count: %1").arg(p.value(dropReplies)));
        f.dropReplies = *n;
    }
    if (p.isSet(replyDelay)) {
        const auto n = Number(p.value(replyDelay), 0, 3600000);
        if (!n)
            return fail(
                QStringLiteral("--reply-delay needs milliseconds: %1").arg(p.value(replyDelay)));
        f.replyDelayMs = *n;
    }
    f.dropAllReceipts = p.isSet(dropAllReceipts);
    f.wrongReceiptSequence = p.isSet(wrongSeq);
    f.dropAllReplies = p.isSet(dropAllReplies);
    f.silent = p.isSet(silent);

    // An integer option within limits; false (with the message) when it is given and wrong.
    const auto integer = [&](const QCommandLineOption& option, int min, int max, auto& out) {
        if (!p.isSet(option))
            return true;
        const auto n = Number(p.value(option), min, max);
        if (!n)
            return Fail(error, QStringLiteral("--%1 must be %2..%3: %4")
                                   .arg(option.names().constFirst())
                                   .arg(min)
                                   .arg(max)
                                   .arg(p.value(option)));
        out = std::remove_reference_t<decltype(out)>(*n);
        return true;
    };

    o.rates = p.isSet(quiet) ? Rates{} : DemoRates();
    const std::pair<const QCommandLineOption*, Live> rates[] = {
        {&tsRate, Live::TsStates},          {&eventRate, Live::TsEvents},
        {&titRate, Live::TitReadings},      {&tiiRate, Live::TiiCounters},
        {&interlockRate, Live::Interlocks}, {&diagRate, Live::TuDiagnostics}};
    for (const auto& [option, kind] : rates) {
        if (!p.isSet(*option))
            continue;
        const auto r = Rate(p.value(*option));
        if (!r)
            return fail(QStringLiteral("--%1 must be 0..1000 per second: %2")
                            .arg(option->names().constFirst(), p.value(*option)));
        o.rates.of(kind) = *r;
    }
    int seedValue = int(o.seed);
    int form = o.tuDiagnosticsForm;
    if (!integer(seed, 0, std::numeric_limits<int>::max(), seedValue) ||
        !integer(titChannels, 1, 32, o.titChannels) ||
        !integer(tiiChannels, 0, 32, o.tiiChannels) ||
        !integer(relayHold, 0, 3600000, o.relayHoldMs) || !integer(diagForm, 2, 8, form) ||
        !integer(burst, 0, 1 << 30, o.burstOnLinkStart) ||
        !integer(burstSlice, 1, 100000, o.burstSlice) ||
        !integer(burstPause, 0, 60000, o.burstPauseMs))
        return std::nullopt;
    if (form != 2 && form != 8)
        return fail(QStringLiteral("--tu-diag-form must be 2 or 8: %1").arg(form));
    o.seed = uint32_t(seedValue);
    o.tuDiagnosticsForm = uint8_t(form);
    if (p.isSet(wire)) {
        const auto list = ParseWiring(p.value(wire), error);
        if (!list)
            return std::nullopt;
        o.wiring = *list;
    }
    if (p.isSet(faultyRelay)) {
        const auto list = ParseRelays(p.value(faultyRelay), error);
        if (!list)
            return std::nullopt;
        o.faultyRelays = *list;
    }
    if (p.isSet(tuStatus)) {
        const auto list = ParseTuAnswers(p.value(tuStatus), error);
        if (!list)
            return std::nullopt;
        o.tuAnswers = *list;
    }
    o.tuNoReady = p.isSet(tuSilent);
    o.tuNoResult = p.isSet(tuSilent) || p.isSet(tuNoResult);
    if (!blockOptions.apply(p, o, error))
        return std::nullopt;
    if (p.isSet(imageVersion) && !p.isSet(writeImage))
        return fail(QStringLiteral("--image-version needs --write-image"));
    cl.imagePath = p.value(writeImage);
    cl.capturePath = p.value(capture);
    cl.imageVersion = p.isSet(imageVersion) ? ToCp1251(p.value(imageVersion)) : "TS v1.04 sim";
    if (cl.imageVersion.isEmpty() || cl.imageVersion.size() > SimBlock::VersionAreaSize)
        return fail(QStringLiteral("--image-version must be 1..48 characters"));
    return cl;
}

QString StartMessage(const Options& o, quint16 port)
{
    QStringList faults;
    const Faults& f = o.faults;
    if (f.dropReceipts)
        faults << QStringLiteral("drop %1 receipts").arg(f.dropReceipts);
    if (f.dropAllReceipts)
        faults << QStringLiteral("drop all receipts");
    if (f.wrongReceiptSequence)
        faults << QStringLiteral("wrong receipt numbers");
    if (f.dropReplies)
        faults << QStringLiteral("drop %1 replies").arg(f.dropReplies);
    if (f.dropAllReplies)
        faults << QStringLiteral("drop all replies");
    if (f.replyDelayMs)
        faults << QStringLiteral("replies %1 ms late").arg(f.replyDelayMs);
    if (f.silent)
        faults << QStringLiteral("silent");
    QStringList live;
    const std::pair<Live, const char*> kinds[] = {
        {Live::TsStates, "ts"},           {Live::TsEvents, "events"},
        {Live::TitReadings, "tit"},       {Live::TiiCounters, "tii"},
        {Live::Interlocks, "interlocks"}, {Live::TuDiagnostics, "diagnostics"}};
    for (const auto& [kind, name] : kinds)
        if (o.rates.of(kind) > 0)
            live << QStringLiteral("%1 %2/s").arg(QLatin1String(name)).arg(o.rates.of(kind));
    QStringList wiring;
    for (const Wiring& w : o.wiring)
        wiring << QStringLiteral("tu:%1>ts:%2%3")
                      .arg(w.tu)
                      .arg(w.ts)
                      .arg(w.normallyClosed ? QStringLiteral(" nc") : QString());
    for (const RelayRef& r : o.faultyRelays)
        faults << QStringLiteral("relay %1 of tu:%2 drives nothing").arg(r.relay).arg(r.address);
    for (const BlockSetup& s : o.setups) {
        const QString b = BlocksText({BlockSpec{s.type, s.address, {}}});
        if (s.silent)
            faults << b + QStringLiteral(" silent");
        if (s.faults.noAnnouncement)
            faults << b + QStringLiteral(" not announcing");
        for (int sub = 0; sub < 256; ++sub)
            if (s.faults.silentTo[size_t(sub)])
                faults
                    << QStringLiteral("%1 silent to %2").arg(b).arg(sub, 2, 16, QLatin1Char('0'));
        for (const SilentAt& at : s.faults.silentAt)
            faults << QStringLiteral("%1 loses request %2 #%3")
                          .arg(b)
                          .arg(at.sub, 2, 16, QLatin1Char('0'))
                          .arg(at.nth);
        QStringList stuck;
        for (int k = 1; k <= Inputs; ++k)
            if (s.stuckInputs & (uint32_t(1) << (k - 1)))
                stuck << QString::number(k);
        if (!stuck.isEmpty())
            faults
                << QStringLiteral("%1 inputs %2 stuck at 0").arg(b, stuck.join(QLatin1Char('+')));
    }
    if (o.tuNoReady)
        faults << QStringLiteral("telecontrol silent");
    else if (o.tuNoResult)
        faults << QStringLiteral("no telecontrol results");
    for (const TuAnswer& a : o.tuAnswers)
        faults << QStringLiteral("telecontrol status %1 for %2%3")
                      .arg(a.status)
                      .arg(a.address < 0 ? QStringLiteral("all")
                                         : QStringLiteral("tu:%1").arg(a.address))
                      .arg(a.relay ? QStringLiteral(" relay %1").arg(a.relay) : QString());
    QString extra = QStringLiteral(", live [%1]").arg(live.join(QStringLiteral(", ")));
    if (!wiring.isEmpty())
        extra += QStringLiteral(", wiring [%1]").arg(wiring.join(QStringLiteral(", ")));
    if (o.burstOnLinkStart > 0)
        extra += QStringLiteral(", burst of %1 at the link start").arg(o.burstOnLinkStart);
    return QStringLiteral("kp-sim: adapter v%1.%2 on %3:%4, blocks [%5]%6%7")
        .arg(o.versionMajor)
        .arg(o.versionMinor)
        .arg(o.bindAddress.toString())
        .arg(port)
        .arg(BlocksText(o.blocks))
        .arg(extra)
        .arg(faults.isEmpty() ? QString() : QStringLiteral(", faults: ") + faults.join(", "));
}

} // namespace kpsim
