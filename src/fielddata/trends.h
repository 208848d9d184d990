// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Trends: the values of chosen inputs against time, as the blocks report them. Each series is
// one input (a measurement channel, an integral counter, a telesignal) and keeps its newest
// hour in a ring of fixed size, so that memory does not grow with the time watched. The
// recorder feeds the series from the live tables; the trend window and `tavena-cli watch
// --csv` are views of it.
//
// Times are milliseconds since 1970 (UTC). Measurements and counters are taken when they
// arrive; telesignals at the time stamps of their events, as steps between 0 and 1.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class LiveTables;

namespace trend
{

constexpr qint64 HourMs = 3600 * 1000;
constexpr int RingCapacity = 36000; // one hour at ten values a second

struct Point {
    qint64 ms = 0;
    double value = 0;
};

// The newest points of a series in time order: at most `capacity`, none more than `span` ms
// older than the newest. Its memory is taken once.
class Ring
{
public:
    explicit Ring(int capacity = RingCapacity, qint64 span = HourMs);

    int size() const { return count_; }
    int capacity() const { return int(points_.size()); }
    // Point i, 0 the oldest.
    const Point& at(int i) const { return points_[size_t((head_ + i) % capacity())]; }
    // A point earlier than the newest is taken at the newest's time: the series stays in order.
    void Append(qint64 ms, double value);
    void Clear();
    // The first point at or after ms; size() when none.
    int LowerBound(qint64 ms) const;
    // The value at ms: that of the last point at or before it; nothing before the first.
    std::optional<double> ValueAt(qint64 ms) const;
    // f(point) for points first..last - 1, in order, without an index computed for each.
    template <typename F> void Walk(int first, int last, F&& f) const
    {
        const int n = capacity();
        int at = (head_ + first) % n;
        for (int i = first; i < last; ++i) {
            f(points_[size_t(at)]);
            if (++at == n)
                at = 0;
        }
    }

private:
    std::vector<Point> points_;
    qint64 span_;
    int head_ = 0;
    int count_ = 0;
};

enum class Kind : uint8_t { Measurement, Counter, Telesignal };

// An input: block 0..7, input (channel, counter) 1..32.
struct Key {
    Kind kind = Kind::Measurement;
    int block = 0;
    int input = 1;
    bool operator==(const Key&) const = default;
};
// "tit:2/5", "tii:1/3", "ts:0/7" (a counter of telesignal block 1 is "tii:1/3").
std::optional<Key> ParseKey(const QString& text);
QString KeyText(const Key& key);

struct Series {
    Key key;
    Ring ring; // as reported: quanta, counts, 0 and 1
};

// A time as the exports write it: local time with milliseconds, "2026-12-09 14:05:09.123".
QString TimeText(qint64 ms);
// A value with the decimal point whatever the locale.
QString ValueText(double value);

class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(LiveTables& tables, QObject* parent = nullptr);
    ~Recorder() override;

    // Milliseconds since 1970 of a value that arrives now; tests set their own clock.
    std::function<qint64()> Now;

    // A series for the input (the one there is, when it is there already).
    Series& Add(const Key& key);
    void Remove(const Key& key);
    // Every series' points forgotten; the series stay.
    void Clear();
    const std::vector<std::unique_ptr<Series>>& series() const { return series_; }
    const Series* Find(const Key& key) const;

    // The factor from a series' ring to what it shows (the unit the measurement table shows),
    // and its name: block, input and unit ("ТИТ 2 вход 5 (В)").
    double Scale(const Series& s) const;
    QString Name(const Series& s) const;

    // Counts every point taken: a view redraws when it moved.
    quint64 Version() const { return version_; }

    // The series as CSV: a header of "Время" and the names, then a row for every time a series
    // has a point, with the values of the series that have one then. UTF-8, commas between
    // fields, the decimal point.
    QByteArray CsvHeader(const QList<const Series*>& shown) const;
    QByteArray CsvRow(const QList<const Series*>& shown, qint64 ms) const;
    QByteArray Csv(const QList<const Series*>& shown, qint64 from, qint64 to) const;

signals:
    void seriesChanged();
    // A point taken (connected only by a watcher that logs them).
    void pointTaken(const trend::Series& series, qint64 ms);

private:
    Series* SeriesAt(Kind kind, int block, int input);
    void Take(Series* s, qint64 ms, double value);
    void Listen();
    void Readings(int block, int first, const QList<int>& quanta);
    void Counter(int block, int channel, quint32 value);
    void States(int block, bool interlock, quint32 bits);
    void Event(int block, int input, bool state, int second, quint32 seconds, int number);

    LiveTables& tables_;
    std::vector<std::unique_ptr<Series>> series_;
    std::array<Series*, 3 * 8 * 32> index_{}; // by kind, block, input
    quint64 version_ = 0;
    QList<QMetaObject::Connection> connections_;
};

} // namespace trend
