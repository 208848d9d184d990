// SPDX-License-Identifier: GPL-3.0-or-later
// The options of kp-sim that name blocks on the bus: "BLOCKS", "BLOCKS=VALUE" or
// "BLOCKS@KEY=VALUE", BLOCKS a list such as ts:0,tu:3. Each may be given more than once; every
// block named must be on the bus (--blocks, --bench).

#include "optionparsing.h"
#include "support/byteorder.h"
#include "support/cp1251.h"

#include <QRegularExpression>
#include <algorithm>
#include <limits>

namespace kpsim
{

namespace
{

// How an occurrence reads.
enum class Form { Blocks, Value, KeyValue };
// Sets an occurrence's value in one named block; an empty text, or why the value does not do.
using PerBlock = std::function<QString(const QString& value, BlockSpec&, BlockSetup&)>;

BlockSetup& SetupOf(Options& o, const BlockSpec& block)
{
    auto setup = std::find_if(o.setups.begin(), o.setups.end(), [&](const BlockSetup& s) {
        return s.type == block.type && s.address == block.address;
    });
    if (setup != o.setups.end())
        return *setup;
    BlockSetup fresh;
    fresh.type = block.type;
    fresh.address = block.address;
    o.setups.append(fresh);
    return o.setups.last();
}

// A row whose every occurrence names blocks and sets something in each.
OptionRow BlockRow(const char* name, const char* help, const char* value, Form form,
                   PerBlock perBlock)
{
    OptionRow row{name, help, value, nullptr, {}, true};
    row.apply = [form, perBlock, value](const QString& item, CommandLine& cl) -> QString {
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const qsizetype at = eq >= 0 ? item.left(eq).indexOf(QLatin1Char('@')) : -1;
        if ((form == Form::Blocks) != (eq < 0) || (form == Form::KeyValue) != (at >= 0))
            return QStringLiteral("must read %1").arg(QLatin1String(value));
        QString message;
        const auto named = ParseBlocks(item.left(at >= 0 ? at : eq), &message);
        if (!named || named->isEmpty())
            return named ? QStringLiteral("no block named") : message;
        const QString v = form == Form::Blocks ? QString() : item.mid(at >= 0 ? at + 1 : eq + 1);
        Options& o = cl.options;
        for (const BlockSpec& b : *named) {
            const auto onBus = std::find_if(o.blocks.begin(), o.blocks.end(), [&](const auto& x) {
                return x.type == b.type && x.address == b.address;
            });
            if (onBus == o.blocks.end())
                return QStringLiteral("no block %1 on the bus (see --blocks)").arg(BlocksText({b}));
            message = perBlock(v, *onBus, SetupOf(o, b));
            if (!message.isEmpty())
                return message;
        }
        return QString();
    };
    return row;
}

QString OnlyFor(BlockType wanted, const BlockSpec& b, const char* what)
{
    return b.type == wanted ? QString()
                            : QStringLiteral("%1 is kept by %2 blocks only, not %3")
                                  .arg(QLatin1String(what), TypeName(wanted), BlocksText({b}));
}

QByteArray LittleEndian(quint64 value, int width)
{
    uint8_t bytes[8] = {};
    byteorder::putLe32(bytes, uint32_t(value));
    byteorder::putLe32(bytes + 4, uint32_t(value >> 32));
    return QByteArray(reinterpret_cast<const char*>(bytes), width);
}

QString ApplyParam(const QString& value, BlockSpec&, BlockSetup& s)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\w+)\\s*(?::\\s*(u8|u16|u32)\\s*)?=(.*)$"));
    const auto m = re.match(value);
    const int width = m.captured(2) == QLatin1String("u8")    ? 1
                      : m.captured(2) == QLatin1String("u32") ? 4
                                                              : 2;
    const auto offset = m.hasMatch()
                            ? Integer(m.captured(1), 0, SimBlock::ParameterRecordSize - width)
                            : std::nullopt;
    const auto v =
        m.hasMatch() ? Integer(m.captured(3), 0, (qint64(1) << (8 * width)) - 1) : std::nullopt;
    if (!offset || !v)
        return QStringLiteral("field must read offset[:u8|u16|u32]=value within the 256-byte "
                              "record and the field's width");
    s.record.append({int(*offset), LittleEndian(quint64(*v), width)});
    return QString();
}

QString ApplyDiagnostics(const QString& value, BlockSpec&, BlockSetup& s)
{
    const auto n = Integers(value, 0, 65535);
    if (!n || (n->size() != 2 && n->size() != 6) ||
        std::any_of(n->begin() + 2, n->end(), [](qint64 b) { return b > 255; }))
        return QStringLiteral("diagnostics must read restarts,repeats[,b4,b5,b6,b7]");
    std::array<uint8_t, 8> d{};
    byteorder::putLe16(d.data(), uint16_t(n->at(0)));
    byteorder::putLe16(d.data() + 2, uint16_t(n->at(1)));
    for (int i = 2; i < n->size(); ++i)
        d[size_t(i + 2)] = uint8_t(n->at(i));
    s.diagnostics = d;
    return QString();
}

