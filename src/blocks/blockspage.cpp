// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/blockspage.h"

#include "blocks/blockservice.h"
#include "blocks/calibration.h"
#include "blocks/calibrationpanel.h"
#include "blocks/parametereditor.h"
#include "support/named.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{
constexpr int RowHeaderWidth = 160;
constexpr int ValueWidth = 40;
constexpr int RowHeight = 18;

QPushButton* button(const char* name, const QString& caption, QWidget* parent)
{
    return named(new QPushButton(caption, parent), name);
}

// A read-only counter with its label as buddy.
QLineEdit* counter(QGridLayout* grid, int row, const char* name, const QString& caption,
                   QWidget* parent)
{
    auto* edit = named(new QLineEdit(parent), name);
    edit->setReadOnly(true);
    auto* label = named(new QLabel(caption, parent), (QByteArray(name) + "Label").constData());
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
}
} // namespace

ActionPanel::ActionPanel(const QString& caption, QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(caption);
    auto* label = new QLabel(caption, this);
    label->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(label);
}

void ActionPanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    emit doubleClicked();
    QFrame::mouseDoubleClickEvent(event);
}

void ActiveLineDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (!index.data(BlockList::ActiveRole).toBool())
        return;
    // The block a programming run is working on: bold, on the highlight colour.
    option->font.setBold(true);
    option->backgroundBrush = option->palette.brush(QPalette::Highlight);
    option->palette.setBrush(QPalette::Text, option->palette.brush(QPalette::HighlightedText));
}

void ActionPanel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space)
        emit doubleClicked();
    else
        QFrame::keyPressEvent(event);
}

BlocksPage::BlocksPage(BlockService& service, ParameterEditor& editor, QWidget* parent)
    : QWidget(parent), service_(service), editor_(editor)
{
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(BuildList(), 1);
    layout->addLayout(BuildConfiguration(), 1);

    Operator.onProgress = [this](int minimum, int maximum, int position) {
        ShowProgress(minimum, maximum, position);
    };
    Operator.onBusy = [this](bool on) { emit waitPanelRequested(on); };
    service.SetOperator(&Operator);
    Connect();
    ShowControls();
}

QLayout* BlocksPage::BuildList()
{
    // The list of blocks, with the discovery and firmware commands below it.
    auto* listCaption =
        named(new QLabel(QStringLiteral("Установленные блоки"), this), "bloksLabel");
    bloks = named(new QListView(this), "bloks");
    bloks->setModel(&service_.bloks);
    bloks->setItemDelegate(new ActiveLineDelegate(bloks));
    bloks->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    bloks->setSelectionMode(QAbstractItemView::SingleSelection);
    bloks->setAccessibleName(listCaption->text());
    bloks->setMinimumWidth(330);
    listCaption->setBuddy(bloks);
    QScan = button("QScan", QStringLiteral("Найти установленные блоки"), this);
    BitBtn1 = button("BitBtn1", QStringLiteral("Найти установленные блоки"), this);
    BitBtn1->hide();
    BitBtn1->setEnabled(false);
    ProgressBar1 = named(new QProgressBar(this), "ProgressBar1");
    ProgressBar1->setAccessibleName(QStringLiteral("Ход операции"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, blocks::MaxBlocks);
    ProgressBar1->setValue(0);

    BitBtn4 = button("BitBtn4", QStringLiteral("Загрузить образ"), this);
    BitBtn3 = button("BitBtn3", QStringLiteral("Перепрограммировать"), this);
    BitBtn55 = button("BitBtn55", QStringLiteral("Перезапись загрузчика"), this);
    for (QPushButton* b : {BitBtn4, BitBtn3, BitBtn55})
        b->hide();
    BitBtn3->setEnabled(false);
    BitBtn55->setEnabled(false);
    SpeedButton2 = named(new QToolButton(this), "SpeedButton2");
    SpeedButton2->setText(QStringLiteral("Тест ТСМ77-ТУМ77"));
    SpeedButton2->hide();

    GroupBox7 = named(new QGroupBox(QStringLiteral("Диагностика "), this), "GroupBox7");
    auto* diagLayout = new QGridLayout(GroupBox7);
    DiagRest = counter(diagLayout, 0, "DiagRest", QStringLiteral("Кол-во рестартов"), GroupBox7);
    DiagRep =
        counter(diagLayout, 1, "DiagRep", QStringLiteral("Кол-во повторов передач"), GroupBox7);

    auto* left = new QVBoxLayout;
    left->addWidget(listCaption);
    left->addWidget(bloks, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{QScan, BitBtn1, ProgressBar1, BitBtn4,
                                                      BitBtn3, BitBtn55, GroupBox7, SpeedButton2})
        left->addWidget(w);
    return left;
}

QLayout* BlocksPage::BuildConfiguration()
{
    // The parameter grid and the type-specific commands.
    GroupBox2 = named(new QGroupBox(QStringLiteral(" Конфигурация блока "), this), "GroupBox2");
    ConfigBl = named(new QTableView(GroupBox2), "ConfigBl");
    ConfigBl->setModel(&editor_.ConfigBl);
    ConfigBl->setAccessibleName(GroupBox2->title().trimmed());
    ConfigBl->verticalHeader()->hide();
    ConfigBl->verticalHeader()->setDefaultSectionSize(RowHeight);
    ConfigBl->verticalHeader()->setMinimumSectionSize(1);
    ConfigBl->setColumnWidth(0, RowHeaderWidth);
    for (int c = 1; c <= params::ValueColumns; ++c)
        ConfigBl->setColumnWidth(c, ValueWidth);
    ConfigBl->setWordWrap(false);
    ConfigBl->setSelectionMode(QAbstractItemView::SingleSelection);
    ConfigBl->setEditTriggers(QAbstractItemView::AllEditTriggers);
    ConfigBl->setMinimumWidth(RowHeaderWidth + 3 * ValueWidth + 24);
    PopupMenu2 = named(new QMenu(this), "PopupMenu2");
    MenuItem2 = named(PopupMenu2->addAction(QStringLiteral("Размножить")), "MenuItem2");
    ConfigBl->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ConfigBl, &QWidget::customContextMenuRequested, PopupMenu2, [this](const QPoint& pos) {
        PopupMenu2->popup(ConfigBl->viewport()->mapToGlobal(pos));
    });
    BitBtn6 = button("BitBtn6", QStringLiteral("Записать параметры блока"), GroupBox2);
    auto* configLayout = new QVBoxLayout(GroupBox2);
    configLayout->addWidget(ConfigBl, 1);
    configLayout->addWidget(BitBtn6);

    Panel6 = named(new ActionPanel(QStringLiteral("Калибровка АЦП"), this), "Panel6");
    ReadBLK = button("ReadBLK", QStringLiteral("Чтение БЛК"), this);
    WriteBLK = button("WriteBLK", QStringLiteral("Запись БЛК"), this);
    LoadFromFileBLK = button("LoadFromFileBLK", QStringLiteral("из Файла"), this);
    SaveToFile = button("SaveToFile", QStringLiteral("в Файл"), this);
    auto* interlock = new QHBoxLayout;
    for (QPushButton* b : {ReadBLK, WriteBLK, LoadFromFileBLK, SaveToFile})
        interlock->addWidget(b);

    auto* right = new QVBoxLayout;
    right->addWidget(GroupBox2, 1);
    right->addWidget(Panel6);
    right->addLayout(interlock);
    return right;
}

