// SPDX-License-Identifier: GPL-3.0-or-later
// tavena-cli's block subcommands: parameters, firmware, calibration and interlock logic, each
// on the core operations of the block service with the block named.

#include "app/clicommands.h"
#include "app/cliterminal.h"
#include "app/programcore.h"
#include "support/bytespan.h"
#include "support/convert.h"
#include "support/errortext.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{

// Reads the one block alone (a discovery of its position). False, and the exit code, when it
// did not answer or its record was not read whole.
bool ReadBlock(Cli& cli, blocks::Ref block, int* code)
{
    BlockService& b = cli.core.Blocks;
    cli.op.quietProgress = true;
    b.ReadBlock(block);
    cli.op.quietProgress = false;
    if (cli.interrupts.interrupted) {
        *code = cli.Outcome();
        return false;
    }
    if (b.LineOf(block) < 0) {
        *code = cli.Fail(
            exitcode::NoAnswer,
            QStringLiteral("Нет ответа от блока %1 (поиск блока)").arg(blocks::RefText(block)));
        return false;
    }
    if (!b.RecordOf(block)) {
        *code = cli.Fail(exitcode::NoAnswer, QStringLiteral("Параметры блока %1 прочитаны не "
                                                            "полностью")
                                                 .arg(blocks::RefText(block)));
        return false;
    }
    return true;
}

// The values of a record by key, and their names.
QJsonObject ValuesJson(uint8_t function, const params::Values& values, const QStringList& headers,
                       QJsonObject* names)
{
    QJsonObject json;
    const QList<params::Field>& fields = params::Fields(function);
    for (qsizetype i = 0; i < fields.size() && i < values.size(); ++i) {
        json.insert(fields[i].key, values[i] ? QJsonValue(*values[i]) : QJsonValue());
        if (names)
            names->insert(fields[i].key, params::FieldName(headers, fields[i]));
    }
    return json;
}

// What `params set` is to write, by key as typed: the assignments, then the file's values.
std::optional<QList<std::pair<QString, QString>>> Wanted(Cli& cli, const QStringList& assignments,
                                                         const QString& file, int* code)
{
    QList<std::pair<QString, QString>> wanted;
    for (const QString& a : assignments) {
        const int eq = int(a.indexOf(u'='));
        if (eq <= 0) {
            *code =
                cli.Fail(exitcode::Usage, QStringLiteral("Ожидается ключ=значение: «%1»").arg(a));
            return std::nullopt;
        }
        wanted.append({a.left(eq).trimmed(), a.mid(eq + 1).trimmed()});
    }
    if (file.isEmpty())
        return wanted;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *code = cli.Fail(exitcode::Usage,
                         QStringLiteral("Файл «%1» не читается: %2").arg(file, FileErrorText(f)));
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        *code = cli.Fail(exitcode::Usage, QStringLiteral("Файл «%1» не JSON-объект: %2")
                                              .arg(file, error.error != QJsonParseError::NoError
                                                             ? JsonErrorText(error)
                                                             : QStringLiteral("не объект")));
        return std::nullopt;
    }
    QJsonObject values = doc.object();
    if (values.contains(QLatin1String("values")))
        values = values.value(QLatin1String("values")).toObject();
    for (auto it = values.begin(); it != values.end(); ++it)
        wanted.append({it.key(), it.value().isDouble() ? QString::number(it.value().toInteger())
                                                       : it.value().toString()});
    return wanted;
}

// The wanted values set over the block's values; the exit code when a key or value is wrong.
std::optional<params::Values> Apply(Cli& cli, blocks::Ref block, params::Values values,
                                    const QList<std::pair<QString, QString>>& wanted, int* code)
{
    const QList<params::Field>& fields = params::Fields(block.function());
    for (const auto& [name, text] : wanted) {
        const QString& key = name; // clang 14 cannot capture a structured binding
        const auto it = std::find_if(fields.begin(), fields.end(),
                                     [&](const params::Field& f) { return f.key == key; });
        QString error;
        const auto value = StrToInt(text, key, &error);
        if (it == fields.end())
            error = QStringLiteral("Неизвестный параметр «%1» блока %2")
                        .arg(key, blocks::RefText(block));
        if (it == fields.end() || !value) {
            *code = cli.Fail(exitcode::Usage, error);
            return std::nullopt;
        }
        values[it - fields.begin()] = *value;
    }
    return values;
}
} // namespace

