// SPDX-License-Identifier: GPL-3.0-or-later
// tavena-cli's command line: its help, its options as a table applied in a loop, their checks,
// and the window's settings with what the command line overrides.

#include "app/clioptions.h"

#include "app/clicommands.h"
#include "app/storedsettings.h"
#include "exchange/linksettings.h"
#include "tavenaversion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>
#include <cstdio>
#include <memory>

namespace
{

const char* const Help = R"(
Подкоманды:
  scan                        найти блоки на шине (как «Найти установленные блоки»)
  params get БЛОК             параметры блока с их ключами
  params set БЛОК КЛЮЧ=ЗНАЧ…  записать параметры и прочитать обратно (или --file F.json)
  flash ОБРАЗ (--outdated | --blocks ts:1,tu:0…) [--loader | --verify]
                              прошить блоки образом *.rom (устаревшие или названные);
                              --verify: прочитать их заново и сверить версию с образом
  calibration get БЛОК        калибровка АЦП блока ТИТ
  calibration set БЛОК [--max V] [--min V] [--zero V] [--zone V]
                              записать калибровку и прочитать обратно
  interlock read БЛОК F.blk   логика блокировок блока ТУ в файл
  interlock write БЛОК F.blk  логика блокировок из файла в блок
  bench [--cycles N] [--log-dir D] [--report F.pdf] [--junit F.xml]
                              проверка модулей (ТУ 0 на ТС 0), журнал в D/TestLogs
  backup ФАЙЛ                 конфигурация всего КП в файл (параметры, калибровка ТИТ,
                              логика блокировок ТУ)
  diff ФАЙЛ                   отличия КП от файла
  restore ФАЙЛ [--blocks ts:1,…] [--map ts:1=ts:3,…] [--with-calibration] [--with-interlock]
                              записать файл в блоки, прочитать обратно и сравнить
  clock set                   установить время КП
  tc БЛОК РЕЛЕ                команда телеуправления (блок tu:N, реле 1..256)
  watch [--csv --series tit:2/5,tii:1/3,ts:0/7…]
                              телесигналы, события, измерения и счётчики по мере прихода;
                              с --csv: названные входы столбцами, как экспорт графиков
Блоки: ts:0…ts:7, tit:0…tit:7, tu:0…tu:7.

Коды выхода:
  0  выполнено
  1  блок или адаптер не ответил (этап назван в стандартном потоке ошибок), или блок
     надо прошить ещё раз (запрос к нему повторялся, версия не та)
  2  неверный вызов или ввод
  3  нет связи с адаптером
  4  проверка модулей нашла неисправные реле
  5  КП хранит не то, что в файле конфигурации (diff)
  130 прервано (Ctrl-C, SIGTERM): больше ничего не отправлено
)";

// An option of the command line: a value into a text of Options, or a switch into a flag.
struct OptionEntry {
    const char* name;
    const char* help;
    const char* value;                // the value's name; null for a switch
    QString Options::*text = nullptr; // where a value goes
    bool Options::*flag = nullptr;    // where a switch goes
    const char* defaultValue = nullptr;
};

