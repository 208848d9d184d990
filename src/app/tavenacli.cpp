// SPDX-License-Identifier: GPL-3.0-or-later
// tavena-cli: the block service, the module test and the live data of a controlled point from a
// script, without a window. It reads the window's settings, brings the link up as the window
// does (the keep-alive until the adapter's connection request), runs one subcommand and says
// how it went in its exit code.

#include "app/clicommands.h"
#include "app/clioptions.h"
#include "app/cliterminal.h"
#include "app/programcore.h"
#include "app/storedsettings.h"
#include "support/errortext.h"
#include "support/eventwait.h"
#include "tavenaversion.h"
#include "testbench/benchsettings.h"
#include "testbench/junitreport.h"
#include "testbench/protocolprint.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QSettings>
#include <QSysInfo>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace
{
// The keep-alive until the adapter opens the link, for at most the link timeout.
int BringLinkUp(ProgramCore& core, int seconds)
{
    LinkCore& link = core.Link;
    if (link.settings.BaseIPadapter.trimmed().isEmpty())
        return Usage(QStringLiteral("Не задан IP адрес адаптера (--adapter)"));
    const QString error = link.Enable(true);
    if (!error.isEmpty()) {
        std::fputs((error + QStringLiteral("\n")).toLocal8Bit().constData(), stderr);
        return exitcode::NoLink;
    }
    link.SendKeepAlive(); // the first keep-alive at once, not a second later
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(seconds * 1000);
    eventwait::WaitWhile([&] { return !link.LinkOpen && limit.isActive(); });
    if (eventwait::Closing())
        return exitcode::Interrupted;
    if (!link.LinkOpen) {
        std::fputs(QStringLiteral("Нет связи с адаптером %1:%2: за %3 с он не ответил на запрос "
                                  "соединения\n")
                       .arg(link.settings.BaseIPadapter, link.settings.BasePortD)
                       .arg(seconds)
                       .toLocal8Bit()
                       .constData(),
                   stderr);
        return exitcode::NoLink;
    }
    return exitcode::Done;
}

int BadBlock(Cli& cli, const QString& text)
{
    return cli.Fail(
        exitcode::Usage,
        QStringLiteral("Неверный блок «%1»: ожидается ts:N, tit:N или tu:N (N от 0 до 7)")
            .arg(text));
}

int RunFlash(Cli& cli, const Options& o)
{
    FlashRequest request{o.args.value(1), {}, o.loader, o.verify};
    for (const QString& name : o.blockList.split(u',', Qt::SkipEmptyParts)) {
        const auto r = blocks::ParseRef(name);
        if (!r)
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("Неверный блок «%1» в --blocks").arg(name));
        request.blocks << *r;
    }
    if (o.outdated == !request.blocks.isEmpty())
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("flash: нужно одно из --outdated или --blocks СПИСОК"));
    if (o.verify && o.loader)
        return cli.Fail(exitcode::Usage, QStringLiteral("flash: --verify сверяет версию прошивки, "
                                                        "у загрузчика её нет"));
    return Flash(cli, request);
}

// The protocol and the JUnit report of the run that ended; exit 2 when one is not written.
int WriteBenchReports(Cli& cli, const Options& o, int code)
{
    const RunRecord& run = cli.core.Test.LastRun();
    if (!run.Ended())
        return code;
    if (!o.report.isEmpty()) {
        // The module test window's settings, kept beside the window's settings file.
        std::unique_ptr<QSettings> main;
        if (!o.settings.isEmpty())
            main = std::make_unique<QSettings>(o.settings, QSettings::IniFormat);
        const std::unique_ptr<QSettings> store(benchsettings::OpenStore(main.get()));
        const QString error =
            protocolprint::WritePdf(run, benchsettings::Read(*store),
                                    QStringLiteral("tavena-cli " TAVENA_VERSION_TEXT), o.report);
        if (!error.isEmpty())
            code = cli.Fail(exitcode::Usage, error);
    }
    if (!o.junit.isEmpty()) {
        QSaveFile file(o.junit);
        const QByteArray xml = junitreport::Xml(run, QSysInfo::machineHostName());
        if (!file.open(QIODevice::WriteOnly) || file.write(xml) != xml.size() || !file.commit())
            code = cli.Fail(exitcode::Usage, QStringLiteral("Отчёт JUnit не записан в «%1»: %2")
                                                 .arg(o.junit, FileErrorText(file)));
    }
    return code;
}

