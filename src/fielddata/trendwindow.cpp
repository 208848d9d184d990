// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/trendwindow.h"

#include "support/errortext.h"
#include "support/messagebox.h"
#include "support/named.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QGraphicsLineItem>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>

namespace
{
constexpr qint64 MinSpanMs = 1000;

// The points of a ring between two times, as a curve of at most about a point a pixel: the
// smallest and the largest value of every column two pixels wide, in their order. The point before
// the range and the one after it are kept, so that the curve runs to the edges. A step curve rises
// and falls at its points' times.
QList<QPointF> Visible(const trend::Ring& ring, qint64 from, qint64 to, double scale, bool steps,
                       int pixels)
{
    QList<QPointF> out;
    const int first = std::max(ring.LowerBound(from) - 1, 0);
    const int last = std::min(ring.LowerBound(to + 1) + 1, ring.size());
    out.reserve(std::min(last - first, 2 * pixels + 4));
    const double perColumn = 2 * double(std::max<qint64>(to - from, 1)) / std::max(pixels, 2);
    qint64 column = std::numeric_limits<qint64>::min();
    trend::Point low, high;
    bool open = false;
    double previous = 0;
    const auto flush = [&] {
        if (!open)
            return;
        const bool lowFirst = low.ms <= high.ms;
        const trend::Point& a = lowFirst ? low : high;
        const trend::Point& b = lowFirst ? high : low;
        out.append({double(a.ms), a.value * scale});
        if (a.ms != b.ms || a.value != b.value)
            out.append({double(b.ms), b.value * scale});
        open = false;
    };
    ring.Walk(first, last, [&](const trend::Point& p) {
        if (steps && (open || !out.isEmpty()) && p.value != previous) {
            flush();
            out.append({double(p.ms), previous * scale});
        }
        previous = p.value;
        const auto c = qint64(double(p.ms - from) / perColumn);
        if (c != column || !open) {
            flush();
            column = c;
            low = high = p;
            open = true;
        } else if (p.value < low.value) {
            low = p;
        } else if (p.value > high.value) {
            high = p;
        }
    });
    flush();
    return out;
}
} // namespace

TrendWindow::TrendWindow(trend::Recorder& recorder, QWidget* parent)
    : QWidget(parent, Qt::Window), recorder_(recorder)
{
    setObjectName(QStringLiteral("TrendWindow"));
    setWindowTitle(QStringLiteral("Графики"));
    chart_ = new QChart;
    chart_->legend()->setAlignment(Qt::AlignBottom);
    time_ = new QDateTimeAxis(chart_);
    time_->setFormat(QStringLiteral("hh:mm:ss"));
    values_ = new QValueAxis(chart_);
    steps_ = new QValueAxis(chart_);
    steps_->setRange(-0.1, 1.1);
    steps_->setTickCount(2);
    steps_->setLabelFormat(QStringLiteral("%.0f"));
    chart_->addAxis(time_, Qt::AlignBottom);
    chart_->addAxis(values_, Qt::AlignLeft);
    chart_->addAxis(steps_, Qt::AlignRight);
    BuildControls();
    cursorLine_ = new QGraphicsLineItem(chart_);
    cursorLine_->setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
    cursorLine_->hide();
    SaveDialog = [this](const QString& filter) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить"), QString(), filter);
    };
    redraw_.setInterval(RedrawInterval);
    connect(&redraw_, &QTimer::timeout, this, [this] {
        if (!paused_ && (follow_ || recorder_.Version() != drawn_))
            Redraw();
    });
    connect(&recorder_, &trend::Recorder::seriesChanged, this, &TrendWindow::Rebuild);
    Rebuild();
    redraw_.start();
    resize(900, 560);
}

