// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/moduletest.h"

#include "exchange/linkcore.h"
#include "fielddata/telecontrol.h"
#include "support/convert.h"
#include "support/eventwait.h"
#include "support/localtext.h"
#include "support/operatorio.h"
#include "testbench/benchconfig.h"
#include "testbench/testlog.h"

#include <QElapsedTimer>
#include <chrono>
#include <thread>

namespace
{
const QString Caption = QStringLiteral("Проверка модулей");

QStringList matrixColumns()
{
    QStringList h{QString()};
    for (int k = 1; k <= ModuleTest::Relays; ++k)
        h << QString::number(k);
    h << QStringLiteral("Result");
    return h;
}

QStringList matrixRows()
{
    QStringList h{QString()};
    for (int r = 1; r <= ModuleTest::Relays; ++r)
        h << QString::number(r);
    return h;
}
} // namespace

ModuleTest::ModuleTest(LinkCore& link, Telecontrol& telecontrol, LiveTables& tables,
                       BenchConfig& bench, QObject* parent)
    : QObject(parent), StringGrid1(matrixColumns(), matrixRows()), link_(link), tc_(telecontrol),
      tables_(tables), bench_(bench)
{
    TimerTest.setObjectName(QStringLiteral("TimerTest"));
    TimerTest.setInterval(2000);
    TimerTest.setTimerType(Qt::PreciseTimer);
    connect(&TimerTest, &QTimer::timeout, this, &ModuleTest::TimerTestTimer);
}

void ModuleTest::StartOrStop(int cycles)
{
    if (TestRunning)
        StopRequested = true;
    else
        RunModuleTest(cycles);
}

void ModuleTest::Pace(int ms)
{
    TimerTest.setInterval(std::max(ms, 0));
    TimerTest.start();
    eventwait::WaitWhile([this] { return TimerTest.isActive(); });
    TimerTest.stop();
}

bool ModuleTest::Stopping()
{
    if (eventwait::Closing())
        StopRequested = true;
    return StopRequested;
}

void ModuleTest::SetRunning(bool running)
{
    TestRunning = running;
    ConfigButtonsEnabled = !running;
    ButtonTestCaption =
        running ? QStringLiteral("Остановить проверку") : QStringLiteral("Новая проверка");
    ButtonTestBigCaption =
        running ? QStringLiteral("Остановить проверку") : QStringLiteral("Новая проверка (30)");
    emit buttonsChanged();
}

void ModuleTest::Entry(const QString& text, ActionLog::Colour colour)
{
    const QTime time = Now().time();
    TestActions.Append(LongTimeText(time), text, colour);
    testlog::AppendTestLog(LogFile, testlog::Line(time, text));
}

void ModuleTest::FileLine(const QString& text)
{
    testlog::AppendTestLog(LogFile, testlog::Line(Now().time(), text));
}

void ModuleTest::ReplaceLastEntry(const QString& text, ActionLog::Colour colour)
{
    TestActions.ReplaceLast(text, colour);
    FileLine(text);
}

void ModuleTest::ResetRow()
{
    for (int i = 1; i <= Relays; ++i)
        tables_.Telesignals.setCell(1, i, QStringLiteral("1"));
    StringGrid1.clearCells(1, Relays, 1, ResultColumn);
}

