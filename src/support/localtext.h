// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Numbers and times as the operator's system shows them: the locale's decimal separator and
// long time format.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <cstdint>

// Time stamp of the controlled point: seconds since 1970-01-01 00:00:00 counted in its local
// time without any time-zone shift (days = seconds / 86400 + 25569 from 1899-12-30).
QDateTime StampDateTime(uint32_t seconds);

// The time of day in the system's long time format, without a time-zone name (the controlled
// point's stamps carry none).
QString LongTimeText(const QTime& time);
// The same in the given locale's long time format.
QString LongTimeText(const QTime& time, const QLocale& locale);
// A long time format without its time-zone designator: the zone letters go together with the
// brackets around them and the blanks and commas that set them off; quoted text stays as it is.
QString LongTimeFormat(const QString& localeFormat);
QString StampTimeText(uint32_t seconds);

// Fixed-point text with the given decimals and the locale's separator; when the integer part
// has more than `precision` digits the scientific form is used instead.
QString FixedText(double value, int precision, int decimals);