void TrendWindow::BuildControls()
{
    TrendChart = named(new QChartView(chart_, this), "TrendChart");
    TrendChart->setAccessibleName(QStringLiteral("Графики"));
    TrendChart->setRenderHint(QPainter::Antialiasing, false);
    TrendChart->setFocusPolicy(Qt::StrongFocus);
    TrendChart->viewport()->setMouseTracking(true);
    TrendChart->viewport()->installEventFilter(this);
    TrendCursor = named(new QLabel(this), "TrendCursor");
    TrendCursor->setWordWrap(true);
    auto* curvesLabel = named(new QLabel(QStringLiteral("Кривые"), this), "TrendCurvesLabel");
    TrendCurves = named(new QListWidget(this), "TrendCurves");
    TrendCurves->setAccessibleName(curvesLabel->text());
    curvesLabel->setBuddy(TrendCurves);
    TrendFollow = named(new QCheckBox(QStringLiteral("Следить"), this), "TrendFollow");
    TrendFollow->setChecked(true);
    TrendPause = named(new QPushButton(QStringLiteral("Пауза"), this), "TrendPause");
    TrendRemove = named(new QPushButton(QStringLiteral("Убрать кривую"), this), "TrendRemove");
    TrendClear = named(new QPushButton(QStringLiteral("Очистить"), this), "TrendClear");
    TrendExportCsv =
        named(new QPushButton(QStringLiteral("Сохранить CSV…"), this), "TrendExportCsv");
    TrendExportPng =
        named(new QPushButton(QStringLiteral("Сохранить PNG…"), this), "TrendExportPng");

    auto* side = new QVBoxLayout;
    side->addWidget(curvesLabel);
    side->addWidget(TrendCurves, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{TrendFollow, TrendPause, TrendRemove,
                                                      TrendClear, TrendExportCsv, TrendExportPng})
        side->addWidget(w);
    auto* left = new QVBoxLayout;
    left->addWidget(TrendChart, 1);
    left->addWidget(TrendCursor);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(side);

    connect(TrendFollow, &QCheckBox::toggled, this, &TrendWindow::SetFollow);
    connect(TrendPause, &QPushButton::clicked, this, &TrendWindow::TrendPauseClick);
    connect(TrendRemove, &QPushButton::clicked, this, &TrendWindow::TrendRemoveClick);
    connect(TrendClear, &QPushButton::clicked, this, &TrendWindow::TrendClearClick);
    connect(TrendExportCsv, &QPushButton::clicked, this, &TrendWindow::TrendExportCsvClick);
    connect(TrendExportPng, &QPushButton::clicked, this, &TrendWindow::TrendExportPngClick);
}

void TrendWindow::ShowCurves(const QList<trend::Key>& keys)
{
    for (const trend::Key& key : keys)
        recorder_.Add(key);
    show();
    raise();
    activateWindow();
}

void TrendWindow::Rebuild()
{
    for (QLineSeries* line : std::exchange(lines_, {})) {
        chart_->removeSeries(line);
        delete line;
    }
    TrendCurves->clear();
    bool anySteps = false;
    for (const auto& s : recorder_.series()) {
        auto* line = new QLineSeries(chart_);
        line->setName(recorder_.Name(*s));
        chart_->addSeries(line);
        const bool steps = s->key.kind == trend::Kind::Telesignal;
        anySteps = anySteps || steps;
        line->attachAxis(time_);
        line->attachAxis(steps ? steps_ : values_);
        lines_ << line;
        TrendCurves->addItem(line->name());
    }
    steps_->setVisible(anySteps);
    drawn_ = ~quint64(0);
    Redraw();
}

qint64 TrendWindow::Newest() const
{
    qint64 newest = std::numeric_limits<qint64>::min();
    for (const auto& s : recorder_.series())
        if (s->ring.size() > 0)
            newest = std::max(newest, s->ring.at(s->ring.size() - 1).ms);
    return newest == std::numeric_limits<qint64>::min() ? QDateTime::currentMSecsSinceEpoch()
                                                        : newest;
}

void TrendWindow::Redraw()
{
    if (follow_)
        end_ = Newest();
    const qint64 start = end_ - span_;
    time_->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(end_));
    const int pixels = std::max(int(chart_->plotArea().width()), 100);
    double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
    const auto& all = recorder_.series();
    const qint64 held = std::min(end_, Newest());
    for (qsizetype i = 0; i < lines_.size() && i < qsizetype(all.size()); ++i) {
        const trend::Series& s = *all[size_t(i)];
        const bool steps = s.key.kind == trend::Kind::Telesignal;
        QList<QPointF> points = Visible(s.ring, start, end_, recorder_.Scale(s), steps, pixels);
        // A telesignal holds its last state up to the newest value of any curve.
        if (steps && !points.isEmpty() && points.back().x() < double(held))
            points.append({double(held), points.back().y()});
        for (const QPointF& p : points)
            if (!steps && p.x() >= double(start) && p.x() <= double(end_)) {
                low = std::min(low, p.y());
                high = std::max(high, p.y());
            }
        lines_[i]->replace(points);
    }
    if (low > high)
        low = 0, high = 1;
    const double margin = std::max((high - low) * 0.05, 0.5);
    values_->setRange(low - margin, high + margin);
    drawn_ = recorder_.Version();
}

