// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/datapage.h"

#include "fielddata/fieldrequests.h"
#include "fielddata/livetables.h"

#include <QActionGroup>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace
{
constexpr int FixedColumnWidth = 40;
constexpr int RowHeight = 16;
constexpr int EventLineHeight = 13;
constexpr int DefaultTitHeight = 200;

// Shows the cells' font sizes as fonts.
class SizedFonts : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::FontRole) {
            const QVariant points = QIdentityProxyModel::data(index, GridTableModel::FontSizeRole);
            if (!points.isValid())
                return {};
            QFont font;
            font.setPointSize(points.toInt());
            return font;
        }
        return QIdentityProxyModel::data(index, role);
    }
};

// A table whose corner above the row headers carries the grid's corner text.
class GridView : public QTableView
{
public:
    GridView(const QString& corner, QWidget* parent) : QTableView(parent)
    {
        corner_ = new QLabel(corner, this);
        corner_->setAlignment(Qt::AlignCenter);
        corner_->setAutoFillBackground(true);
        setCornerButtonEnabled(false);
    }

protected:
    void updateGeometries() override
    {
        QTableView::updateGeometries();
        corner_->setGeometry(frameWidth(), frameWidth(), verticalHeader()->width(),
                             horizontalHeader()->height());
    }

private:
    QLabel* corner_;
};

class EventLineDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), EventLineHeight};
    }
};

QGroupBox* groupBox(const char* name, const QString& caption, QWidget* parent)
{
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

// A table view of one of the live tables. widths: the data columns' widths from column 1 on.
QTableView* gridView(const char* name, GridTableModel& model, const QList<int>& widths,
                     QWidget* parent)
{
    auto* view = new GridView(model.cell(0, 0), parent);
    view->setObjectName(QLatin1String(name));
    auto* fonts = new SizedFonts(view);
    fonts->setSourceModel(&model);
    view->setModel(fonts);
    view->setWordWrap(false);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection); // several curves at once
    // A header's click selects nothing: its double click is the counter preset's.
    view->horizontalHeader()->setSectionsClickable(false);
    view->verticalHeader()->setSectionsClickable(false);
    view->setContextMenuPolicy(Qt::CustomContextMenu);

    QHeaderView* rows = view->verticalHeader();
    rows->setFixedWidth(FixedColumnWidth);
    rows->setMinimumSectionSize(1);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(RowHeight);
    rows->setDefaultAlignment(Qt::AlignCenter);

    QHeaderView* cols = view->horizontalHeader();
    cols->setFixedHeight(RowHeight);
    cols->setMinimumSectionSize(1);
    for (int c = 0; c < widths.size(); ++c)
        view->setColumnWidth(c, widths[c]);
    return view;
}

void popupOn(QAbstractScrollArea* area, QMenu* menu)
{
    area->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        area, &QWidget::customContextMenuRequested, menu,
        [area, menu](const QPoint& pos) { menu->popup(area->viewport()->mapToGlobal(pos)); });
}

QAction* menuItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    return item;
}
} // namespace

DataPage::DataPage(LiveTables& tables, FieldRequests& requests, QWidget* telecontrol,
                   QWidget* parent)
    : QWidget(parent), tables_(tables), requests_(requests)
{
    BuildPanel(telecontrol);
    BuildTables();
    BuildMenus();
    BuildSplitters();
    gbTS->installEventFilter(this);
    Connect();
}