QString ApplyCalibration(const QString& value, BlockSpec& b, BlockSetup& s)
{
    const auto n =
        Integers(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    if (!n || n->size() != 4 || n->at(0) < 0 || n->at(0) > 65535 || n->at(3) < 0 ||
        n->at(3) > 65535)
        return QStringLiteral("calibration must read zero,max,min,zone; zero and zone 0..65535, "
                              "max and min signed 32-bit");
    s.calibration =
        Calibration{uint16_t(n->at(0)), int32_t(n->at(1)), int32_t(n->at(2)), uint16_t(n->at(3))};
    return OnlyFor(BlockType::Tit, b, "a calibration record");
}

QString ApplySilentTo(const QString& value, BlockSpec&, BlockSetup& s)
{
    for (const QString& item : value.split(QLatin1Char(','))) {
        const auto sub = SubFunction(item);
        if (!sub)
            return QStringLiteral("sub-functions must be hex 00..ff");
        s.faults.silentTo.set(*sub);
    }
    return QString();
}

QString ApplyStuck(const QString& value, BlockSpec& b, BlockSetup& s)
{
    const auto inputs = Integers(value, 1, Inputs);
    if (!inputs)
        return QStringLiteral("inputs must be 1..32 joined by ','");
    for (qint64 k : *inputs)
        s.stuckInputs |= uint32_t(1) << (k - 1);
    return OnlyFor(BlockType::Ts, b, "an input");
}

} // namespace

namespace
{
// What a block holds: version, parameters, diagnostics, calibration, logic.
QList<OptionRow> ContentRows()
{
    return {
        BlockRow("block-version",
                 "Version text of blocks, up to 48 characters (code page 1251), e.g. ts:0,ts:1=TS "
                 "v1.02. Defaults: TS v1.03 sim, TIT v1.03 sim, TU v1.03 sim.",
                 "blocks=text", Form::Value,
                 [](const QString& value, BlockSpec& b, BlockSetup&) {
                     const QByteArray text = ToCp1251(value);
                     if (text.isEmpty() || text.size() > SimBlock::VersionAreaSize)
                         return QStringLiteral("version text must be 1..48 characters");
                     b.versionText = text;
                     return QString();
                 }),
        BlockRow("record",
                 "Parameter record of blocks from offset 0, in hex (up to 256 bytes; the rest "
                 "keeps its defaults), e.g. tit:2=0a00040032003c00",
                 "blocks=hex", Form::Value,
                 [](const QString& value, BlockSpec&, BlockSetup& s) {
                     const auto bytes = HexBytes(value, SimBlock::ParameterRecordSize);
                     if (!bytes)
                         return QStringLiteral("record must be 1..256 bytes as hex digit pairs");
                     s.record.append({0, *bytes});
                     return QString();
                 }),
        BlockRow("param",
                 "One field of the parameter record: offset 0..255, width u8, u16 (default) or "
                 "u32, value decimal or 0x hex, little-endian; e.g. tu:3@0=5 (interlock mode), "
                 "tit:2@22:u8=8.",
                 "blocks@offset[:width]=value", Form::KeyValue, ApplyParam),
        BlockRow("diag",
                 "Diagnostics reply: restart count, transmission repeat count (0..65535), "
                 "optionally the four further bytes (0..255); e.g. ts:0=3,12 or "
                 "tu:3=1,0,222,173,190,239. Default 1,0,0,0,0,0.",
                 "blocks=r,p[,b4,b5,b6,b7]", Form::Value, ApplyDiagnostics),
        BlockRow("calibration",
                 "Calibration record at 0xFC00 of measurement blocks: zero value, raw maximum, raw "
                 "minimum (signed 32-bit; 81492 shows as 5000), zero zone. Default "
                 "2048,81492,-81492,5.",
                 "blocks=zero,max,min,zone", Form::Value, ApplyCalibration),
        BlockRow("unclosed-interlock",
                 "Telecontrol blocks hold at 0x8000 an interlock logic text of more than 24,000 "
                 "bytes without its closing \"@\" line.",
                 "blocks", Form::Blocks,
                 [](const QString&, BlockSpec& b, BlockSetup& s) {
                     s.unclosedInterlock = true;
                     return OnlyFor(BlockType::Tu, b, "interlock logic");
                 }),
    };
}

// How a block fails.
QList<OptionRow> FaultRows()
{
    return {
        BlockRow("silent-block", "Blocks that answer nothing and send nothing.", "blocks",
                 Form::Blocks,
                 [](const QString&, BlockSpec&, BlockSetup& s) {
                     s.silent = true;
                     return QString();
                 }),
        BlockRow("silent-to",
                 "Blocks never answer requests with these sub-functions (hex), e.g. tu:3=06 or "
                 "ts:0=05,09.",
                 "blocks=sub[,sub]", Form::Value, ApplySilentTo),
        BlockRow("silent-at",
                 "The Nth request with the sub-function (hex), counted from the start, is lost "
                 "before the block sees it: it is not answered and changes nothing. Every request "
                 "before and after it is answered, so a repeated operation succeeds; e.g. "
                 "ts:0=05:100 (the 100th memory write).",
                 "blocks=sub:n", Form::Value,
                 [](const QString& value, BlockSpec&, BlockSetup& s) {
                     const auto at = SubAndCount(value);
                     if (!at)
                         return QStringLiteral("must read sub:n, sub hex 00..ff, n from 1");
                     s.faults.silentAt.push_back({at->first, at->second});
                     return QString();
                 }),
        BlockRow("no-announce",
                 "Blocks that do not answer the announcement query but answer all else.", "blocks",
                 Form::Blocks,
                 [](const QString&, BlockSpec&, BlockSetup& s) {
                     s.faults.noAnnouncement = true;
                     return QString();
                 }),
        BlockRow("stuck-input",
                 "Inputs of telesignal blocks that read 0 whatever drives them, e.g. ts:0=5 or "
                 "ts:0=5,7.",
                 "blocks=inputs", Form::Value, ApplyStuck),
    };
}
} // namespace

QList<OptionRow> BlockOptionRows()
{
    return ContentRows() + FaultRows();
}

} // namespace kpsim
