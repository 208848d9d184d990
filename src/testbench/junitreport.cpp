// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/junitreport.h"

#include <QXmlStreamWriter>

namespace junitreport
{
namespace
{
QString Seconds(double s)
{
    return QString::number(s, 'f', 3);
}

struct Counts {
    int tests = 0, failures = 0, skipped = 0;
    double seconds = 0;
};

Counts CountOf(const RunRecord& run)
{
    Counts c;
    for (const RunRecord::Step* step : {&run.tsConfig, &run.tuConfig}) {
        ++c.tests;
        c.failures += step->written == false;
        c.skipped += !step->written.has_value();
        c.seconds += step->seconds;
    }
    for (const RunRecord::Relay& relay : run.relays) {
        ++c.tests;
        c.failures += !relay.faults.isEmpty();
        c.skipped += relay.checks == 0;
        c.seconds += relay.seconds;
    }
    return c;
}

void Properties(QXmlStreamWriter& x, const RunRecord& run)
{
    x.writeStartElement(QStringLiteral("properties"));
    const auto property = [&x](const QString& name, const QString& value) {
        x.writeEmptyElement(QStringLiteral("property"));
        x.writeAttribute(QStringLiteral("name"), name);
        x.writeAttribute(QStringLiteral("value"), value);
    };
    property(QStringLiteral("adapter"), run.adapter);
    for (const RunRecord::Block& b : run.blocks)
        property(QStringLiteral("%1 %2").arg(b.type).arg(b.address),
                 b.version.isEmpty() ? QStringLiteral("не определена") : b.version);
    property(QStringLiteral("cycles"),
             QStringLiteral("%1 of %2").arg(run.cyclesRun).arg(run.cyclesPlanned));
    property(QStringLiteral("ending"), run.EndingText());
    x.writeEndElement();
}

void StepCase(QXmlStreamWriter& x, const RunRecord::Step& step)
{
    x.writeStartElement(QStringLiteral("testcase"));
    x.writeAttribute(QStringLiteral("name"), step.name);
    x.writeAttribute(QStringLiteral("classname"), QStringLiteral("bench.configuration"));
    x.writeAttribute(QStringLiteral("time"), Seconds(step.seconds));
    if (!step.written) {
        x.writeEmptyElement(QStringLiteral("skipped"));
        x.writeAttribute(QStringLiteral("message"), QStringLiteral("проверка остановлена"));
    } else if (!*step.written) {
        x.writeStartElement(QStringLiteral("failure"));
        x.writeAttribute(QStringLiteral("message"), QStringLiteral("блок не ответил"));
        x.writeAttribute(QStringLiteral("type"), QStringLiteral("configuration"));
        x.writeEndElement();
    }
    x.writeEndElement();
}

void RelayCase(QXmlStreamWriter& x, int number, const RunRecord::Relay& relay)
{
    x.writeStartElement(QStringLiteral("testcase"));
    x.writeAttribute(QStringLiteral("name"),
                     QStringLiteral("relay %1").arg(number, 2, 10, QChar(u'0')));
    x.writeAttribute(QStringLiteral("classname"), QStringLiteral("bench.relays"));
    x.writeAttribute(QStringLiteral("time"), Seconds(relay.seconds));
    if (!relay.faults.isEmpty()) {
        const auto& [cycle, inputs] = relay.faults.front();
        x.writeStartElement(QStringLiteral("failure"));
        x.writeAttribute(
            QStringLiteral("message"),
            QStringLiteral("реле %1: %2").arg(number).arg(RunRecord::FaultText(number, inputs)));
        x.writeAttribute(QStringLiteral("type"), QStringLiteral("relay"));
        QStringList text;
        for (const auto& [c, read] : relay.faults)
            text << QStringLiteral("цикл %1: входы 1-32 = %2").arg(c).arg(read);
        x.writeCharacters(text.join(u'\n'));
        x.writeEndElement();
    } else if (relay.checks == 0) {
        x.writeEmptyElement(QStringLiteral("skipped"));
        x.writeAttribute(QStringLiteral("message"), QStringLiteral("не проверено"));
    }
    x.writeEndElement();
}
} // namespace

QByteArray Xml(const RunRecord& run, const QString& hostname)
{
    QByteArray out;
    QXmlStreamWriter x(&out);
    x.setAutoFormatting(true);
    x.writeStartDocument();
    const Counts c = CountOf(run);
    const auto counts = [&] {
        x.writeAttribute(QStringLiteral("tests"), QString::number(c.tests));
        x.writeAttribute(QStringLiteral("failures"), QString::number(c.failures));
        x.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
        x.writeAttribute(QStringLiteral("skipped"), QString::number(c.skipped));
        x.writeAttribute(QStringLiteral("time"), Seconds(c.seconds));
    };
    x.writeStartElement(QStringLiteral("testsuites"));
    x.writeAttribute(QStringLiteral("name"), QStringLiteral("Проверка модулей"));
    counts();
    x.writeStartElement(QStringLiteral("testsuite"));
    QStringList blocks;
    for (const RunRecord::Block& b : run.blocks)
        blocks << QStringLiteral("%1 %2").arg(b.type).arg(b.address);
    x.writeAttribute(
        QStringLiteral("name"),
        QStringLiteral("Проверка модулей (%1)").arg(blocks.join(QStringLiteral(", "))));
    counts();
    x.writeAttribute(QStringLiteral("timestamp"),
                     run.started.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")));
    x.writeAttribute(QStringLiteral("hostname"), hostname);
    Properties(x, run);
    StepCase(x, run.tsConfig);
    StepCase(x, run.tuConfig);
    for (size_t i = 0; i < run.relays.size(); ++i)
        RelayCase(x, int(i) + 1, run.relays[i]);
    QStringList log;
    for (const auto& [time, text] : run.actions)
        log << time + u'\t' + text;
    x.writeTextElement(QStringLiteral("system-out"), log.join(u'\n'));
    x.writeEndElement(); // testsuite
    x.writeEndElement(); // testsuites
    x.writeEndDocument();
    return out;
}

} // namespace junitreport