void ModuleTest::RunModuleTest(int cycles)
{
    const auto operation = link_.Operations.Begin(QStringLiteral("проверка модулей"));
    if (!operation)
        return;
    TestRunning = true;
    StopRequested = false;
    bool errors = false;

    QString error;
    const auto file = testlog::Create(LogBase.isEmpty() ? QDir::current() : QDir(LogBase),
                                      testlog::FileName(Now()), &error);
    if (!file) {
        // Without its log the run does not start; the window stays as it was.
        TestRunning = false;
        bench_.Operator->Tell(Caption, error);
        return;
    }
    LogFile = *file;

    ResetRow();
    TestActions.Clear();
    SetRunning(true);
    emit windowWanted();

    cycles = std::min(cycles, MaxCycles);
    BeginRecord(cycles);
    FileLine(QStringLiteral("Начал проверку. Циклов по плану: %1").arg(cycles));

    Entry(QStringLiteral("Начинаю запись конфигурации ТС для проверки"), ActionLog::Red);
    const bool ts =
        Configure(record_.tsConfig, [this] { return bench_.WriteTsConfig(BenchAddress, 100, 50); });
    Entry(ts ? QStringLiteral("Конфигурация ТС для проверки записана")
             : QStringLiteral("Ошибка при записи конфигурации ТС"),
          ActionLog::Blue);
    StopRequested = StopRequested || !ts;

    if (!Stopping()) {
        Entry(QStringLiteral("Начинаю запись конфигурации ТУ для проверки"), ActionLog::Red);
        const bool tu = Configure(
            record_.tuConfig, [this] { return bench_.WriteTuConfig(BenchAddress, 0, 200, 0, 0); });
        Entry(tu ? QStringLiteral("Конфигурация ТУ для проверки записана")
                 : QStringLiteral("Ошибка при записи конфигурации ТУ"),
              ActionLog::Blue);
        StopRequested = StopRequested || !tu;
        ReplaceLastEntry(QStringLiteral("Проверка будет начата через 4 секунды..."),
                         ActionLog::Red);
        if (!Stopping())
            Pace(StartDelay);
        if (!Stopping()) {
            Entry(QStringLiteral("Начинаю проверку модуля"), ActionLog::Blue);
            for (int cycle = 1; cycle <= cycles; ++cycle)
                if (!Cycle(cycle, errors))
                    break;
        }
    }

    Entry(Stopping() ? QStringLiteral("Проверка была остановлена")
          : errors   ? QStringLiteral("Проверка завершена. ВНИМАНИЕ: найдены ошибки")
                   : QStringLiteral("Проверка завершена, ошибок не найдено"),
          ActionLog::Blue);
    EndRecord();
    SetRunning(false);
}

void ModuleTest::BeginRecord(int cycles)
{
    record_ = RunRecord();
    record_.started = Now();
    record_.adapter = link_.settings.BaseIPadapter.trimmed();
    record_.blocks = {{QStringLiteral("ТС"), BenchAddress, bench_.VersionOf(1, BenchAddress)},
                      {QStringLiteral("ТУ"), BenchAddress, bench_.VersionOf(3, BenchAddress)}};
    record_.cyclesPlanned = cycles;
}

bool ModuleTest::Configure(RunRecord::Step& step, const std::function<bool()>& write)
{
    QElapsedTimer t;
    t.start();
    const bool written = write();
    step.written = written;
    step.seconds = double(t.nsecsElapsed()) / 1e9;
    return written;
}

void ModuleTest::EndRecord()
{
    RunRecord& r = record_;
    r.ended = Now();
    if (r.tsConfig.written == false || r.tuConfig.written == false)
        r.ending = RunRecord::Ending::ConfigurationFailed;
    else if (r.ending != RunRecord::Ending::StoppedAtRelay && r.cyclesRun < r.cyclesPlanned)
        r.ending = RunRecord::Ending::Stopped;
    for (int relay = 1; relay <= Relays; ++relay) {
        QStringList row;
        for (int col = 1; col <= ResultColumn; ++col)
            row << StringGrid1.cell(relay, col);
        r.matrix << row;
    }
    for (int row = 0; row < TestActions.rowCount(); ++row)
        if (!TestActions.cell(row, 1).isEmpty())
            r.actions.append({TestActions.cell(row, 0), TestActions.cell(row, 1)});
}

