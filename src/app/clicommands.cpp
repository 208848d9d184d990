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
#include <cstdio>

namespace
{
// Reads the one block into the service alone and shows it in the grid. False when it did not
// answer or its record was not read whole.
bool ReadAndShow(Cli& cli, blocks::Ref block, int* code)
{
    BlockService& b = cli.core.Blocks;
    cli.op.quietProgress = true;
    b.ReadBlock(block.slot, block.address);
    cli.op.quietProgress = false;
    if (cli.interrupts.interrupted) {
        *code = cli.Outcome();
        return false;
    }
    if (b.bloks.count() == 0) {
        *code = cli.Fail(exitcode::NoAnswer, QStringLiteral("Нет ответа от блока %1 (поиск блока)")
                                                 .arg(blocks::RefText(block.slot, block.address)));
        return false;
    }
    if (!b.RecordRead[0]) {
        *code =
            cli.Fail(exitcode::NoAnswer, QStringLiteral("Параметры блока %1 прочитаны не полностью")
                                             .arg(blocks::RefText(block.slot, block.address)));
        return false;
    }
    b.bloksClick(0);
    return true;
}

QJsonObject ValuesOfGrid(const BlockService& b, QJsonObject* names)
{
    QJsonObject values;
    for (const params::Field& f : params::Fields(uint8_t(b.SelectedBlockFunction))) {
        values.insert(f.key, b.ConfigBl.cell(f.row, f.col).toLongLong());
        if (names)
            names->insert(f.key, b.ConfigBl.cell(f.row, 0) +
                                     (f.col > 1 ? QStringLiteral(" [%1]").arg(f.col) : QString()));
    }
    return values;
}
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

int Scan(Cli& cli)
{
    BlockService& b = cli.core.Blocks;
    b.QScanClick();
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
                                       {"complete", b.RecordRead[size_t(e.line)]}});
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

int ParamsGet(Cli& cli, blocks::Ref block)
{
    int code = exitcode::Done;
    if (!ReadAndShow(cli, block, &code))
        return code;
    const BlockService& b = cli.core.Blocks;
    QJsonObject names;
    const QJsonObject values = ValuesOfGrid(b, &names);
    if (cli.json) {
        cli.Print(QJsonObject{{"block", blocks::RefText(block.slot, block.address)},
                              {"version", b.VersionOfLine(0).mid(1)},
                              {"values", values},
                              {"names", names}});
    } else {
        for (const params::Field& f : params::Fields(uint8_t(b.SelectedBlockFunction)))
            cli.out << f.key << '\t' << b.ConfigBl.cell(f.row, f.col) << '\t'
                    << names.value(f.key).toString() << Qt::endl;
    }
    return cli.Outcome();
}

int ParamsSet(Cli& cli, blocks::Ref block, const QStringList& assignments, const QString& file)
{
    // What is to be written, checked before anything is read or sent.
    QList<std::pair<QString, QString>> wanted;
    for (const QString& a : assignments) {
        const int eq = a.indexOf(u'=');
        if (eq <= 0)
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("Ожидается ключ=значение: «%1»").arg(a));
        wanted.append({a.left(eq).trimmed(), a.mid(eq + 1).trimmed()});
    }
    if (!file.isEmpty()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("Файл «%1» не читается: %2").arg(file, f.errorString()));
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &error);
        QJsonObject values = doc.object();
        if (values.contains(QLatin1String("values")))
            values = values.value(QLatin1String("values")).toObject();
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            return cli.Fail(
                exitcode::Usage,
                QStringLiteral("Файл «%1» не JSON-объект: %2").arg(file, error.errorString()));
        for (auto it = values.begin(); it != values.end(); ++it)
            wanted.append({it.key(), it.value().isDouble() ? QString::number(it.value().toInteger())
                                                           : it.value().toString()});
    }
    if (wanted.isEmpty())
        return cli.Fail(exitcode::Usage, QStringLiteral("Не задано ни одного параметра"));
    const QList<params::Field> fields = params::Fields(block.function());
    QList<params::Field> targets;
    for (const auto& [key, value] : wanted) {
        const auto it = std::find_if(fields.begin(), fields.end(),
                                     [&](const params::Field& f) { return f.key == key; });
        if (it == fields.end())
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("Неизвестный параметр «%1» блока %2")
                                .arg(key, blocks::RefText(block.slot, block.address)));
        targets << *it;
    }

    int code = exitcode::Done;
    if (!ReadAndShow(cli, block, &code))
        return code;
    BlockService& b = cli.core.Blocks;
    for (int i = 0; i < targets.size(); ++i)
        b.ConfigBl.setCell(targets[i].row, targets[i].col, wanted[i].second);
    // The record as it is to be held: the grid encoded into a copy of the image.
    params::Image expected = b.BlockImages[0];
    if (const auto error = params::Encode(block.function(), b.ConfigBl.Values, expected))
        return cli.Fail(exitcode::Usage, *error);
    b.BitBtn6Click();
    if ((code = cli.Outcome()) != exitcode::Done)
        return code;

    // Read back: the block must hold what was written.
    if (!ReadAndShow(cli, block, &code))
        return code;
    const int length = 8 * blocks::ChunksOf(block.function());
    if (!std::equal(expected.begin(), expected.begin() + length, b.BlockImages[0].begin()))
        return cli.Fail(exitcode::NoAnswer, QStringLiteral("Блок %1 хранит не то, что записано")
                                                .arg(blocks::RefText(block.slot, block.address)));
    if (cli.json)
        cli.Print(QJsonObject{{"block", blocks::RefText(block.slot, block.address)},
                              {"values", ValuesOfGrid(b, nullptr)}});
    else
        cli.out << QStringLiteral("Параметры блока %1 записаны и прочитаны обратно")
                       .arg(blocks::RefText(block.slot, block.address))
                << Qt::endl;
    return exitcode::Done;
}

