// SPDX-License-Identifier: GPL-3.0-or-later
// tavena-cli: the block service, the module test and the live data of a controlled point from a
// script, without a window. It reads the window's settings, brings the link up as the window
// does (the keep-alive until the adapter's connection request), runs one subcommand and says
// how it went in its exit code.

#include "app/clicommands.h"
#include "app/cliterminal.h"
#include "app/programcore.h"
#include "app/storedsettings.h"
#include "support/eventwait.h"
#include "tavenaversion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace
{
const char* const Help = R"(
Подкоманды:
  scan                        найти блоки на шине (как «Найти установленные блоки»)
  params get БЛОК             параметры блока с их ключами
  params set БЛОК КЛЮЧ=ЗНАЧ…  записать параметры и прочитать обратно (или --file F.json)
  flash ОБРАЗ (--outdated | --blocks ts:1,tu:0…) [--loader]
                              прошить блоки образом *.rom (устаревшие или названные)
  calibration get БЛОК        калибровка АЦП блока ТИТ
  calibration set БЛОК [--max V] [--min V] [--zero V] [--zone V]
                              записать калибровку и прочитать обратно
  interlock read БЛОК F.blk   логика блокировок блока ТУ в файл
  interlock write БЛОК F.blk  логика блокировок из файла в блок
  bench [--cycles N] [--log-dir D]
                              проверка модулей (ТУ 0 на ТС 0), журнал в D/TestLogs
  clock set                   установить время КП
  tc БЛОК РЕЛЕ                команда телеуправления (блок tu:N, реле 1..256)
  watch                       телесигналы, события, измерения и счётчики по мере прихода
Блоки: ts:0…ts:7, tit:0…tit:7, tu:0…tu:7.

Коды выхода:
  0  выполнено
  1  блок или адаптер не ответил (этап назван в стандартном потоке ошибок)
  2  неверный вызов или ввод
  3  нет связи с адаптером
  4  проверка модулей нашла неисправные реле
  130 прервано (Ctrl-C, SIGTERM): больше ничего не отправлено
)";

struct Options {
    QString settings, adapter, computer, port, mac, timeout, km4, capture;
    int linkTimeout = 10;
    int retries = 0;
    bool interactive = false;
    bool json = false;
    QString file, blockList;
    bool outdated = false, loader = false;
    QString cycles = QStringLiteral("1"), logDir;
    QStringList calibration; // zero, max, min, zone
    QStringList args;
};

std::optional<int> Km4Index(const QString& text)
{
    const QString t = text.trimmed().toLower();
    const QStringList names{"can0-500", "can1-500", "can0-50", "can1-50", "none"};
    const int byName = int(names.indexOf(t));
    if (byName >= 0)
        return byName;
    bool ok = false;
    const int i = t.toInt(&ok);
    return ok && i >= 0 && i < 5 ? std::optional<int>(i) : std::nullopt;
}

int Usage(const QString& message)
{
    std::fputs((message + QStringLiteral("\n")).toLocal8Bit().constData(), stderr);
    return exitcode::Usage;
}

// The window's settings, then what the command line overrides.
void ApplySettings(const Options& o, LinkSettings& s)
{
    std::unique_ptr<QSettings> store(o.settings.isEmpty()
                                         ? OpenSettingsStore()
                                         : new QSettings(o.settings, QSettings::IniFormat));
    StoredSettings stored;
    stored.Load(*store);
    s.BaseIP = stored.BaseIP;
    s.BaseIPadapter = stored.BaseIPadapter;
    s.BaseMacAdapter = stored.BaseMacAdapter;
    s.BaseMask = stored.BaseMask;
    s.BaseGW = stored.BaseGW;
    s.BasePortC = stored.BasePortC;
    s.BasePortD = stored.BasePortD;
    s.Timeout = stored.LabeledEdit1;
    s.Km4Cfg = stored.Km4CfgItemIndex;
    if (!o.adapter.isEmpty())
        s.BaseIPadapter = o.adapter;
    if (!o.computer.isEmpty())
        s.BaseIP = o.computer;
    if (!o.port.isEmpty())
        s.BasePortD = o.port;
    if (!o.mac.isEmpty())
        s.BaseMacAdapter = o.mac;
    if (!o.timeout.isEmpty())
        s.Timeout = o.timeout;
    if (!o.km4.isEmpty())
        s.Km4Cfg = *Km4Index(o.km4);
}