int RunBench(Cli& cli, const Options& o)
{
    bool ok = false;
    const int n = o.cycles.toInt(&ok);
    if (!ok || n < 1)
        return cli.Fail(exitcode::Usage, QStringLiteral("Неверное --cycles «%1»").arg(o.cycles));
    return WriteBenchReports(cli, o, Bench(cli, n, o.logDir));
}

// The inputs named by watch --series; nullopt once the refusal is said.
std::optional<QList<trend::Key>> SeriesOf(Cli& cli, const Options& o, int* code)
{
    QList<trend::Key> series;
    for (const QString& name : o.series.split(u',', Qt::SkipEmptyParts)) {
        const auto key = trend::ParseKey(name);
        if (!key) {
            *code = cli.Fail(exitcode::Usage,
                             QStringLiteral("Неверный вход «%1»: ожидается tit:N/K, tii:N/K или "
                                            "ts:N/K")
                                 .arg(name));
            return std::nullopt;
        }
        series << *key;
    }
    if (series.isEmpty()) {
        *code = cli.Fail(exitcode::Usage, QStringLiteral("watch --csv: нужен --series СПИСОК"));
        return std::nullopt;
    }
    return series;
}

int RunTelecontrol(Cli& cli, const QStringList& a)
{
    const auto b = blocks::ParseRef(a[1]);
    if (!b || b->slot != 3)
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Неверный блок ТУ «%1»: ожидается tu:N").arg(a[1]));
    bool ok = false;
    const int relay = a[2].toInt(&ok);
    if (!ok || relay < 1 || relay > 256)
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Неверный номер реле «%1»: 1..256").arg(a[2]));
    return TelecontrolCommand(cli, *b, relay);
}

// A subcommand on a named block (argument 2).
int RunOnBlock(Cli& cli, const Options& o)
{
    const QStringList& a = o.args;
    const auto block = blocks::ParseRef(a[2]);
    if (!block)
        return BadBlock(cli, a[2]);
    const QString command = a[0], sub = a[1];
    if (command == u"params")
        return sub == u"get" ? ParamsGet(cli, *block) : ParamsSet(cli, *block, a.mid(3), o.file);
    if (command == u"calibration") {
        const QStringList fields{o.zero, o.maximum, o.minimum, o.zone};
        if (sub == u"get" && !fields.join(QString()).isEmpty())
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("calibration get: значения задаёт set"));
        return Calibration(cli, *block, sub == u"set", fields);
    }
    return Interlock(cli, *block, sub == u"write", a[3]);
}

// restore's options: the blocks named, the blocks written elsewhere, the calibration and the
// logic; the exit code when a block is not written as a block.
std::optional<kpconfig::RestoreOptions> RestoreOptionsOf(Cli& cli, const Options& o, int* code)
{
    kpconfig::RestoreOptions options;
    options.calibration = o.withCalibration;
    options.interlock = o.withInterlock;
    for (const QString& name : o.blockList.split(u',', Qt::SkipEmptyParts)) {
        const auto r = blocks::ParseRef(name);
        if (!r) {
            *code = BadBlock(cli, name);
            return std::nullopt;
        }
        options.blocks << *r;
    }
    for (const QString& pair : o.map.split(u',', Qt::SkipEmptyParts)) {
        const auto from = blocks::ParseRef(pair.section(u'=', 0, 0));
        const auto to = blocks::ParseRef(pair.section(u'=', 1));
        if (!from || !to) {
            *code = cli.Fail(exitcode::Usage,
                             QStringLiteral("Неверное --map «%1»: ожидается ts:1=ts:3").arg(pair));
            return std::nullopt;
        }
        options.map.append({*from, *to});
    }
    return options;
}

// What backup, diff and restore are given, checked before the link is brought up, so that a
// file or an option that does not do sends nothing at all.
std::optional<int> Precheck(Cli& cli, const Options& o)
{
    const QString command = o.args.value(0);
    int code = exitcode::Done;
    if (command == u"watch" && o.csv)
        return SeriesOf(cli, o, &code) ? std::nullopt : std::optional<int>(code);
    // The reports' folders are there to write in before the run takes its minutes.
    for (const QString& path : {o.report, o.junit}) {
        const QFileInfo folder(QFileInfo(path).absolutePath());
        if (command == u"bench" && !path.isEmpty() && (!folder.isDir() || !folder.isWritable()))
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("Нельзя записать «%1»: нет каталога «%2» или он "
                                           "закрыт для записи")
                                .arg(path, folder.filePath()));
    }
    if ((command != u"diff" && command != u"restore") || o.args.size() != 2)
        return std::nullopt;
    if (const auto code = LoadConfig(cli, o.args[1]))
        return code;
    if (command != u"restore")
        return std::nullopt;
    const auto options = RestoreOptionsOf(cli, o, &code);
    if (!options)
        return code;
    if (const auto problem = kpconfig::Service::MappingProblem(*cli.config, *options))
        return cli.Fail(exitcode::Usage, *problem);
    return std::nullopt;
}