int Flash(Cli& cli, const QString& image, bool loader, const QList<blocks::Ref>& blocksToFlash)
{
    BlockService& b = cli.core.Blocks;
    if (!cli.core.Image.Load(image))
        return exitcode::Usage; // the operator was told why
    cli.op.FailedStage.clear();
    b.QScanClick(); // ticks the blocks whose version differs from the image's
    if (cli.interrupts.interrupted)
        return cli.Outcome();

    // The lines to program, in the order the run takes them.
    QList<std::pair<blocks::Ref, int>> targets;
    if (!blocksToFlash.isEmpty()) {
        for (int line = 0; line < b.bloks.count(); ++line)
            b.bloks.SetTicked(line, false);
        for (const blocks::Ref& r : blocksToFlash) {
            const BlockService::Entry& e = b.TableEntry(r.slot, r.address);
            if (e.function == 0)
                return cli.Fail(exitcode::NoAnswer, QStringLiteral("Блок %1 не найден на шине")
                                                        .arg(blocks::RefText(r.slot, r.address)));
            b.bloks.SetTicked(e.line, true);
        }
    }
    for (int slot = 1; slot <= blocks::Slots; ++slot)
        for (int address = 0; address < blocks::Addresses; ++address) {
            const BlockService::Entry& e = b.TableEntry(slot, address);
            if (e.function != 0 && b.bloks.ticked(e.line))
                targets.append({blocks::Ref{slot, address}, e.line});
        }

    if (loader)
        cli.core.Firmware.BitBtn55Click();
    else
        cli.core.Firmware.BitBtn3Click();
    const int code = cli.Outcome();

    // Done: unticked by the run. Half done: the line it was on when it stopped. Untouched: the
    // rest.
    QJsonArray done, half, untouched;
    for (const auto& [ref, line] : targets) {
        const QString name = blocks::RefText(ref.slot, ref.address);
        if (!b.bloks.ticked(line))
            done.append(name);
        else if (line == b.bloks.selected() && code != exitcode::Done)
            half.append(name);
        else
            untouched.append(name);
    }
    if (cli.json) {
        cli.Print(QJsonObject{{"done", done}, {"half_done", half}, {"untouched", untouched}});
    } else {
        auto list = [](const QJsonArray& a) {
            QStringList names;
            for (const QJsonValue& v : a)
                names << v.toString();
            return names.isEmpty() ? QStringLiteral("—") : names.join(QStringLiteral(", "));
        };
        cli.out << QStringLiteral("Прошиты: ") << list(done) << Qt::endl;
        if (!half.isEmpty())
            cli.out << QStringLiteral("Прошиты не до конца: ") << list(half) << Qt::endl;
        if (!untouched.isEmpty())
            cli.out << QStringLiteral("Не тронуты: ") << list(untouched) << Qt::endl;
    }
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

int Calibration(Cli& cli, blocks::Ref block, bool set, const QStringList& fields)
{
    if (block.slot != 2)
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Калибровка только у блоков ТИТ (tit:N), не у %1")
                            .arg(blocks::RefText(block.slot, block.address)));
    int code = exitcode::Done;
    if (!ReadAndShow(cli, block, &code))
        return code;
    AdcCalibration& c = cli.core.Calibration;
    auto read = [&] {
        if (c.Panel5Visible)
            c.Panel6DblClick(); // closes the panel without an exchange
        c.Panel6DblClick();
        return !cli.op.Failed() && !cli.interrupts.interrupted;
    };
    if (!read())
        return cli.Outcome();
    if (set) {
        QString* targets[] = {&c.Fields.zero, &c.Fields.maximum, &c.Fields.minimum, &c.Fields.zone};
        for (int i = 0; i < 4; ++i)
            if (!fields.value(i).isEmpty())
                *targets[i] = fields[i];
        const calib::Texts written = c.Fields;
        c.SpeedButton1Click();
        if (cli.op.Failed() || cli.interrupts.interrupted)
            return cli.Outcome();
        if (!read())
            return cli.Outcome();
        if (!(c.Fields == written))
            return cli.Fail(exitcode::NoAnswer,
                            QStringLiteral("Блок %1 хранит не ту калибровку, что записана")
                                .arg(blocks::RefText(block.slot, block.address)));
    }
    const calib::Texts& f = c.Fields;
    if (cli.json)
        cli.Print(QJsonObject{{"block", blocks::RefText(block.slot, block.address)},
                              {"zero", f.zero.toLongLong()},
                              {"max", f.maximum.toLongLong()},
                              {"min", f.minimum.toLongLong()},
                              {"zone", f.zone.toLongLong()}});
    else
        cli.out << QStringLiteral("Значение \"Нуля\"\t") << f.zero << Qt::endl
                << QStringLiteral("Значение Максимума\t") << f.maximum << Qt::endl
                << QStringLiteral("Значение Минимума\t") << f.minimum << Qt::endl
                << QStringLiteral("Зона \"Нуля\"\t") << f.zone << Qt::endl;
    return exitcode::Done;
}