bool ModuleTest::Cycle(int cycle, bool& errors)
{
    Pace(CyclePacing);
    Entry(QStringLiteral("Цикл №%1").arg(cycle), ActionLog::Blue);
    if (Stopping())
        return false;
    ResetRow();
    for (int relay = 1; relay <= Relays; ++relay) {
        if (Stopping()) {
            Entry(QStringLiteral("ВНИМАНИЕ! Проверка остановлена на реле %1").arg(relay),
                  ActionLog::Red);
            StoppedAt(relay);
            return false;
        }
        QElapsedTimer t;
        t.start();
        if (!tc_.Command(BenchAddress, relay)) {
            // The program is closing, or the timeout could not be read (the operator was
            // told): nothing more is sent.
            StopRequested = true;
            StoppedAt(relay);
            return false;
        }
        // The comparison sees the table as it stood when the exchange ended.
        if (RelayPause > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(RelayPause));
        const bool passed = Check(relay);
        RunRecord::Relay& r = record_.relays[size_t(relay - 1)];
        ++r.checks;
        r.seconds += double(t.nsecsElapsed()) / 1e9;
        if (!passed) {
            Entry(QStringLiteral("ВНИМАНИЕ! Ошибка в реле %1").arg(relay), ActionLog::Red);
            errors = true;
            QString inputs;
            for (int input = 1; input <= Relays; ++input) {
                const QString c = StringGrid1.cell(relay, input);
                inputs += c.size() == 1 ? c : QStringLiteral("-");
            }
            r.faults.append({cycle, inputs});
        }
    }
    ++record_.cyclesRun;
    return true;
}

void ModuleTest::StoppedAt(int relay)
{
    record_.ending = RunRecord::Ending::StoppedAtRelay;
    record_.stoppedAtRelay = relay;
}

bool ModuleTest::Check(int relay)
{
    bool passed = true;
    for (int input = 1; input <= Relays; ++input) {
        const QString text = tables_.Telesignals.cell(1, input);
        bool ok = false;
        const int read = text.trimmed().toInt(&ok);
        const auto v = ok ? std::optional<int>(read) : std::nullopt;
        // An empty cell (the table was cleared meanwhile) tells nothing of the input: the
        // relay fails, and its cell stays empty.
        StringGrid1.setCell(relay, input, v ? QString::number(*v) : text);
        if (!v || (input == relay ? *v == 1 : *v == 0))
            passed = false;
    }
    StringGrid1.setCell(relay, ResultColumn,
                        passed ? QStringLiteral("OK") : QStringLiteral("ERROR"));
    return passed;
}

void ModuleTest::ConfigButton(const QString& what, const QList<Typed>& texts,
                              const std::function<void(const QList<int>&)>& write)
{
    const auto operation = link_.Operations.Begin(QStringLiteral("запись конфигурации ") + what);
    if (!operation)
        return;
    TestActions.Append(LongTimeText(Now().time()),
                       QStringLiteral("Начинаю запись конфигурации ") + what, ActionLog::Red);
    // Converted in the order the texts are read; the first that is no integer stops it.
    QList<int> values;
    QString error;
    for (const Typed& typed : texts) {
        const auto v = StrToInt(typed.text, typed.label, &error);
        if (!v)
            return bench_.Operator->Tell(InputErrorCaption, error);
        values << *v;
    }
    write(values);
    TestActions.Append(LongTimeText(Now().time()),
                       QStringLiteral("Конфигурация %1 записана").arg(what), ActionLog::Blue);
}

void ModuleTest::ConfigureTs(int address, const Typed& entr, const Typed& cycleTime)
{
    ConfigButton(QStringLiteral("ТС"), {entr, cycleTime},
                 [&](const QList<int>& v) { bench_.WriteTsConfig(address, v[1], v[0]); });
}

void ModuleTest::ConfigureTu(int address, const Typed& minimum, const Typed& maximum,
                             const Typed& exit, const Typed& type)
{
    ConfigButton(QStringLiteral("ТУ"), {minimum, maximum, exit, type}, [&](const QList<int>& v) {
        bench_.WriteTuConfig(address, v[3], v[2], v[0], v[1]);
    });
}
