// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Данные по ФБ" tab: a top panel with the telecontrol group and the event list, then the
// telesignal table, the current-measurement table and the integral table, with splitters
// between the panel and the telesignals and between the telesignals and the current
// measurements. The tables are views of the live tables' models.

#include "fielddata/trends.h"

#include <QWidget>

class FieldRequests;
class LiveTables;
class QAction;
class QActionGroup;
class QGroupBox;
class QListView;
class QMenu;
class QSplitter;
class QTableView;

class DataPage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int PanelHeight = 249;
    static constexpr int TelecontrolWidth = 289;

    // gbTU: the telecontrol group, placed at the left of the top panel and re-parented to it;
    // when null an empty place of the same width is left.
    DataPage(LiveTables& tables, FieldRequests& requests, QWidget* gbTU, QWidget* parent = nullptr);

    QWidget* Panel;
    QWidget* gbTU;
    QGroupBox* gbEvents;
    QListView* Events;
    QMenu* EventAct;
    QAction* N4;
    QAction* N5;

    QSplitter* Splitter1; // between the panel and gbTS
    QSplitter* Splitter2; // between gbTS and gbTIT
    QGroupBox* gbTS;
    QGroupBox* gbTIT;
    QGroupBox* gbTII;
    QTableView* AdvColumnGrid1;
    QTableView* AdvColumnGrid2;
    QTableView* AdvColumnGrid3;
    QMenu* TSAct;
    QAction* MenuItem1;
    QAction* TsTrend; // "График"
    QMenu* kpmenu;
    QAction* N1;
    QAction* N2;
    QAction* N3;
    QAction* TitTrend; // "График"
    QMenu* TiiAct;
    QAction* TiiTrend; // "График"

    // The heights of gbTS and gbTIT as they are kept between runs.
    int gbTSHeight() const { return tsHeight_; }
    void setGbTSHeight(int height);
    int gbTITHeight() const;
    void setGbTITHeight(int height);

    // "Очистить" of the telesignal table and of the event list; "Запрос архива".
    void MenuItem1Click();
    void N4Click();
    void N5Click();
    // "График" of the telesignal, measurement and counter tables.
    void TsTrendClick();
    void TitTrendClick();
    void TiiTrendClick();

signals:
    // "График" of the selected cells: the inputs to show as curves.
    void trendRequested(const QList<trend::Key>& keys);
    // Double click on the " Телесигналы " frame: the module test window is wanted.
    void testWindowRequested();
    // Double click on the integral table, in grid coordinates: the header row and column are
    // row 0 and column 0, data cells have row >= 1 and col >= 1.
    void integralDoubleClicked(int row, int col);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildPanel(QWidget* telecontrol);
    void BuildTables();
    void BuildMenus();
    void BuildSplitters();
    void Connect();
    void UnitChecked(int unit);
    // The inputs of the selected data cells of a table.
    QList<trend::Key> SelectedInputs(const QTableView* grid, trend::Kind kind) const;
    void ApplyTsHeight();

    LiveTables& tables_;
    FieldRequests& requests_;
    QActionGroup* units_;
    int tsHeight_ = 310;
};
