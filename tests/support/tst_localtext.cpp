// SPDX-License-Identifier: GPL-3.0-or-later
// The time of day in a locale's long time format, shown without the time-zone name.

#include "support/localtext.h"

#include <QTest>

class LocalTextTest : public QObject
{
    Q_OBJECT

private slots:
    void zoneLeavesTheFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("after") << "HH:mm:ss t"
                               << "HH:mm:ss";
        QTest::newRow("brackets") << "H:mm:ss (t)"
                                  << "H:mm:ss";
        QTest::newRow("square brackets") << "APh:mm:ss [t]"
                                         << "APh:mm:ss";
        QTest::newRow("comma") << "h:mm:ss AP, t"
                               << "h:mm:ss AP";
        QTest::newRow("before") << "t APh:mm:ss"
                                << "APh:mm:ss";
        QTest::newRow("between") << "AP, t h:mm"
                                 << "AP h:mm";
        QTest::newRow("quoted letters stay") << "'Klock' H.mm:ss 'at''t' (tttt)"
                                             << "'Klock' H.mm:ss 'at''t'";
        QTest::newRow("no zone") << "HH:mm:ss"
                                 << "HH:mm:ss";
    }
    void zoneLeavesTheFormat()
    {
        QFETCH(QString, format);
        QFETCH(QString, expected);
        QCOMPARE(LongTimeFormat(format), expected);
    }

    void timeOfDayAloneInEveryLocale_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char* name : {"ru_RU", "en_US", "de_DE", "es_ES", "ca_ES", "eu_ES", "hr_HR",
                                 "fa_IR", "sq_AL", "ja_JP", "zh_HK", "my_MM"})
            QTest::newRow(name) << QString(name);
    }
    void timeOfDayAloneInEveryLocale()
    {
        QFETCH(QString, locale);
        const QLocale l(locale);
        const QTime t(12, 30, 5);
        const QString text = LongTimeText(t, l);
        QVERIFY2(text.contains(l.toString(t, "mm")) && text.contains(l.toString(t, "ss")),
                 qPrintable(text));
        for (QChar stray : QStringLiteral("()[]'\",\u060C"))
            QVERIFY2(!text.contains(stray), qPrintable(text));
        QVERIFY2(text.front().isLetterOrNumber() && text.back().isLetterOrNumber(),
                 qPrintable(text));
        const QString zone = l.toString(t, "t");
        QVERIFY2(zone.isEmpty() || !text.contains(zone), qPrintable(text));
        if (l.timeFormat(QLocale::LongFormat).contains("AP"))
            QVERIFY2(text.contains(l.pmText(), Qt::CaseInsensitive), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(LocalTextTest)
#include "tst_localtext.moc"
