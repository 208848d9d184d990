#include "support/localtext.h"

#include <QLocale>
#include <cmath>

QDateTime StampDateTime(uint32_t seconds)
{
    return QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC).addSecs(qint64(seconds));
}

QString LongTimeText(const QTime& time)
{
    static const QString format = [] {
        QString f = QLocale::system().timeFormat(QLocale::LongFormat);
        // Drop time-zone designators and the blanks around them.
        f.remove(QLatin1Char('t'));
        return f.simplified();
    }();
    return QLocale::system().toString(time, format);
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