int ParamsGet(Cli& cli, blocks::Ref block)
{
    int code = exitcode::Done;
    if (!ReadBlock(cli, block, &code))
        return code;
    const BlockService& b = cli.core.Blocks;
    const QByteArray record = *b.RecordOf(block);
    const params::Values values = *b.ValuesOf(block);
    const QStringList headers = params::RowHeadersOf(block.function(), ByteSpan(record));
    QJsonObject names;
    const QJsonObject json = ValuesJson(block.function(), values, headers, &names);
    if (cli.json) {
        cli.Print(QJsonObject{{"block", blocks::RefText(block)},
                              {"version", b.VersionOf(block).mid(1)},
                              {"values", json},
                              {"names", names}});
        return cli.Outcome();
    }
    const QList<params::Field>& fields = params::Fields(block.function());
    for (qsizetype i = 0; i < fields.size(); ++i)
        cli.out << fields[i].key << '\t' << (values[i] ? QString::number(*values[i]) : QString())
                << '\t' << names.value(fields[i].key).toString() << Qt::endl;
    return cli.Outcome();
}

int ParamsSet(Cli& cli, blocks::Ref block, const QStringList& assignments, const QString& file)
{
    // What is to be written, checked before anything is read or sent.
    int code = exitcode::Done;
    const auto wanted = Wanted(cli, assignments, file, &code);
    if (!wanted)
        return code;
    if (wanted->isEmpty())
        return cli.Fail(exitcode::Usage, QStringLiteral("Не задано ни одного параметра"));
    const auto checked =
        Apply(cli, block, params::Values(params::Fields(block.function()).size()), *wanted, &code);
    if (!checked)
        return code;

    if (!ReadBlock(cli, block, &code))
        return code;
    BlockService& b = cli.core.Blocks;
    const auto values = Apply(cli, block, *b.ValuesOf(block), *wanted, &code);
    // The record as it is to be held: the values over the record as read.
    QByteArray expected = *b.RecordOf(block);
    params::Encode(block.function(), *values, WritableByteSpan(expected));
    (void)b.WriteValues(block, *values);
    if ((code = cli.Outcome()) != exitcode::Done)
        return code;

    // Read back: the block must hold what was written.
    if (!ReadBlock(cli, block, &code))
        return code;
    if (*b.RecordOf(block) != expected)
        return cli.Fail(
            exitcode::NoAnswer,
            QStringLiteral("Блок %1 хранит не то, что записано").arg(blocks::RefText(block)));
    if (cli.json)
        cli.Print(
            QJsonObject{{"block", blocks::RefText(block)},
                        {"values", ValuesJson(block.function(), *b.ValuesOf(block), {}, nullptr)}});
    else
        cli.out << QStringLiteral("Параметры блока %1 записаны и прочитаны обратно")
                       .arg(blocks::RefText(block))
                << Qt::endl;
    return exitcode::Done;
}

namespace
{
// The blocks programmed, each read again: those that do not report the image's version.
QList<blocks::Ref> Unverified(Cli& cli, const QList<blocks::Ref>& programmed)
{
    QList<blocks::Ref> wrong;
    for (const blocks::Ref& block : programmed) {
        cli.op.quietProgress = true;
        cli.core.Blocks.ReadBlock(block);
        cli.op.quietProgress = false;
        if (cli.interrupts.interrupted)
            break;
        if (cli.core.Blocks.VersionOf(block) != cli.core.Blocks.ImageVersion.get())
            wrong << block;
    }
    return wrong;
}
} // namespace