void DataPage::BuildPanel(QWidget* telecontrol)
{
    // Top panel: telecontrol at the left, the event list beside it.
    Panel = new QWidget(this);
    Panel->setObjectName(QStringLiteral("Panel"));
    gbTU = telecontrol ? telecontrol : new QWidget(Panel);
    gbTU->setParent(Panel);
    gbTU->setFixedWidth(TelecontrolWidth);
    gbEvents = groupBox("gbEvents", QStringLiteral(" События "), Panel);
    Events = new QListView(gbEvents);
    Events->setObjectName(QStringLiteral("Events"));
    Events->setAccessibleName(gbEvents->title().trimmed());
    Events->setItemDelegate(new EventLineDelegate(Events));
    Events->setUniformItemSizes(true);
    Events->setModel(&tables_.Events);
    auto* eventsLayout = new QVBoxLayout(gbEvents);
    eventsLayout->addWidget(Events);
    auto* panelLayout = new QHBoxLayout(Panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(gbTU);
    panelLayout->addWidget(gbEvents, 1);
}

void DataPage::BuildTables()
{
    gbTS = groupBox("gbTS", QStringLiteral(" Телесигналы "), this);
    gbTIT = groupBox("gbTIT", QStringLiteral(" Телеизмерения текущие "), this);
    gbTII = groupBox("gbTII", QStringLiteral(" Телеизмерения интегральные "), this);
    QList<int> tsWidths, titWidths, tiiWidths;
    for (int c = 1; c <= 32; ++c)
        tsWidths << 20;
    for (int c = 1; c <= 17; ++c) {
        titWidths << (c == 17 ? 114 : 40);
        tiiWidths << 60;
    }
    AdvColumnGrid1 = gridView("AdvColumnGrid1", tables_.Telesignals, tsWidths, gbTS);
    AdvColumnGrid2 = gridView("AdvColumnGrid2", tables_.Measurements, titWidths, gbTIT);
    AdvColumnGrid3 = gridView("AdvColumnGrid3", tables_.Integrals, tiiWidths, gbTII);
    for (auto [box, grid] : {std::pair{gbTS, AdvColumnGrid1}, std::pair{gbTIT, AdvColumnGrid2},
                             std::pair{gbTII, AdvColumnGrid3}}) {
        grid->setAccessibleName(box->title().trimmed()); // screen readers name it by its group
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(2, 2, 2, 2);
        boxLayout->addWidget(grid);
    }
    setGbTITHeight(DefaultTitHeight);
}

void DataPage::BuildMenus()
{
    EventAct = new QMenu(this);
    EventAct->setObjectName(QStringLiteral("EventAct"));
    N4 = menuItem(EventAct, "N4", QStringLiteral("Очистить"));
    N5 = menuItem(EventAct, "N5", QStringLiteral("Запрос архива"));
    popupOn(Events, EventAct);

    TSAct = new QMenu(this);
    TSAct->setObjectName(QStringLiteral("TSAct"));
    MenuItem1 = menuItem(TSAct, "MenuItem1", QStringLiteral("Очистить"));
    TsTrend = menuItem(TSAct, "TsTrend", QStringLiteral("График"));
    popupOn(AdvColumnGrid1, TSAct);

    kpmenu = new QMenu(this);
    kpmenu->setObjectName(QStringLiteral("kpmenu"));
    N1 = menuItem(kpmenu, "N1", QStringLiteral("Напряжение (V)"));
    N2 = menuItem(kpmenu, "N2", QStringLiteral("Ток (мА)"));
    N3 = menuItem(kpmenu, "N3", QStringLiteral("Кванты"));
    units_ = new QActionGroup(this);
    units_->setExclusive(true);
    for (QAction* item : {N1, N2, N3}) {
        item->setCheckable(true);
        units_->addAction(item);
    }
    UnitChecked(tables_.unit());
    kpmenu->addSeparator();
    TitTrend = menuItem(kpmenu, "TitTrend", QStringLiteral("График"));
    popupOn(AdvColumnGrid2, kpmenu);

    TiiAct = new QMenu(this);
    TiiAct->setObjectName(QStringLiteral("TiiAct"));
    TiiTrend = menuItem(TiiAct, "TiiTrend", QStringLiteral("График"));
    popupOn(AdvColumnGrid3, TiiAct);
}

void DataPage::BuildSplitters()
{
    // The panel above the rest, gbTS above gbTIT; gbTII takes what is left.
    auto* lower = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(gbTIT);
    lowerLayout->addWidget(gbTII, 1);
    const auto splitter = [this](const char* name, QWidget* top, QWidget* rest) {
        auto* s = new QSplitter(Qt::Vertical, this);
        s->setObjectName(QLatin1String(name));
        s->setChildrenCollapsible(false);
        s->addWidget(top);
        s->addWidget(rest);
        s->setStretchFactor(0, 0);
        s->setStretchFactor(1, 1);
        return s;
    };
    Splitter2 = splitter("Splitter2", gbTS, lower);
    Splitter1 = splitter("Splitter1", Panel, Splitter2);
    Splitter1->setSizes({PanelHeight, 1});
    ApplyTsHeight();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Splitter1);
}