int Run(Cli& cli, const Options& o)
{
    const QStringList& a = o.args;
    const QString command = a.value(0), sub = a.value(1);
    if (command == u"scan" && a.size() == 1)
        return Scan(cli);
    if ((command == u"params" &&
         ((sub == u"get" && a.size() == 3) || (sub == u"set" && a.size() >= 3))) ||
        (command == u"calibration" && (sub == u"get" || sub == u"set") && a.size() == 3) ||
        (command == u"interlock" && (sub == u"read" || sub == u"write") && a.size() == 4))
        return RunOnBlock(cli, o);
    if (command == u"flash" && a.size() == 2)
        return RunFlash(cli, o);
    if (command == u"bench" && a.size() == 1)
        return RunBench(cli, o);
    if (command == u"backup" && a.size() == 2)
        return Backup(cli, a[1]);
    if (command == u"diff" && a.size() == 2)
        return Diff(cli);
    if (command == u"restore" && a.size() == 2) {
        int code = exitcode::Done;
        const auto options = RestoreOptionsOf(cli, o, &code);
        return options ? Restore(cli, *options) : code;
    }
    if (command == u"clock" && sub == u"set" && a.size() == 2)
        return ClockSet(cli);
    if (command == u"tc" && a.size() == 3)
        return RunTelecontrol(cli, a);
    if (command == u"watch" && a.size() == 1 && !o.csv)
        return Watch(cli);
    if (command == u"watch" && a.size() == 1) {
        int code = exitcode::Usage;
        const auto series = SeriesOf(cli, o, &code); // already checked before the link
        return series ? WatchCsv(cli, *series) : code;
    }
    return cli.Fail(
        exitcode::Usage,
        QStringLiteral("Неизвестная подкоманда «%1»; см. tavena-cli --help").arg(a.join(u' ')));
}

} // namespace

int main(int argc, char* argv[])
{
    // The protocol is laid out with fonts, which need Qt GUI; without a window, on the offscreen
    // platform. Every other command needs Qt Core alone.
    bool printing = false;
    for (int i = 1; i < argc; ++i)
        printing = printing || QByteArray(argv[i]).startsWith("--report");
    if (printing)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app(printing ? new QGuiApplication(argc, argv)
                                                         : new QCoreApplication(argc, argv));
    QCoreApplication::setOrganizationName(QStringLiteral("Brantell"));
    QCoreApplication::setApplicationName(QStringLiteral("TavenaConfig"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVENA_VERSION_TEXT));

    Options o;
    if (const auto done = ParseArguments(o))
        return *done;

    ProgramCore core;
    ApplySettings(o, core.Link.settings);
    core.Trace.TrassEnable = false; // no trace grid without a window
    Interrupts interrupts;
    CliOperator op(o.retries, o.interactive);
    op.stage = [&core] { return core.Link.Operations.Current(); };
    core.Blocks.SetOperator(&op);
    Cli cli{core, op, interrupts, o.json, QTextStream(stdout), std::nullopt};
    if (!o.capture.isEmpty()) {
        const QString error = core.Capture.Start(o.capture);
        if (!error.isEmpty())
            return Usage(error);
        QObject::connect(&core.Capture, &CaptureRecorder::failed, &core.Capture,
                         [](const QString& m) { Usage(m); });
    }

    // Where an interruption finds the tool, taken when it comes.
    QString where = QStringLiteral("ожидание связи с адаптером");
    QObject::connect(&interrupts, &Interrupts::arrived, &interrupts, [&] {
        if (core.Link.Operations.Busy())
            where = core.Link.Operations.Current();
        else if (core.Link.LinkOpen)
            where = o.args.join(u' ');
    });
    if (const auto refused = Precheck(cli, o))
        return *refused;
    int code = BringLinkUp(core, o.linkTimeout);
    if (code == exitcode::Done)
        code = Run(cli, o);
    if (interrupts.interrupted) {
        op.EndProgress();
        std::fputs(QStringLiteral("Прервано (%1): больше ничего не отправлено\n")
                       .arg(where)
                       .toLocal8Bit()
                       .constData(),
                   stderr);
        if (o.args.value(0) != u"watch")
            code = exitcode::Interrupted;
    }
    core.Capture.Stop();
    std::fflush(stdout);
    return code;
}