int Flash(Cli& cli, const FlashRequest& request)
{
    BlockService& b = cli.core.Blocks;
    if (!cli.core.Image.Load(request.image))
        return exitcode::Usage; // the operator was told why
    cli.op.FailedStage.clear();
    b.Discover(BlockService::Scope::Announced); // ticks the blocks whose version differs
    if (cli.interrupts.interrupted)
        return cli.Outcome();
    for (const blocks::Ref& r : request.blocks)
        if (b.LineOf(r) < 0)
            return cli.Fail(exitcode::NoAnswer,
                            QStringLiteral("Блок %1 не найден на шине").arg(blocks::RefText(r)));
    const QList<blocks::Ref> targets =
        request.blocks.isEmpty() ? cli.core.Firmware.Ticked() : request.blocks;
    const auto& run = request.loader ? firmware::FirmwareProgramming::Loader
                                     : firmware::FirmwareProgramming::Firmware;
    const firmware::Outcome outcome = cli.core.Firmware.Program(run, targets);
    int code = cli.Outcome();

    QList<blocks::Ref> unverified;
    if (request.verify && code != exitcode::Interrupted)
        unverified = Unverified(cli, outcome.done + outcome.doubtful);
    const QList<blocks::Ref> half =
        outcome.failed ? QList<blocks::Ref>{*outcome.failed} : QList<blocks::Ref>{};
    if (cli.json) {
        QJsonObject o{{"done", RefsJson(outcome.done)},
                      {"program_again", RefsJson(outcome.doubtful)},
                      {"half_done", RefsJson(half)},
                      {"untouched", RefsJson(outcome.untouched)}};
        if (request.verify)
            o.insert("unverified", RefsJson(unverified));
        cli.Print(o);
    } else {
        cli.PrintList(QStringLiteral("Прошиты: "), outcome.done, true);
        cli.PrintList(QStringLiteral("Прошить ещё раз (запрос повторялся): "), outcome.doubtful);
        cli.PrintList(QStringLiteral("Прошиты не до конца: "), half);
        cli.PrintList(QStringLiteral("Не тронуты: "), outcome.untouched);
        if (request.verify)
            cli.PrintList(QStringLiteral("Версия не та, что в образе: "), unverified);
    }
    if (code == exitcode::Done && (!outcome.doubtful.isEmpty() || !unverified.isEmpty()))
        code = exitcode::NoAnswer;
    return code;
}

int Calibration(Cli& cli, blocks::Ref block, bool set, const QStringList& fields)
{
    if (block.slot != 2)
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Калибровка только у блоков ТИТ (tit:N), не у %1")
                            .arg(blocks::RefText(block)));
    AdcCalibration& c = cli.core.Calibration;
    const auto read = [&]() -> std::optional<calib::Texts> {
        const auto bytes = c.Read(block);
        if (!bytes || cli.op.Failed() || cli.interrupts.interrupted)
            return std::nullopt;
        return calib::Decode(*bytes);
    };
    auto texts = read();
    if (!texts)
        return cli.Outcome();
    if (set) {
        QString* targets[] = {&texts->zero, &texts->maximum, &texts->minimum, &texts->zone};
        for (int i = 0; i < 4; ++i)
            if (!fields.value(i).isEmpty())
                *targets[i] = fields[i];
        const calib::Texts written = *texts;
        if (!c.Write(block, written) || cli.interrupts.interrupted)
            return cli.Outcome();
        texts = read();
        if (!texts)
            return cli.Outcome();
        if (!(*texts == written))
            return cli.Fail(exitcode::NoAnswer,
                            QStringLiteral("Блок %1 хранит не ту калибровку, что записана")
                                .arg(blocks::RefText(block)));
    }
    const calib::Texts& f = *texts;
    if (cli.json)
        cli.Print(QJsonObject{{"block", blocks::RefText(block)},
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
                            .arg(blocks::RefText(block)));
    QStringList lines;
    if (write) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return cli.Fail(
                exitcode::Usage,
                QStringLiteral("Файл «%1» не читается: %2").arg(file, FileErrorText(f)));
        lines = blk::FileLines(f.readAll());
    }
    int code = exitcode::Done;
    if (!ReadBlock(cli, block, &code))
        return code;
    if (!params::InInterlockMode(block.function(), ByteSpan(*cli.core.Blocks.RecordOf(block))))
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Блок %1 не в режиме блокировок (тип управления 5)")
                            .arg(blocks::RefText(block)));
    InterlockTransfer& t = cli.core.Interlock;
    if (write) {
        t.Write(block, lines);
        if ((code = cli.Outcome()) == exitcode::Done)
            cli.out << QStringLiteral("Логика блокировок записана в блок %1: %2 строк")
                           .arg(blocks::RefText(block))
                           .arg(lines.size())
                    << Qt::endl;
        return code;
    }
    const auto read = t.Read(block);
    if ((code = cli.Outcome()) != exitcode::Done || !read)
        return code == exitcode::Done ? exitcode::NoAnswer : code;
    if (!t.SaveToFile(file, *read))
        return cli.Outcome();
    cli.out << QStringLiteral("Логика блокировок блока %1 сохранена в %2: %3 строк")
                   .arg(blocks::RefText(block), file)
                   .arg(read->size())
            << Qt::endl;
    return exitcode::Done;
}
