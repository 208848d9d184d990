// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/benchsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace benchsettings
{

// The first letter of "cек" is a Latin c, as the window has always shown it.
const Edit Edits[6] = {
    {"Edit_ts_cycletime", "Время цикла ТС (cек)", "100", false},
    {"Edit_ts_entr", "Фильтрация (мсек)", "50", false},
    {"Edit_tu_type", "Тип", "0", true},
    {"Edit_tu_exit", "Удерж", "200", true},
    {"Edit_tu_min", "Мин", "0", true},
    {"Edit_tu_max", "Макс", "0", true},
};

QString Key(const char* name)
{
    return QLatin1String(name) + QStringLiteral(".Text");
}

QString ShownCaption(const Edit& e)
{
    return (e.tu ? QStringLiteral("ТУ: ") : QStringLiteral("ТС: ")) + QString::fromUtf8(e.caption);
}

QSettings* OpenStore(const QSettings* beside)
{
    const QString application = QStringLiteral("TavenaConfig-Testconf");
    if (!beside)
        return new QSettings(QStringLiteral("Brantell"), application);
    const QFileInfo main(beside->fileName());
    const QString suffix = main.suffix().isEmpty() ? QString() : QLatin1Char('.') + main.suffix();
    return new QSettings(main.dir().filePath(application + suffix), beside->format());
}

QList<ShownSetting> Read(QSettings& store)
{
    QList<ShownSetting> shown;
    for (const Edit& e : Edits)
        shown.append(
            {ShownCaption(e), store.value(Key(e.name), QString::fromUtf8(e.initial)).toString()});
    return shown;
}

} // namespace benchsettings
