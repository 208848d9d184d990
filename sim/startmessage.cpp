// SPDX-License-Identifier: GPL-3.0-or-later
// The one line kp-sim prints at start: the adapter, the blocks, the live data and every fault.

#include "commandline.h"

namespace kpsim
{

namespace
{

QString Sub(int sub)
{
    return QStringLiteral("%1").arg(sub, 2, 16, QLatin1Char('0'));
}

QStringList AdapterFaults(const Faults& f)
{
    QStringList faults;
    if (f.dropReceipts)
        faults << QStringLiteral("drop %1 receipts").arg(f.dropReceipts);
    if (f.dropAllReceipts)
        faults << QStringLiteral("drop all receipts");
    for (const SilentAt& at : f.dropReceiptAt)
        faults << QStringLiteral("drop the receipt of request %1 #%2").arg(Sub(at.sub)).arg(at.nth);
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
    return faults;
}

QStringList FaultsOfBlocks(const Options& o)
{
    QStringList faults;
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
                faults << QStringLiteral("%1 silent to %2").arg(b, Sub(sub));
        for (const SilentAt& at : s.faults.silentAt)
            faults << QStringLiteral("%1 loses request %2 #%3").arg(b, Sub(at.sub)).arg(at.nth);
        QStringList stuck;
        for (int k = 1; k <= Inputs; ++k)
            if (s.stuckInputs & (uint32_t(1) << (k - 1)))
                stuck << QString::number(k);
        if (!stuck.isEmpty())
            faults
                << QStringLiteral("%1 inputs %2 stuck at 0").arg(b, stuck.join(QLatin1Char('+')));
    }
    return faults;
}

QStringList TelecontrolFaults(const Options& o)
{
    QStringList faults;
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
    return faults;
}

QString LiveText(const Options& o)
{
    QStringList live;
    const std::pair<Live, const char*> kinds[] = {
        {Live::TsStates, "ts"},           {Live::TsEvents, "events"},
        {Live::TitReadings, "tit"},       {Live::TiiCounters, "tii"},
        {Live::Interlocks, "interlocks"}, {Live::TuDiagnostics, "diagnostics"}};
    for (const auto& [kind, name] : kinds)
        if (o.rates.of(kind) > 0)
            live << QStringLiteral("%1 %2/s").arg(QLatin1String(name)).arg(o.rates.of(kind));
    QString text = QStringLiteral(", live [%1]").arg(live.join(QStringLiteral(", ")));
    QStringList wiring;
    for (const Wiring& w : o.wiring)
        wiring << QStringLiteral("tu:%1>ts:%2%3")
                      .arg(w.tu)
                      .arg(w.ts)
                      .arg(w.normallyClosed ? QStringLiteral(" nc") : QString());
    if (!wiring.isEmpty())
        text += QStringLiteral(", wiring [%1]").arg(wiring.join(QStringLiteral(", ")));
    if (o.burstOnLinkStart > 0)
        text += QStringLiteral(", burst of %1 at the link start").arg(o.burstOnLinkStart);
    return text;
}

} // namespace

QString StartMessage(const Options& o, quint16 port)
{
    const QStringList faults = AdapterFaults(o.faults) + FaultsOfBlocks(o) + TelecontrolFaults(o);
    return QStringLiteral("kp-sim: adapter v%1.%2 on %3:%4, blocks [%5]%6%7")
        .arg(o.versionMajor)
        .arg(o.versionMinor)
        .arg(o.bindAddress.toString())
        .arg(port)
        .arg(BlocksText(o.blocks))
        .arg(LiveText(o))
        .arg(faults.isEmpty() ? QString() : QStringLiteral(", faults: ") + faults.join(", "));
}

} // namespace kpsim