qint64 TrendWindow::TimeAt(double x) const
{
    const QRectF area = chart_->plotArea();
    return end_ - span_ + qint64((x - area.left()) / std::max(area.width(), 1.0) * double(span_));
}

void TrendWindow::Zoom(double factor, qint64 around)
{
    const qint64 span = std::clamp(qint64(double(span_) * factor), MinSpanMs, trend::HourMs);
    if (!follow_)
        end_ = around + qint64(double(end_ - around) * double(span) / double(span_));
    span_ = span;
    Redraw();
}

void TrendWindow::Pan(qint64 ms)
{
    SetFollow(false);
    end_ += ms;
    Redraw();
}

void TrendWindow::SetFollow(bool follow)
{
    follow_ = follow;
    if (TrendFollow->isChecked() != follow)
        TrendFollow->setChecked(follow);
    Redraw();
}

void TrendWindow::ShowCursor(const QPointF& at)
{
    const QRectF area = chart_->plotArea();
    if (!area.contains(at)) {
        cursorLine_->hide();
        return;
    }
    const qint64 t = TimeAt(at.x());
    QStringList text{trend::TimeText(t)};
    for (const auto& s : recorder_.series()) {
        const auto v = s->ring.ValueAt(t);
        text << recorder_.Name(*s) + QStringLiteral(" = ") +
                    (v ? trend::ValueText(*v * recorder_.Scale(*s)) : QStringLiteral("—"));
    }
    TrendCursor->setText(text.join(QStringLiteral("; ")));
    cursorLine_->setLine(at.x(), area.top(), at.x(), area.bottom());
    cursorLine_->show();
}

bool TrendWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != TrendChart->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        Zoom(wheel->angleDelta().y() > 0 ? 0.8 : 1.25, TimeAt(wheel->position().x()));
        return true;
    }
    case QEvent::MouseButtonPress:
        dragFrom_ = static_cast<QMouseEvent*>(event)->position();
        return true;
    case QEvent::MouseButtonRelease:
        dragFrom_.reset();
        return true;
    case QEvent::MouseMove: {
        const QPointF at = static_cast<QMouseEvent*>(event)->position();
        if (dragFrom_) {
            const double px = std::max(chart_->plotArea().width(), 1.0);
            Pan(qint64(-(at.x() - dragFrom_->x()) / px * double(span_)));
            dragFrom_ = at;
        }
        ShowCursor(at);
        return false;
    }
    case QEvent::Leave:
        cursorLine_->hide();
        return false;
    default:
        return false;
    }
}

void TrendWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return Zoom(0.8, end_ - span_ / 2);
    case Qt::Key_Minus:
        return Zoom(1.25, end_ - span_ / 2);
    case Qt::Key_Left:
        return Pan(-span_ / 10);
    case Qt::Key_Right:
        return Pan(span_ / 10);
    case Qt::Key_End:
        return SetFollow(true);
    default:
        QWidget::keyPressEvent(event);
    }
}

void TrendWindow::TrendPauseClick()
{
    paused_ = !paused_;
    TrendPause->setText(paused_ ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    if (!paused_)
        Redraw();
}

void TrendWindow::TrendRemoveClick()
{
    const int row = TrendCurves->currentRow();
    if (row >= 0 && row < int(recorder_.series().size()))
        recorder_.Remove(recorder_.series()[size_t(row)]->key);
}

void TrendWindow::TrendClearClick()
{
    recorder_.Clear();
    Redraw();
}

void TrendWindow::TrendExportCsvClick()
{
    const QString path = SaveDialog(QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    QList<const trend::Series*> shown;
    for (const auto& s : recorder_.series())
        shown << s.get();
    QSaveFile file(path);
    const QByteArray csv = recorder_.Csv(shown, end_ - span_, end_);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit())
        messagebox::Error(this,
                          QStringLiteral("Файл «%1» не записан: %2").arg(path, FileErrorText(file)),
                          QStringLiteral("Запись файла"));
}

void TrendWindow::TrendExportPngClick()
{
    const QString path = SaveDialog(QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (!TrendChart->grab().save(path, "PNG"))
        messagebox::Error(this, QStringLiteral("Файл «%1» не записан.").arg(path),
                          QStringLiteral("Запись файла"));
}
