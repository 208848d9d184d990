// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/trends.h"

#include "fielddata/livetables.h"
#include "support/localtext.h"

#include <QDateTime>
#include <QMetaMethod>

namespace trend
{

Ring::Ring(int capacity, qint64 span) : points_(size_t(std::max(capacity, 1))), span_(span)
{
}

void Ring::Append(qint64 ms, double value)
{
    if (count_ > 0)
        ms = std::max(ms, at(count_ - 1).ms);
    if (count_ == capacity()) {
        head_ = (head_ + 1) % capacity();
        --count_;
    }
    points_[size_t((head_ + count_) % capacity())] = {ms, value};
    ++count_;
    // Older than the span before the newest: gone.
    while (count_ > 1 && at(0).ms < ms - span_) {
        head_ = (head_ + 1) % capacity();
        --count_;
    }
}

void Ring::Clear()
{
    head_ = count_ = 0;
}

int Ring::LowerBound(qint64 ms) const
{
    int lo = 0, hi = count_;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (at(mid).ms < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::optional<double> Ring::ValueAt(qint64 ms) const
{
    const int after = LowerBound(ms + 1); // the first point later than ms
    if (after == 0)
        return std::nullopt;
    return at(after - 1).value;
}

namespace
{
const char* const KindNames[] = {"tit", "tii", "ts"};
} // namespace

std::optional<Key> ParseKey(const QString& text)
{
    const QString kind = text.section(u':', 0, 0).trimmed().toLower();
    bool blockOk = false, inputOk = false;
    const int block = text.section(u':', 1).section(u'/', 0, 0).toInt(&blockOk);
    const int input = text.section(u'/', 1).toInt(&inputOk);
    for (int k = 0; k < 3; ++k)
        if (kind == QLatin1String(KindNames[k]) && blockOk && inputOk && block >= 0 && block < 8 &&
            input >= 1 && input <= 32)
            return Key{Kind(k), block, input};
    return std::nullopt;
}

QString KeyText(const Key& key)
{
    return QStringLiteral("%1:%2/%3")
        .arg(QLatin1String(KindNames[int(key.kind)]))
        .arg(key.block)
        .arg(key.input);
}

QString TimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

QString ValueText(double value)
{
    return QString::number(value, 'g', 10);
}

Recorder::Recorder(LiveTables& tables, QObject* parent)
    : QObject(parent), Now([] { return QDateTime::currentMSecsSinceEpoch(); }), tables_(tables)
{
    // The measurement curves are named with the unit the table shows.
    connect(&tables, &LiveTables::unitChanged, this, &Recorder::seriesChanged);
}

Recorder::~Recorder() = default;

Series* Recorder::SeriesAt(Kind kind, int block, int input)
{
    if (block < 0 || block >= 8 || input < 1 || input > 32)
        return nullptr;
    return index_[size_t((int(kind) * 8 + block) * 32 + input - 1)];
}

const Series* Recorder::Find(const Key& key) const
{
    for (const auto& s : series_)
        if (s->key == key)
            return s.get();
    return nullptr;
}

Series& Recorder::Add(const Key& key)
{
    if (Series* s = SeriesAt(key.kind, key.block, key.input))
        return *s;
    series_.push_back(std::make_unique<Series>(Series{key, Ring()}));
    index_[size_t((int(key.kind) * 8 + key.block) * 32 + key.input - 1)] = series_.back().get();
    Listen();
    emit seriesChanged();
    return *series_.back();
}

void Recorder::Remove(const Key& key)
{
    Series* s = SeriesAt(key.kind, key.block, key.input);
    if (!s)
        return;
    index_[size_t((int(key.kind) * 8 + key.block) * 32 + key.input - 1)] = nullptr;
    std::erase_if(series_, [s](const auto& x) { return x.get() == s; });
    Listen();
    emit seriesChanged();
}

void Recorder::Clear()
{
    for (const auto& s : series_)
        s->ring.Clear();
    ++version_;
}

double Recorder::Scale(const Series& s) const
{
    return s.key.kind == Kind::Measurement ? tables_.unitFactor() : 1.0;
}

QString Recorder::Name(const Series& s) const
{
    switch (s.key.kind) {
    case Kind::Measurement: {
        const QString unit = tables_.unit() == LiveTables::Volts       ? QStringLiteral("В")
                             : tables_.unit() == LiveTables::Milliamps ? QStringLiteral("мА")
                                                                       : QStringLiteral("кванты");
        return QStringLiteral("ТИТ %1 вход %2 (%3)").arg(s.key.block).arg(s.key.input).arg(unit);
    }
    case Kind::Counter:
        return QStringLiteral("ТИИ %1 счётчик %2").arg(s.key.block).arg(s.key.input);
    case Kind::Telesignal:
        return QStringLiteral("ТС %1 вход %2").arg(s.key.block).arg(s.key.input);
    }
    return {};
}

void Recorder::Take(Series* s, qint64 ms, double value)
{
    s->ring.Append(ms, value);
    ++version_;
    if (isSignalConnected(QMetaMethod::fromSignal(&Recorder::pointTaken)))
        emit pointTaken(*s, s->ring.at(s->ring.size() - 1).ms);
}

void Recorder::Listen()
{
    // The tables are listened to only while there is a series to feed: without one, the
    // readings are not even gathered.
    for (const auto& c : std::exchange(connections_, {}))
        disconnect(c);
    if (series_.empty())
        return;
    connections_ << connect(&tables_, &LiveTables::readingsReceived, this, &Recorder::Readings)
                 << connect(&tables_, &LiveTables::counterReceived, this,
                            [this](int block, int channel, quint32 value, qint64) {
                                Counter(block, channel, value);
                            })
                 << connect(&tables_, &LiveTables::statesReceived, this, &Recorder::States)
                 << connect(&tables_, &LiveTables::eventReceived, this, &Recorder::Event);
}

void Recorder::Readings(int block, int first, const QList<int>& quanta)
{
    const qint64 now = Now();
    for (int k = 0; k < quanta.size(); ++k)
        if (Series* s = SeriesAt(Kind::Measurement, block, first + k + 1))
            Take(s, now, quanta[k]);
}

void Recorder::Counter(int block, int channel, quint32 value)
{
    if (Series* s = SeriesAt(Kind::Counter, block, channel))
        Take(s, Now(), double(value));
}

void Recorder::States(int block, bool interlock, quint32 bits)
{
    if (interlock)
        return;
    // A state record gives the level a curve starts from; the changes come with the events.
    for (int input = 1; input <= 32; ++input)
        if (Series* s = SeriesAt(Kind::Telesignal, block, input); s && s->ring.size() == 0)
            Take(s, Now(), (bits >> (input - 1)) & 1);
}

void Recorder::Event(int block, int input, bool state, int second, quint32 seconds, int number)
{
    Series* first = SeriesAt(Kind::Telesignal, block, input);
    Series* next = second >= 0 ? SeriesAt(Kind::Telesignal, block, input + 1) : nullptr;
    if (!first && !next)
        return;
    // The event's own time: the controlled point's local time, and the milliseconds after it.
    const QDateTime wall = StampDateTime(seconds);
    qint64 ms = QDateTime(wall.date(), wall.time(), Qt::LocalTime).toMSecsSinceEpoch();
    if (number >= 0 && number < 1000)
        ms += number;
    if (first)
        Take(first, ms, state ? 1 : 0);
    if (next)
        Take(next, ms, second);
}

QByteArray Recorder::CsvHeader(const QList<const Series*>& shown) const
{
    QStringList fields{QStringLiteral("Время")};
    for (const Series* s : shown) {
        QString name = Name(*s);
        if (name.contains(u',') || name.contains(u'"'))
            name = u'"' + name.replace(u'"', QStringLiteral("\"\"")) + u'"';
        fields << name;
    }
    return fields.join(u',').toUtf8() + '\n';
}

QByteArray Recorder::CsvRow(const QList<const Series*>& shown, qint64 ms) const
{
    QByteArray row = TimeText(ms).toUtf8();
    for (const Series* s : shown) {
        row += ',';
        const int i = s->ring.LowerBound(ms);
        if (i < s->ring.size() && s->ring.at(i).ms == ms)
            row += ValueText(s->ring.at(i).value * Scale(*s)).toUtf8();
    }
    return row + '\n';
}

QByteArray Recorder::Csv(const QList<const Series*>& shown, qint64 from, qint64 to) const
{
    // Every time a series has a point, in order, each once.
    std::vector<qint64> times;
    for (const Series* s : shown)
        for (int i = s->ring.LowerBound(from); i < s->ring.size() && s->ring.at(i).ms <= to; ++i)
            times.push_back(s->ring.at(i).ms);
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    QByteArray csv = CsvHeader(shown);
    for (const qint64 ms : times)
        csv += CsvRow(shown, ms);
    return csv;
}

} // namespace trend
