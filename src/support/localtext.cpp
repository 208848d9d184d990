// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/localtext.h"

#include <QLocale>
#include <cmath>

QDateTime StampDateTime(uint32_t seconds)
{
    return QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC).addSecs(qint64(seconds));
}

namespace
{
// Blanks and commas that set a time-zone name off from the time.
bool ZoneSeparator(QChar c)
{
    return c.isSpace() || c == u',' || c == u'\u060C' /* Arabic comma */;
}

QChar ClosingBracket(QChar open)
{
    switch (open.unicode()) {
    case u'(':
        return u')';
    case u'[':
        return u']';
    case u'\uFF08': // full-width brackets
        return u'\uFF09';
    default:
        return {};
    }
}

void ChopSeparators(QString& s)
{
    while (!s.isEmpty() && ZoneSeparator(s.back()))
        s.chop(1);
}
} // namespace

QString LongTimeFormat(const QString& localeFormat)
{
    const QString& f = localeFormat;
    const int n = int(f.size());
    QString out;
    int i = 0;
    while (i < n) {
        if (f[i] == u'\'') {
            // Quoted text, with '' for a quote, is copied as it is: its letters are no fields.
            int j = i + 1;
            while (j < n && !(f[j] == u'\'' && (j + 1 >= n || f[j + 1] != u'\'')))
                j += f[j] == u'\'' ? 2 : 1;
            out += f.mid(i, j + 1 - i);
            i = j + 1;
            continue;
        }
        if (f[i] != u't') {
            out += f[i++];
            continue;
        }
        // The zone designator: a run of 't'.
        while (i < n && f[i] == u't')
            ++i;
        ChopSeparators(out);
        if (!out.isEmpty() && !ClosingBracket(out.back()).isNull()) {
            int close = i;
            while (close < n && f[close].isSpace())
                ++close;
            if (close < n && f[close] == ClosingBracket(out.back())) {
                out.chop(1);
                i = close + 1;
            }
        }
        ChopSeparators(out);
        if (out.isEmpty()) // the zone led: what set it off from the time follows it
            while (i < n && ZoneSeparator(f[i]))
                ++i;
    }
    return out;
}

QString LongTimeText(const QTime& time, const QLocale& locale)
{
    return locale.toString(time, LongTimeFormat(locale.timeFormat(QLocale::LongFormat)));
}

QString LongTimeText(const QTime& time)
{
    static const QLocale locale = QLocale::system();
    static const QString format = LongTimeFormat(locale.timeFormat(QLocale::LongFormat));
    return locale.toString(time, format);
}

QString StampTimeText(uint32_t seconds)
{
    return LongTimeText(StampDateTime(seconds).time());
}

namespace
{
// The system locale without digit grouping: "-32768", not "-32,768".
const QLocale& NumberLocale()
{
    static const QLocale locale = [] {
        QLocale l = QLocale::system();
        l.setNumberOptions(l.numberOptions() | QLocale::OmitGroupSeparator);
        return l;
    }();
    return locale;
}
} // namespace

QString FixedText(double value, int precision, int decimals)
{
    const double magnitude = std::fabs(value);
    const int integerDigits = magnitude < 1 ? 1 : int(std::floor(std::log10(magnitude))) + 1;
    if (integerDigits > precision)
        return NumberLocale().toString(value, 'E', precision - 1);
    return NumberLocale().toString(value, 'f', decimals);
}
