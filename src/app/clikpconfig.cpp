// SPDX-License-Identifier: GPL-3.0-or-later
// tavena-cli's configuration file of a whole controlled point: backup, diff, restore.

#include "app/clicommands.h"
#include "app/cliterminal.h"
#include "app/programcore.h"
#include "support/errortext.h"
#include "tavenaversion.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSaveFile>

namespace
{

// The differences, one line each: block, parameter (key and name), in the file, in the block.
void PrintDifferences(Cli& cli, const QList<kpconfig::Difference>& differences)
{
    if (cli.json) {
        QJsonArray all;
        for (const kpconfig::Difference& d : differences)
            all.append(QJsonObject{{"block", blocks::RefText(d.block)},
                                   {"key", d.key},
                                   {"name", d.name},
                                   {"in_file", d.inFile},
                                   {"in_block", d.inBlock}});
        cli.Print(all);
        return;
    }
    for (const kpconfig::Difference& d : differences)
        cli.out << blocks::RefText(d.block) << '\t' << d.key << '\t' << d.name << '\t' << d.inFile
                << '\t' << d.inBlock << Qt::endl;
}

// The code of an operation that gave nothing: it was stopped or did not complete.
int Unfinished(Cli& cli)
{
    const int code = cli.Outcome();
    return code == exitcode::Done ? exitcode::NoAnswer : code;
}
} // namespace

std::optional<int> LoadConfig(Cli& cli, const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Файл «%1» не читается: %2").arg(path, FileErrorText(f)));
    QString error;
    cli.config = kpconfig::Read(f.readAll(), &error);
    if (!cli.config)
        return cli.Fail(exitcode::Usage, QStringLiteral("Файл «%1»: %2").arg(path, error));
    return std::nullopt;
}

int Backup(Cli& cli, const QString& path)
{
    const auto file = cli.core.KpConfig.Backup(cli.core.Link.settings,
                                               QStringLiteral("tavena-cli " TAVENA_VERSION_TEXT));
    if (!file)
        return Unfinished(cli);
    QSaveFile save(path);
    const QByteArray text = kpconfig::Write(*file);
    if (!save.open(QIODevice::WriteOnly) || save.write(text) != text.size() || !save.commit())
        return cli.Fail(exitcode::Usage,
                        QStringLiteral("Файл «%1» не записан: %2").arg(path, FileErrorText(save)));
    cli.out << QStringLiteral("Конфигурация КП сохранена в %1: блоков %2")
                   .arg(path)
                   .arg(file->blocks.size())
            << Qt::endl;
    return cli.Outcome();
}

int Diff(Cli& cli)
{
    const auto differences = cli.core.KpConfig.Compare(*cli.config);
    if (!differences)
        return Unfinished(cli);
    PrintDifferences(cli, *differences);
    const int code = cli.Outcome();
    return code == exitcode::Done && !differences->isEmpty() ? exitcode::Differs : code;
}

int Restore(Cli& cli, const kpconfig::RestoreOptions& options)
{
    if (!cli.core.Blocks.Discover(BlockService::Scope::Announced))
        return Unfinished(cli);
    const auto result = cli.core.KpConfig.Restore(*cli.config, options);
    if (!result)
        return Unfinished(cli);
    if (cli.json) {
        cli.Print(QJsonObject{{"written", RefsJson(result->written)},
                              {"missing", RefsJson(result->missing)},
                              {"differ", RefsJson(result->differ)}});
    } else {
        cli.PrintList(QStringLiteral("Записаны: "), result->written, true);
        cli.PrintList(QStringLiteral("Нет на шине: "), result->missing);
        cli.PrintList(QStringLiteral("Хранят не то, что записано: "), result->differ);
        PrintDifferences(cli, result->differences);
    }
    const int code = cli.Outcome();
    return code == exitcode::Done && !result->Held() ? exitcode::NoAnswer : code;
}
