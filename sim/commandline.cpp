#include "commandline.h"

#include <QCommandLineParser>
#include <QRegularExpression>

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
        "Simulated controlled point: an Ethernet-to-CAN adapter with its function blocks."));
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
    p.addOptions({help, port, bind, allowAny, version, km4, text, mac, heldIp, blocks,
                  addressRequest, relink, dropReceipts, dropAllReceipts, wrongSeq, dropReplies,
                  dropAllReplies, replyDelay, silent});

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
    return QStringLiteral("kp-sim: adapter v%1.%2 on %3:%4, blocks [%5]%6")
        .arg(o.versionMajor)
        .arg(o.versionMinor)
        .arg(o.bindAddress.toString())
        .arg(port)
        .arg(BlocksText(o.blocks))
        .arg(faults.isEmpty() ? QString() : QStringLiteral(", faults: ") + faults.join(", "));
}

} // namespace kpsim