int Interlock(Cli& cli, blocks::Ref block, bool write, const QString& file)
{
    if (block.slot != 3)
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Логика блокировок только у блоков ТУ (tu:N), не у %1")
                            .arg(blocks::RefText(block.slot, block.address)));
    QStringList lines;
    if (write) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return cli.Fail(exitcode::Usage,
                            QStringLiteral("Файл «%1» не читается: %2").arg(file, f.errorString()));
        lines = blk::FileLines(f.readAll());
    }
    int code = exitcode::Done;
    if (!ReadAndShow(cli, block, &code))
        return code;
    if (!cli.core.Blocks.InterlockShown)
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Блок %1 не в режиме блокировок (тип управления 5)")
                            .arg(blocks::RefText(block.slot, block.address)));
    InterlockTransfer& t = cli.core.Interlock;
    if (write) {
        t.WriteBLKClick(lines);
        if ((code = cli.Outcome()) == exitcode::Done)
            cli.out << QStringLiteral("Логика блокировок записана в блок %1: %2 строк")
                           .arg(blocks::RefText(block.slot, block.address))
                           .arg(lines.size())
                    << Qt::endl;
        return code;
    }
    QObject scope;
    QObject::connect(&t, &InterlockTransfer::memoCleared, &scope, [&lines] { lines.clear(); });
    QObject::connect(&t, &InterlockTransfer::lineAdded, &scope,
                     [&lines](const QString& line) { lines << line; });
    t.ReadBLKClick();
    if ((code = cli.Outcome()) != exitcode::Done)
        return code;
    if (!t.SaveToFile(file, lines))
        return cli.Outcome();
    cli.out << QStringLiteral("Логика блокировок блока %1 сохранена в %2: %3 строк")
                   .arg(blocks::RefText(block.slot, block.address), file)
                   .arg(lines.size())
            << Qt::endl;
    return exitcode::Done;
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
    tc.Address = block.address;
    tc.Relay = relay;
    tc.RxSpeedButton1Click();
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
                            .arg(blocks::RefText(block.slot, block.address)));
    return exitcode::Done;
}

int Watch(Cli& cli)
{
    LiveTables& t = cli.core.Tables;
    QObject scope; // the connections end with the watch
    auto line = [&cli](const QJsonObject& o, const QString& text) {
        if (cli.json)
            cli.Print(o);
        else
            cli.out << text << Qt::endl;
    };
    auto bits = [](quint32 b) {
        QString s;
        for (int i = 0; i < 32; ++i)
            s += (b >> i) & 1 ? u'1' : u'0';
        return s;
    };
    QObject::connect(&t, &LiveTables::statesReceived, &scope,
                     [&](int block, bool interlock, quint32 b) {
                         line({{"kind", interlock ? "interlocks" : "states"},
                               {"block", block},
                               {"bits", bits(b)}},
                              QStringLiteral("%1 Блок = %2 %3")
                                  .arg(interlock ? "БЛК" : "ЦТС")
                                  .arg(block)
                                  .arg(bits(b)));
                     });
    QObject::connect(&t, &LiveTables::readingsReceived, &scope,
                     [&](int block, int first, const QList<int>& quanta) {
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
    QObject::connect(&t, &LiveTables::counterReceived, &scope,
                     [&](int block, int channel, quint32 value, qint64 seconds) {
                         QJsonObject o{{"kind", "counter"},
                                       {"block", block},
                                       {"channel", channel},
                                       {"value", qint64(value)}};
                         if (seconds >= 0)
                             o.insert("time", StampDateTime(quint32(seconds))
                                                  .toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")));
                         line(o, QStringLiteral("ТИИ Блок = %1 Канал = %2 Значение = %3")
                                     .arg(block)
                                     .arg(channel)
                                     .arg(value));
                     });
    QObject::connect(
        &t, &LiveTables::eventReceived, &scope,
        [&](int block, int input, bool state, int second, quint32 seconds, int number) {
            QJsonObject o{
                {"kind", "event"},
                {"block", block},
                {"input", input},
                {"state", state ? 1 : 0},
                {"number", number},
                {"time", StampDateTime(seconds).toString(QStringLiteral("yyyy-MM-ddThh:mm:ss"))}};
            if (second >= 0)
                o.insert("second", second);
            line(o, t.Events.isEmpty() ? QString() : t.Events.last());
        });
    // Until interrupted: the interruption is the normal end of watching.
    eventwait::WaitWhile([] { return true; });
    return exitcode::Done;
}
