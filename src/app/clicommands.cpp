// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/clicommands.h"

#include "app/cliterminal.h"
#include "app/programcore.h"
#include "support/eventwait.h"
#include "support/localtext.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>

namespace
{
} // namespace

int Cli::Fail(int code, const QString& message)
{
    op.EndProgress();
    std::fputs((message + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    return code;
}

int Cli::Outcome()
{
    op.EndProgress();
    if (interrupts.interrupted)
        return exitcode::Interrupted;
    return op.Failed() ? exitcode::NoAnswer : exitcode::Done;
}

void Cli::Print(const QJsonValue& value)
{
    const QJsonDocument doc =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    out << QString::fromUtf8(doc.toJson(QJsonDocument::Compact)) << Qt::endl;
}

void Cli::PrintList(const QString& what, const QList<blocks::Ref>& list, bool always)
{
    if (!list.isEmpty() || always)
        out << what << blocks::RefListText(list) << Qt::endl;
}

QJsonArray RefsJson(const QList<blocks::Ref>& list)
{
    QJsonArray names;
    for (const blocks::Ref& b : list)
        names.append(blocks::RefText(b));
    return names;
}

int Scan(Cli& cli)
{
    BlockService& b = cli.core.Blocks;
    b.Discover(BlockService::Scope::Announced);
    const int code = cli.Outcome();
    if (code == exitcode::Interrupted)
        return code;
    QJsonArray all;
    for (int slot = 1; slot <= blocks::Slots; ++slot) {
        for (int address = 0; address < blocks::Addresses; ++address) {
            const BlockService::Entry& e = b.TableEntry(slot, address);
            if (e.function == 0)
                continue;
            const auto [restarts, repeats] = b.Counts(e.line);
            const QString version = b.VersionOfLine(e.line).mid(1);
            if (cli.json) {
                all.append(QJsonObject{{"block", blocks::RefText(slot, address)},
                                       {"type", blocks::TypeName(slot)},
                                       {"address", address},
                                       {"version", version},
                                       {"restarts", restarts},
                                       {"repeats", repeats},
                                       {"outdated", b.bloks.ticked(e.line)},
                                       {"complete", b.RecordRead->at(size_t(e.line))}});
            } else {
                cli.out << blocks::RefText(slot, address) << '\t' << b.bloks.line(e.line)
                        << QStringLiteral("\tрестартов %1\tповторов передач %2")
                               .arg(restarts)
                               .arg(repeats)
                        << Qt::endl;
            }
        }
    }
    if (cli.json)
        cli.Print(all);
    return code;
}

int Bench(Cli& cli, int cycles, const QString& logBase)
{
    ModuleTest& test = cli.core.Test;
    cli.core.Bench.SetOperator(&cli.op);
    test.LogBase = logBase;
    // The entries go to standard error as the run makes them.
    QObject scope;
    QObject::connect(&test.TestActions, &QAbstractItemModel::dataChanged, &scope,
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         for (int r = from.row(); r <= to.row(); ++r)
                             if (!test.TestActions.cell(r, 1).isEmpty() && from.column() <= 1 &&
                                 to.column() >= 1)
                                 std::fputs((test.TestActions.cell(r, 0) + QLatin1Char('\t') +
                                             test.TestActions.cell(r, 1) + QLatin1Char('\n'))
                                                .toLocal8Bit()
                                                .constData(),
                                            stderr);
                     });
    test.RunModuleTest(cycles);
    if (cli.interrupts.interrupted)
        return cli.Outcome();
    if (test.LogFile.isEmpty() || cli.op.Failed())
        return cli.Outcome(); // no log file, or a configuration write failed: said already

    QString last;
    for (int r = test.TestActions.rowCount() - 1; r >= 0 && last.isEmpty(); --r)
        last = test.TestActions.cell(r, 1);
    const bool faults = last == QStringLiteral("Проверка завершена. ВНИМАНИЕ: найдены ошибки");
    const GridTableModel& m = test.StringGrid1;
    QJsonArray relays;
    for (int relay = 1; relay <= ModuleTest::Relays; ++relay) {
        QString inputs;
        for (int input = 1; input <= ModuleTest::Relays; ++input) {
            const QString c = m.cell(relay, input);
            inputs += c.isEmpty() ? QStringLiteral("-") : c;
        }
        const QString result = m.cell(relay, ModuleTest::ResultColumn);
        if (cli.json)
            relays.append(QJsonObject{{"relay", relay}, {"inputs", inputs}, {"result", result}});
        else
            cli.out << relay << '\t' << inputs << '\t' << result << Qt::endl;
    }
    if (cli.json)
        cli.Print(QJsonObject{{"log", test.LogFile}, {"final", last}, {"relays", relays}});
    else
        cli.out << last << Qt::endl << QStringLiteral("Журнал: ") << test.LogFile << Qt::endl;
    return faults ? exitcode::BenchFaults : exitcode::Done;
}

int ClockSet(Cli& cli)
{
    LinkCore& link = cli.core.Link;
    const quint32 seconds = AdapterAnnouncements::LocalSeconds();
    cli.core.Announcements.SetClock();
    if (cli.interrupts.interrupted)
        return cli.Outcome();
    if (!link.ReceiptArrived || !link.LinkOpen)
        return cli.Fail(exitcode::NoAnswer,
                        QStringLiteral("Установить время: нет квитанции адаптера"));
    cli.out << QStringLiteral("Время установлено: ")
            << StampDateTime(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) << Qt::endl;
    return exitcode::Done;
}

int TelecontrolCommand(Cli& cli, blocks::Ref block, int relay)
{
    Telecontrol& tc = cli.core.Tc;
    tc.Operate(block.address, relay);
    if (cli.interrupts.interrupted)
        return cli.Outcome();
    for (const QString& line : tc.TuEvent)
        cli.out << line << Qt::endl;
    // The result line may come before "Выдана команда исполнения" from a quick block.
    const bool done = std::any_of(tc.TuEvent.begin(), tc.TuEvent.end(), [](const QString& l) {
        return l.startsWith(QStringLiteral("ТУ выполнено"));
    });
    if (!done)
        return cli.Fail(exitcode::NoAnswer,
                        QStringLiteral("Телеуправление: реле %1 блока %2 не выполнено")
                            .arg(relay)
                            .arg(blocks::RefText(block)));
    return exitcode::Done;
}

namespace
{
using WatchLine = std::function<void(const QJsonObject&, const QString&)>;

QString Bits(quint32 b)
{
    QString s;
    for (int i = 0; i < 32; ++i)
        s += (b >> i) & 1 ? u'1' : u'0';
    return s;
}

QString Time(quint32 seconds)
{
    return StampDateTime(seconds).toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"));
}

void WatchStatesAndReadings(LiveTables& t, QObject& scope, const WatchLine& line)
{
    QObject::connect(&t, &LiveTables::statesReceived, &scope,
                     [line](int block, bool interlock, quint32 b) {
                         line({{"kind", interlock ? "interlocks" : "states"},
                               {"block", block},
                               {"bits", Bits(b)}},
                              QStringLiteral("%1 Блок = %2 %3")
                                  .arg(interlock ? "БЛК" : "ЦТС")
                                  .arg(block)
                                  .arg(Bits(b)));
                     });
    QObject::connect(&t, &LiveTables::readingsReceived, &scope,
                     [line](int block, int first, const QList<int>& quanta) {
                         QJsonArray values;
                         QStringList texts;
                         for (int q : quanta) {
                             values.append(q);
                             texts << QString::number(q);
                         }
                         line({{"kind", "readings"},
                               {"block", block},
                               {"first_channel", first + 1},
                               {"quanta", values}},
                              QStringLiteral("ТИТ Блок = %1 с канала %2: %3")
                                  .arg(block)
                                  .arg(first + 1)
                                  .arg(texts.join(u' ')));
                     });
}

void WatchCountersAndEvents(LiveTables& t, QObject& scope, const WatchLine& line)
{
    QObject::connect(&t, &LiveTables::counterReceived, &scope,
                     [line](int block, int channel, quint32 value, qint64 seconds) {
                         QJsonObject o{{"kind", "counter"},
                                       {"block", block},
                                       {"channel", channel},
                                       {"value", qint64(value)}};
                         if (seconds >= 0)
                             o.insert("time", Time(quint32(seconds)));
                         line(o, QStringLiteral("ТИИ Блок = %1 Канал = %2 Значение = %3")
                                     .arg(block)
                                     .arg(channel)
                                     .arg(value));
                     });
    QObject::connect(
        &t, &LiveTables::eventReceived, &scope,
        [line, &t](int block, int input, bool state, int second, quint32 seconds, int number) {
            QJsonObject o{{"kind", "event"},        {"block", block},   {"input", input},
                          {"state", state ? 1 : 0}, {"number", number}, {"time", Time(seconds)}};
            if (second >= 0)
                o.insert("second", second);
            line(o, t.Events.isEmpty() ? QString() : t.Events.last());
        });
}
} // namespace

int Watch(Cli& cli)
{
    QObject scope; // the connections end with the watch
    const WatchLine line = [&cli](const QJsonObject& o, const QString& text) {
        if (cli.json)
            cli.Print(o);
        else
            cli.out << text << Qt::endl;
    };
    WatchStatesAndReadings(cli.core.Tables, scope, line);
    WatchCountersAndEvents(cli.core.Tables, scope, line);
    // Until interrupted: the interruption is the normal end of watching.
    eventwait::WaitWhile([] { return true; });
    return exitcode::Done;
}

int WatchCsv(Cli& cli, const QList<trend::Key>& series)
{
    trend::Recorder& recorder = cli.core.Trends;
    QList<const trend::Series*> shown;
    for (const trend::Key& key : series)
        shown << &recorder.Add(key);
    cli.out << QString::fromUtf8(recorder.CsvHeader(shown)) << Qt::flush;
    // A row once every value of its time is in: several channels of a record come together.
    qint64 pending = -1;
    const auto flush = [&] {
        if (pending >= 0)
            cli.out << QString::fromUtf8(recorder.CsvRow(shown, pending)) << Qt::flush;
        pending = -1;
    };
    QTimer settle;
    settle.setSingleShot(true);
    settle.setInterval(50);
    QObject::connect(&settle, &QTimer::timeout, &settle, flush);
    QObject::connect(&recorder, &trend::Recorder::pointTaken, &settle,
                     [&](const trend::Series&, qint64 ms) {
                         if (ms != pending)
                             flush();
                         pending = ms;
                         settle.start();
                     });
    // Until interrupted: the interruption is the normal end of watching.
    eventwait::WaitWhile([] { return true; });
    flush();
    return exitcode::Done;
}