void DataPage::Connect()
{
    connect(MenuItem1, &QAction::triggered, this, &DataPage::MenuItem1Click);
    connect(N4, &QAction::triggered, this, &DataPage::N4Click);
    connect(N5, &QAction::triggered, this, &DataPage::N5Click);
    connect(TsTrend, &QAction::triggered, this, &DataPage::TsTrendClick);
    connect(TitTrend, &QAction::triggered, this, &DataPage::TitTrendClick);
    connect(TiiTrend, &QAction::triggered, this, &DataPage::TiiTrendClick);
    connect(N1, &QAction::triggered, this, [this] { tables_.setUnit(LiveTables::Volts); });
    connect(N2, &QAction::triggered, this, [this] { tables_.setUnit(LiveTables::Milliamps); });
    connect(N3, &QAction::triggered, this, [this] { tables_.setUnit(LiveTables::Quanta); });
    connect(&tables_, &LiveTables::unitChanged, this, &DataPage::UnitChecked);
    connect(AdvColumnGrid3, &QTableView::doubleClicked, this, [this](const QModelIndex& i) {
        emit integralDoubleClicked(i.row() + 1, i.column() + 1);
    });
    connect(AdvColumnGrid3->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
            [this](int section) { emit integralDoubleClicked(0, section + 1); });
    connect(AdvColumnGrid3->verticalHeader(), &QHeaderView::sectionDoubleClicked, this,
            [this](int section) { emit integralDoubleClicked(section + 1, 0); });
    connect(Splitter2, &QSplitter::splitterMoved, this,
            [this] { tsHeight_ = Splitter2->sizes().value(0); });
}

void DataPage::MenuItem1Click()
{
    tables_.ClearStates();
}

void DataPage::N4Click()
{
    tables_.ClearEvents();
}

void DataPage::N5Click()
{
    requests_.RequestArchive();
}

QList<trend::Key> DataPage::SelectedInputs(const QTableView* grid, trend::Kind kind) const
{
    QList<trend::Key> keys;
    for (const QModelIndex& i : grid->selectionModel()->selectedIndexes()) {
        const int row = i.row() + 1, col = i.column() + 1; // grid cells
        trend::Key key{kind, (row - 1) / 2, ((row - 1) % 2) * 16 + col};
        if (kind == trend::Kind::Telesignal)
            key = {kind, row - 1, col}; // blocks 0-7; the interlock rows below are no inputs
        if (col <= 32 && key.block < LiveTables::Blocks && key.input <= 32 &&
            (kind == trend::Kind::Telesignal || col <= 16) && !keys.contains(key))
            keys << key;
    }
    return keys;
}

void DataPage::TsTrendClick()
{
    emit trendRequested(SelectedInputs(AdvColumnGrid1, trend::Kind::Telesignal));
}

void DataPage::TitTrendClick()
{
    emit trendRequested(SelectedInputs(AdvColumnGrid2, trend::Kind::Measurement));
}

void DataPage::TiiTrendClick()
{
    emit trendRequested(SelectedInputs(AdvColumnGrid3, trend::Kind::Counter));
}

void DataPage::UnitChecked(int unit)
{
    QAction* items[] = {N1, N2, N3};
    if (unit >= LiveTables::Volts && unit <= LiveTables::Quanta)
        items[unit - 1]->setChecked(true);
}

void DataPage::setGbTSHeight(int height)
{
    if (height <= 0)
        return;
    tsHeight_ = height;
    ApplyTsHeight();
}

void DataPage::ApplyTsHeight()
{
    const QList<int> sizes = Splitter2->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    Splitter2->setSizes({tsHeight_, std::max(total - tsHeight_, 1)});
}

int DataPage::gbTITHeight() const
{
    return gbTIT->height();
}

void DataPage::setGbTITHeight(int height)
{
    if (height > 0)
        gbTIT->setFixedHeight(height);
}

void DataPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The splitter knows its real height only now.
    ApplyTsHeight();
}

bool DataPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == gbTS && event->type() == QEvent::MouseButtonDblClick) {
        emit testWindowRequested();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
