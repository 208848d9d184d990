// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Графики": the trend window, one for the program, showing the recorder's series as curves
// against time. The time axis shows the last 10 minutes at first and follows the newest value;
// the mouse wheel and the keys + and - zoom, a drag and the arrow keys pan (which stops
// following; "Следить" or End follows again). A cursor under the mouse shows the time and every
// curve's value there. The curves are exported as CSV and as a PNG picture; the picture can be
// paused, a curve removed, all curves cleared.

#include "fielddata/trends.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class QChart;
class QChartView;
class QCheckBox;
class QDateTimeAxis;
class QGraphicsLineItem;
class QLabel;
class QLineSeries;
class QListWidget;
class QPushButton;
class QValueAxis;

class TrendWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr qint64 DefaultSpanMs = 10 * 60 * 1000;
    static constexpr int RedrawInterval = 500;

    explicit TrendWindow(trend::Recorder& recorder, QWidget* parent = nullptr);

    QChartView* TrendChart;
    QListWidget* TrendCurves;
    QLabel* TrendCursor;
    QCheckBox* TrendFollow;
    QPushButton* TrendPause;
    QPushButton* TrendRemove;
    QPushButton* TrendClear;
    QPushButton* TrendExportCsv;
    QPushButton* TrendExportPng;

    // The file to save to, for a filter ("*.csv"); empty when cancelled. Tests set their own.
    std::function<QString(const QString& filter)> SaveDialog;

    // The curves of these inputs added, and the window shown.
    void ShowCurves(const QList<trend::Key>& keys);

    // The time range shown.
    qint64 Span() const { return span_; }
    qint64 End() const { return end_; }
    bool Following() const { return follow_; }
    // Draws the curves of the range shown anew.
    void Redraw();

    void TrendPauseClick();
    void TrendRemoveClick();
    void TrendClearClick();
    void TrendExportCsvClick();
    void TrendExportPngClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void Rebuild();
    void Zoom(double factor, qint64 around);
    void Pan(qint64 ms);
    void SetFollow(bool follow);
    qint64 Newest() const;
    void ShowCursor(const QPointF& at);
    qint64 TimeAt(double x) const;

    trend::Recorder& recorder_;
    QChart* chart_;
    QDateTimeAxis* time_;
    QValueAxis* values_;
    QValueAxis* steps_;
    QGraphicsLineItem* cursorLine_;
    QList<QLineSeries*> lines_; // per series of the recorder, in its order
    QTimer redraw_;
    quint64 drawn_ = ~quint64(0);
    qint64 span_ = DefaultSpanMs;
    qint64 end_ = 0;
    bool follow_ = true;
    bool paused_ = false;
    std::optional<QPointF> dragFrom_;
};