// The keep-alive until the adapter opens the link, for at most the link timeout.
int BringLinkUp(ProgramCore& core, int seconds)
{
    LinkCore& link = core.Link;
    if (link.settings.BaseIPadapter.trimmed().isEmpty())
        return Usage(QStringLiteral("Не задан IP адрес адаптера (--adapter)"));
    const QString error = link.ConnectClick(true);
    if (!error.isEmpty()) {
        std::fputs((error + QStringLiteral("\n")).toLocal8Bit().constData(), stderr);
        return exitcode::NoLink;
    }
    link.Timer4Timer(); // the first keep-alive at once, not a second later
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

int Run(Cli& cli, const Options& o)
{
    const QStringList& a = o.args;
    auto block = [&](int i) -> std::optional<blocks::Ref> {
        return i < a.size() ? blocks::ParseRef(a[i]) : std::nullopt;
    };
    auto badBlock = [&](int i) {
        return cli.Fail(
            exitcode::Usage,
            QStringLiteral("Неверный блок «%1»: ожидается ts:N, tit:N или tu:N (N от 0 до 7)")
                .arg(i < a.size() ? a[i] : QString()));
    };
    const QString command = a.value(0), sub = a.value(1);
    if (command == u"scan" && a.size() == 1)
        return Scan(cli);
    if (command == u"params" && sub == u"get" && a.size() == 3)
        return block(2) ? ParamsGet(cli, *block(2)) : badBlock(2);
    if (command == u"params" && sub == u"set" && a.size() >= 3)
        return block(2) ? ParamsSet(cli, *block(2), a.mid(3), o.file) : badBlock(2);
    if (command == u"flash" && a.size() == 2) {
        QList<blocks::Ref> chosen;
        for (const QString& name : o.blockList.split(u',', Qt::SkipEmptyParts)) {
            const auto r = blocks::ParseRef(name);
            if (!r)
                return cli.Fail(exitcode::Usage,
                                QStringLiteral("Неверный блок «%1» в --blocks").arg(name));
            chosen << *r;
        }
        if (o.outdated == !chosen.isEmpty())
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("flash: нужно одно из --outdated или --blocks СПИСОК"));
        return Flash(cli, a[1], o.loader, chosen);
    }
    if (command == u"calibration" && (sub == u"get" || sub == u"set") && a.size() == 3) {
        if (!block(2))
            return badBlock(2);
        if (sub == u"get" && !o.calibration.join(QString()).isEmpty())
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("calibration get: значения задаёт set"));
        return Calibration(cli, *block(2), sub == u"set", o.calibration);
    }
    if (command == u"interlock" && (sub == u"read" || sub == u"write") && a.size() == 4)
        return block(2) ? Interlock(cli, *block(2), sub == u"write", a[3]) : badBlock(2);
    if (command == u"bench" && a.size() == 1) {
        bool ok = false;
        const int n = o.cycles.toInt(&ok);
        if (!ok || n < 1)
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("Неверное --cycles «%1»").arg(o.cycles));
        return Bench(cli, n, o.logDir);
    }
    if (command == u"clock" && sub == u"set" && a.size() == 2)
        return ClockSet(cli);
    if (command == u"tc" && a.size() == 3) {
        const auto b = block(1);
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
    if (command == u"watch" && a.size() == 1)
        return Watch(cli);
    return cli.Fail(
        exitcode::Usage,
        QStringLiteral("Неизвестная подкоманда «%1»; см. tavena-cli --help").arg(a.join(u' ')));
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Brantell"));
    QCoreApplication::setApplicationName(QStringLiteral("TavenaConfig"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVENA_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Блоки КП Тавена из сценария, без окна: поиск, параметры, время, "
                       "телеуправление, живые данные.") +
        QString::fromUtf8(Help));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption settings("settings", "Файл настроек вместо настроек окна.", "FILE");
    const QCommandLineOption adapter("adapter", "IP адрес адаптера.", "IP");
    const QCommandLineOption computer("computer", "IP адрес компьютера.", "IP");
    const QCommandLineOption port("port", "№ порта данных адаптера.", "PORT");
    const QCommandLineOption mac("mac", "MAC адрес адаптера.", "MAC");
    const QCommandLineOption timeout("timeout", "Время ожидания, мс.", "MS");
    const QCommandLineOption km4("km4",
                                 "Канал и скорость адаптера версии 4: can0-500, can1-500, "
                                 "can0-50, can1-50, none (или 0..4).",
                                 "MODE");
    const QCommandLineOption linkTimeout("link-timeout", "Сколько секунд ждать связи (10).", "S",
                                         "10");
    const QCommandLineOption retries("retries", "Сколько раз повторять запрос без ответа (0).", "N",
                                     "0");
    const QCommandLineOption interactive("interactive", "Спрашивать «Повторить?» в терминале.");
    const QCommandLineOption json("json", "Вывод в JSON (ключи ASCII).");
    const QCommandLineOption file("file", "params set: значения из JSON-файла.", "F.json");
    const QCommandLineOption capture("capture", "Записать весь обмен в файл pcapng.", "FILE");
    const QCommandLineOption outdated("outdated", "flash: устаревшие блоки (как отмечает окно).");
    const QCommandLineOption blockList("blocks", "flash: эти блоки, например ts:1,tu:0.", "СПИСОК");
    const QCommandLineOption loader("loader", "flash: перезапись загрузчика вместо прошивки.");
    const QCommandLineOption cycles("cycles", "bench: циклов (1; не более 50).", "N", "1");
    const QCommandLineOption logDir("log-dir", "bench: где создать каталог TestLogs.", "D");
    const QCommandLineOption zero("zero", "calibration set: Значение \"Нуля\".", "V");
    const QCommandLineOption maximum("max", "calibration set: Значение Максимума.", "V");
    const QCommandLineOption minimum("min", "calibration set: Значение Минимума.", "V");
    const QCommandLineOption zone("zone", "calibration set: Зона \"Нуля\".", "V");
    for (const auto* o : {&settings, &adapter,     &computer,  &port,        &mac,    &timeout,
                          &km4,      &linkTimeout, &retries,   &interactive, &json,   &file,
                          &capture,  &outdated,    &blockList, &loader,      &cycles, &logDir,
                          &zero,     &maximum,     &minimum,   &zone})
        parser.addOption(*o);
    parser.addPositionalArgument("command", "Подкоманда и её аргументы.",
                                 "ПОДКОМАНДА [АРГУМЕНТЫ…]");
    if (!parser.parse(QCoreApplication::arguments()))
        return Usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return exitcode::Done;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::fputs("tavena-cli " TAVENA_VERSION_TEXT "\n", stdout);
        return exitcode::Done;
    }

    Options o;
    o.settings = parser.value(settings);
    o.adapter = parser.value(adapter);
    o.computer = parser.value(computer);
    o.port = parser.value(port);
    o.mac = parser.value(mac);
    o.timeout = parser.value(timeout);
    o.km4 = parser.value(km4);
    o.interactive = parser.isSet(interactive);
    o.json = parser.isSet(json);
    o.file = parser.value(file);
    o.capture = parser.value(capture);
    o.outdated = parser.isSet(outdated);
    o.loader = parser.isSet(loader);
    o.blockList = parser.value(blockList);
    o.cycles = parser.value(cycles);
    o.logDir = parser.value(logDir);
    o.calibration = {parser.value(zero), parser.value(maximum), parser.value(minimum),
                     parser.value(zone)};
    o.args = parser.positionalArguments();
    bool ok = false;
    o.linkTimeout = parser.value(linkTimeout).toInt(&ok);
    if (!ok || o.linkTimeout < 1)
        return Usage(QStringLiteral("Неверное --link-timeout «%1»").arg(parser.value(linkTimeout)));
    o.retries = parser.value(retries).toInt(&ok);
    if (!ok || o.retries < 0)
        return Usage(QStringLiteral("Неверное --retries «%1»").arg(parser.value(retries)));
    if (!o.km4.isEmpty() && !Km4Index(o.km4))
        return Usage(QStringLiteral("Неверный режим --km4 «%1»").arg(o.km4));
    if (o.args.isEmpty())
        return Usage(QStringLiteral("Не задана подкоманда; см. tavena-cli --help"));

    ProgramCore core;
    ApplySettings(o, core.Link.settings);
    core.Trace.TrassEnable = false; // no trace grid without a window
    Interrupts interrupts;
    CliOperator op(o.retries, o.interactive);
    op.stage = [&core] { return core.Link.Operations.Current(); };
    core.Blocks.SetOperator(&op);
    Cli cli{core, op, interrupts, o.json};
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