void BlocksPage::Connect()
{
    connect(QScan, &QPushButton::clicked, this, &BlocksPage::QScanClick);
    connect(BitBtn1, &QPushButton::clicked, this, &BlocksPage::BitBtn1Click);
    connect(BitBtn6, &QPushButton::clicked, this, &BlocksPage::BitBtn6Click);
    connect(MenuItem2, &QAction::triggered, this, &BlocksPage::MenuItem2Click);
    connect(bloks->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!showingSelection_)
                    bloksClick(current.isValid() ? current.row() : -1);
            });
    connect(&editor_, &ParameterEditor::shownChanged, this, &BlocksPage::ShowSelected);
    connect(&service_, &BlockService::controlsChanged, this, &BlocksPage::ShowControls);
    connect(&editor_, &ParameterEditor::controlsChanged, this, &BlocksPage::ShowControls);
}

void BlocksPage::LinkStarted()
{
    BitBtn1->setEnabled(true);
}

void BlocksPage::AttachCalibration(AdcCalibration& calibration)
{
    Panel5 = new CalibrationPanel(calibration, editor_, service_, GroupBox2, ConfigBl);
    connect(Panel6, &ActionPanel::doubleClicked, Panel5, &CalibrationPanel::Panel6DblClick);
}

void BlocksPage::QScanClick()
{
    service_.Discover(BlockService::Scope::Announced);
}

void BlocksPage::BitBtn1Click()
{
    service_.Discover(BlockService::Scope::All);
}

void BlocksPage::bloksClick(int line)
{
    editor_.Select(line);
}

void BlocksPage::BitBtn6Click()
{
    editor_.Write();
}

void BlocksPage::MenuItem2Click()
{
    editor_.Replicate();
}

void BlocksPage::ShowProgress(int minimum, int maximum, int position)
{
    // A firmware run sets a position per byte, and the bar weighs every value it is given
    // against its style before it repaints. It is given the values that change what it shows:
    // a new range, either end of it, a position outside it, or a step of a pixel or more.
    QProgressBar* bar = ProgressBar1;
    const qint64 pixel =
        std::max<qint64>(1, (qint64(maximum) - minimum) / std::max(1, bar->width()));
    if (minimum == bar->minimum() && maximum == bar->maximum() && position > minimum &&
        position < maximum && std::abs(position - qint64(bar->value())) < pixel)
        return;
    bar->setRange(minimum, maximum);
    if (position < minimum)
        bar->reset(); // a position below the range shows an empty bar
    else
        bar->setValue(position);
}

void BlocksPage::ShowControls()
{
    QScan->setEnabled(service_.QScanEnabled);
    BitBtn6->setEnabled(service_.WriteEnabled);
    Panel6->setVisible(editor_.CalibrationShown);
    for (QPushButton* b : {ReadBLK, WriteBLK, LoadFromFileBLK, SaveToFile})
        b->setVisible(editor_.InterlockShown);
    DiagRest->setText(editor_.DiagRest);
    DiagRep->setText(editor_.DiagRep);
}

void BlocksPage::ShowSelected(int line)
{
    // The highlight follows the block the grid shows, also after a refused selection; it is
    // set without running the selection procedure again.
    showingSelection_ = true;
    const QModelIndex index = service_.bloks.index(line);
    if (index.isValid()) {
        bloks->setCurrentIndex(index);
    } else {
        bloks->selectionModel()->clearCurrentIndex();
        bloks->clearSelection();
    }
    showingSelection_ = false;
}
