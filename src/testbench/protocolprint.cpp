// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/protocolprint.h"

#include "support/errortext.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace protocolprint
{
namespace
{
QString E(const QString& text)
{
    return text.toHtmlEscaped();
}

QString When(const QDateTime& t)
{
    return t.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

QString Row(const QString& caption, const QString& value, const QString& style = {})
{
    return QStringLiteral("<tr><td>%1</td><td%3>%2</td></tr>")
        .arg(E(caption), E(value),
             style.isEmpty() ? QString() : QStringLiteral(" style=\"%1\"").arg(style));
}

QString Heading(const RunRecord& run, const QString& program)
{
    QString h = QStringLiteral("<h2>Протокол проверки модулей</h2>"
                               "<table cellspacing=\"0\" cellpadding=\"1\">");
    h += Row(QStringLiteral("Начало проверки"), When(run.started));
    h += Row(QStringLiteral("Окончание проверки"), When(run.ended));
    h += Row(QStringLiteral("Программа"), program);
    h += Row(QStringLiteral("Адрес адаптера"), run.adapter);
    for (const RunRecord::Block& b : run.blocks)
        h += Row(QStringLiteral("Блок %1, адрес %2").arg(b.type).arg(b.address),
                 b.version.isEmpty() ? QStringLiteral("версия не определена")
                                     : QStringLiteral("версия ") + b.version);
    h += Row(QStringLiteral("Циклов выполнено"),
             QStringLiteral("%1 из %2").arg(run.cyclesRun).arg(run.cyclesPlanned));
    h += Row(QStringLiteral("Проверка"), run.EndingText());
    const bool sound = run.ending == RunRecord::Ending::Completed && run.FaultyRelays().isEmpty();
    h += Row(QStringLiteral("Итог"), run.Verdict(),
             sound ? QStringLiteral("font-weight:bold")
                   : QStringLiteral("font-weight:bold; color:#c00000"));
    return h + QStringLiteral("</table>");
}

QString Settings(const QList<ShownSetting>& settings)
{
    QString h = QStringLiteral("<h3>Настройки окна «Проверка модулей»</h3>"
                               "<table cellspacing=\"0\" cellpadding=\"1\">");
    for (const ShownSetting& s : settings)
        h += Row(s.caption, s.text);
    return h + QStringLiteral("</table><p>Перед проверкой в блоки записано: ТС — время цикла 100, "
                              "фильтрация 50 мс; ТУ — тип 0, удержание 200, мин 0, макс 0.</p>");
}

QString Matrix(const RunRecord& run)
{
    QString h =
        QStringLiteral("<h3>Результаты проверки (строка — реле, столбец — вход)</h3>"
                       "<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"0\" "
                       "style=\"font-size:6.5pt; border-color:#808080\"><tr><th></th>");
    for (int input = 1; input <= int(run.relays.size()); ++input)
        h += QStringLiteral("<th width=\"2.7%\">%1</th>").arg(input);
    h += QStringLiteral("<th>Итог</th></tr>");
    for (qsizetype relay = 0; relay < run.matrix.size(); ++relay) {
        h += QStringLiteral("<tr><th>%1</th>").arg(relay + 1);
        const QStringList& row = run.matrix[relay];
        for (qsizetype c = 0; c < row.size(); ++c) {
            const bool error = row[c] == u"ERROR";
            h +=
                QStringLiteral("<td align=\"center\"%2>%1</td>")
                    .arg(E(row[c]), error ? QStringLiteral(" style=\"color:#c00000\"") : QString());
        }
        h += QStringLiteral("</tr>");
    }
    h += QStringLiteral("</table>");
    for (const int relay : run.FaultyRelays())
        for (const auto& [cycle, inputs] : run.relays[size_t(relay - 1)].faults)
            h += QStringLiteral("<p>Реле %1, цикл %2: %3.</p>")
                     .arg(relay)
                     .arg(cycle)
                     .arg(E(RunRecord::FaultText(relay, inputs)));
    return h;
}

QString Log(const RunRecord& run)
{
    QString h =
        QStringLiteral("<h3>Журнал проверки</h3><table cellspacing=\"0\" cellpadding=\"1\">");
    for (const auto& [time, text] : run.actions)
        h += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(E(time), E(text));
    return h + QStringLiteral("</table>");
}
} // namespace

QString Html(const RunRecord& run, const QList<ShownSetting>& settings, const QString& program)
{
    return QStringLiteral("<html><body>") + Heading(run, program) + Settings(settings) +
           Matrix(run) + Log(run) +
           QStringLiteral("<p><br/><br/>Проверил: ______________________________"
                          "&nbsp;&nbsp;&nbsp;&nbsp;Подпись: ____________________</p>"
                          "</body></html>");
}

QString WritePdf(const RunRecord& run, const QList<ShownSetting>& settings, const QString& program,
                 const QString& path)
{
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(18, 15, 15, 15), QPageLayout::Millimeter));
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Протокол проверки модулей"));
        writer.setCreator(program);
        QTextDocument document;
        document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 9));
        document.setHtml(Html(run, settings, program));
        document.print(&writer);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf.data()) != pdf.size() || !file.commit())
        return QStringLiteral("Протокол не записан в «%1»: %2").arg(path, FileErrorText(file));
    return {};
}

QString FileName(const RunRecord& run)
{
    return QStringLiteral("Протокол %1.pdf")
        .arg(run.started.toString(QStringLiteral("dd-MM-yyyy hh-mm-ss")));
}

} // namespace protocolprint
