// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/runrecord.h"

QList<int> RunRecord::FaultyRelays() const
{
    QList<int> faulty;
    for (size_t i = 0; i < relays.size(); ++i)
        if (!relays[i].faults.isEmpty())
            faulty << int(i) + 1;
    return faulty;
}

QString RunRecord::EndingText() const
{
    switch (ending) {
    case Ending::Completed:
        return QStringLiteral("завершена");
    case Ending::Stopped:
        return QStringLiteral("остановлена");
    case Ending::StoppedAtRelay:
        return QStringLiteral("остановлена на реле %1 в цикле %2")
            .arg(stoppedAtRelay)
            .arg(cyclesRun + 1);
    case Ending::ConfigurationFailed:
        return QStringLiteral("не записана %1")
            .arg(tsConfig.written == false ? tsConfig.name : tuConfig.name);
    }
    return {};
}

QString RunRecord::Verdict() const
{
    QStringList faulty;
    for (const int relay : FaultyRelays())
        faulty << QString::number(relay);
    const QString unfinished =
        ending == Ending::Completed ? QString() : QStringLiteral("Проверка не закончена; ");
    if (faulty.isEmpty())
        return unfinished.isEmpty()
                   ? QStringLiteral("Неисправных реле нет")
                   : unfinished + QStringLiteral("среди проверенных реле неисправных нет");
    const QString relays = faulty.join(QStringLiteral(", "));
    return unfinished.isEmpty() ? QStringLiteral("Неисправные реле: ") + relays
                                : unfinished + QStringLiteral("неисправные реле: ") + relays;
}

QString RunRecord::FaultText(int relay, const QString& inputs)
{
    // Input k reads 0 while relay k is held (normally closed contacts), every other input 1.
    QStringList wrong;
    for (int input = 1; input <= inputs.size(); ++input) {
        const QChar read = inputs[input - 1];
        const QChar expected = input == relay ? u'0' : u'1';
        if (read != expected)
            wrong << QStringLiteral("вход %1 = %2, ожидался %3")
                         .arg(input)
                         .arg(read == u'-' ? QStringLiteral("нет данных") : QString(read))
                         .arg(expected);
    }
    return wrong.join(QStringLiteral("; "));
}