const OptionEntry OptionEntries[] = {
    {"settings", "Файл настроек вместо настроек окна.", "FILE", &Options::settings},
    {"adapter", "IP адрес адаптера.", "IP", &Options::adapter},
    {"computer", "IP адрес компьютера.", "IP", &Options::computer},
    {"port", "№ порта данных адаптера.", "PORT", &Options::port},
    {"mac", "MAC адрес адаптера.", "MAC", &Options::mac},
    {"timeout", "Время ожидания, мс.", "MS", &Options::timeout},
    {"km4",
     "Канал и скорость адаптера версии 4: can0-500, can1-500, can0-50, can1-50, none (или 0..4).",
     "MODE", &Options::km4},
    {"link-timeout", "Сколько секунд ждать связи (10).", "S", &Options::linkTimeoutText, nullptr,
     "10"},
    {"retries", "Сколько раз повторять запрос без ответа (0).", "N", &Options::retriesText, nullptr,
     "0"},
    {"interactive", "Спрашивать «Повторить?» в терминале.", nullptr, nullptr,
     &Options::interactive},
    {"json", "Вывод в JSON (ключи ASCII).", nullptr, nullptr, &Options::json},
    {"csv", "watch: CSV названных входов (--series), как экспорт графиков.", nullptr, nullptr,
     &Options::csv},
    {"series", "watch --csv: входы, например tit:2/5,tii:1/3,ts:0/7.", "СПИСОК", &Options::series},
    {"file", "params set: значения из JSON-файла.", "F.json", &Options::file},
    {"capture", "Записать весь обмен в файл pcapng.", "FILE", &Options::capture},
    {"outdated", "flash: устаревшие блоки (как отмечает окно).", nullptr, nullptr,
     &Options::outdated},
    {"blocks", "flash, restore: эти блоки, например ts:1,tu:0.", "СПИСОК", &Options::blockList},
    {"map", "restore: блок файла в другой блок того же типа, например ts:1=ts:3.", "СПИСОК",
     &Options::map},
    {"with-calibration", "restore: записать и калибровку ТИТ (заводская калибровка ценна).",
     nullptr, nullptr, &Options::withCalibration},
    {"with-interlock", "restore: записать и логику блокировок ТУ.", nullptr, nullptr,
     &Options::withInterlock},
    {"loader", "flash: перезапись загрузчика вместо прошивки.", nullptr, nullptr, &Options::loader},
    {"verify", "flash: прочитать прошитые блоки заново и сверить версию с образом.", nullptr,
     nullptr, &Options::verify},
    {"cycles", "bench: циклов (1; не более 50).", "N", &Options::cycles, nullptr, "1"},
    {"log-dir", "bench: где создать каталог TestLogs.", "D", &Options::logDir},
    {"report", "bench: протокол проверки в PDF.", "F.pdf", &Options::report},
    {"junit", "bench: результат в JUnit XML.", "F.xml", &Options::junit},
    {"zero", "calibration set: Значение \"Нуля\".", "V", &Options::zero},
    {"max", "calibration set: Значение Максимума.", "V", &Options::maximum},
    {"min", "calibration set: Значение Минимума.", "V", &Options::minimum},
    {"zone", "calibration set: Зона \"Нуля\".", "V", &Options::zone},
};

QCommandLineOption OptionOf(const OptionEntry& entry)
{
    QCommandLineOption option(QLatin1String(entry.name), QString::fromUtf8(entry.help));
    if (entry.value)
        option.setValueName(QString::fromUtf8(entry.value));
    if (entry.defaultValue)
        option.setDefaultValue(QLatin1String(entry.defaultValue));
    return option;
}

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

// The numbers and modes of the options; the exit code when one is wrong.
std::optional<int> Checked(Options& o)
{
    bool ok = false;
    o.linkTimeout = o.linkTimeoutText.toInt(&ok);
    if (!ok || o.linkTimeout < 1)
        return Usage(QStringLiteral("Неверное --link-timeout «%1»").arg(o.linkTimeoutText));
    o.retries = o.retriesText.toInt(&ok);
    if (!ok || o.retries < 0)
        return Usage(QStringLiteral("Неверное --retries «%1»").arg(o.retriesText));
    if (!o.km4.isEmpty() && !Km4Index(o.km4))
        return Usage(QStringLiteral("Неверный режим --km4 «%1»").arg(o.km4));
    if (o.args.isEmpty())
        return Usage(QStringLiteral("Не задана подкоманда; см. tavena-cli --help"));
    return std::nullopt;
}

} // namespace

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

// Reads the command line into `o`; the exit code when the program is to end at once (help,
// version, bad usage).
std::optional<int> ParseArguments(Options& o)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Блоки КП Тавена из сценария, без окна: поиск, параметры, время, "
                       "телеуправление, живые данные.") +
        QString::fromUtf8(Help));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionEntry& entry : OptionEntries)
        parser.addOption(OptionOf(entry));
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
    for (const OptionEntry& entry : OptionEntries) {
        const QString name = QLatin1String(entry.name);
        if (entry.text)
            o.*entry.text = parser.value(name);
        if (entry.flag)
            o.*entry.flag = parser.isSet(name);
    }
    o.args = parser.positionalArguments();
    return Checked(o);
}
