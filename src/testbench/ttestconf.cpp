// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/ttestconf.h"

#include "blocks/parametereditor.h"

#include "tavenaversion.h"
#include "testbench/benchconfig.h"
#include "testbench/benchsettings.h"
#include "testbench/moduletest.h"
#include "testbench/protocolprint.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

namespace
{
constexpr int TimeWidth = 64;
constexpr int TextWidth = 330;
constexpr int MatrixCellWidth = 19;
constexpr int ResultWidth = 57;
constexpr int RowHeight = 18;

// Shows the log's row colours as font colours.
class ColouredRows : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::ForegroundRole) {
            const QVariant rgb = QIdentityProxyModel::data(index, ActionLog::ColourRole);
            return rgb.isValid() ? QVariant(QColor(QRgb(rgb.toUInt()))) : QVariant();
        }
        return QIdentityProxyModel::data(index, role);
    }
};

QPushButton* button(const char* name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QTableView* table(const char* name, const QString& accessibleName, QWidget* parent)
{
    auto* view = new QTableView(parent);
    view->setObjectName(QLatin1String(name));
    view->setAccessibleName(accessibleName);
    view->setWordWrap(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    for (QHeaderView* h : {view->horizontalHeader(), view->verticalHeader()})
        h->setMinimumSectionSize(1);
    view->verticalHeader()->setDefaultSectionSize(RowHeight);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    return view;
}

} // namespace

TTestconf::TTestconf(ModuleTest& test, BenchConfig& bench, const ParameterEditor& editor,
                     QSettings* store, QWidget* parent)
    : QWidget(parent, Qt::Tool), test_(test), bench_(bench), editor_(editor),
      store_(store ? store : benchsettings::OpenStore())
{
    setObjectName(QStringLiteral("TTestconf"));
    setWindowTitle(QStringLiteral("Проверка модулей"));
    QWidget* tsBox = BuildTsConfig();
    QWidget* tuBox = BuildTuConfig();
    BuildLogAndMatrix();
    Button_test = button("Button_test", test.ButtonTestCaption, this);
    Button_test_big = button("Button_test_big", test.ButtonTestBigCaption, this);
    Button_close_window = button("Button_close_window", QStringLiteral("Закрыть окно"), this);

    auto* config = new QHBoxLayout;
    config->addWidget(tsBox);
    config->addWidget(tuBox);
    auto* left = new QVBoxLayout;
    left->addLayout(config);
    left->addWidget(TestActions, 1);
    for (QWidget* w : {Button_clear_testactions, Button_test, Button_test_big, Button_close_window})
        left->addWidget(w);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(StringGrid1, 1);
    resize(1130, 720);

    SaveProtocol = new QAction(QStringLiteral("Сохранить протокол…"), this);
    SaveProtocol->setObjectName(QStringLiteral("SaveProtocol"));
    SaveProtocol->setShortcut(QKeySequence::Save);
    addAction(SaveProtocol);
    for (QTableView* view : {StringGrid1, TestActions}) {
        view->addAction(SaveProtocol);
        view->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
    SaveDialog = [this](const QString& proposed) {
        return QFileDialog::getSaveFileName(this, SaveProtocol->text(), proposed,
                                            QStringLiteral("PDF (*.pdf)"));
    };

    Operator.onBusy = [this](bool on) { emit waitPanelRequested(on); };
    bench.SetOperator(&Operator);
    Connect();
    ShowButtons();
}

QWidget* TTestconf::BuildTsConfig()
{
    auto* tsBox = new QGroupBox(QStringLiteral("Конфигурация ТС"), this);
    tsBox->setObjectName(QStringLiteral("gbTsConfig"));
    auto* tsGrid = new QGridLayout(tsBox);
    Edit_ts_cycletime = AddEdit(tsGrid, 0, benchsettings::Edits[0]);
    Edit_ts_entr = AddEdit(tsGrid, 1, benchsettings::Edits[1]);
    Button_ts_write = button("Button_ts_write", QStringLiteral("Записать конфигурацию ТС"), tsBox);
    tsGrid->addWidget(Button_ts_write, 2, 0, 1, 2);
    return tsBox;
}

QWidget* TTestconf::BuildTuConfig()
{
    auto* tuBox = new QGroupBox(QStringLiteral("Конфигурация ТУ"), this);
    tuBox->setObjectName(QStringLiteral("gbTuConfig"));
    auto* tuGrid = new QGridLayout(tuBox);
    Edit_tu_type = AddEdit(tuGrid, 0, benchsettings::Edits[2]);
    Edit_tu_exit = AddEdit(tuGrid, 1, benchsettings::Edits[3]);
    Edit_tu_min = AddEdit(tuGrid, 2, benchsettings::Edits[4]);
    Edit_tu_max = AddEdit(tuGrid, 3, benchsettings::Edits[5]);
    Button_tu_write = button("Button_tu_write", QStringLiteral("Записать конфигурацию ТУ"), tuBox);
    tuGrid->addWidget(Button_tu_write, 4, 0, 1, 2);
    return tuBox;
}

void TTestconf::BuildLogAndMatrix()
{
    // The action log: no fixed rows, time and text.
    TestActions = table("TestActions", QStringLiteral("Журнал проверки"), this);
    auto* colours = new ColouredRows(TestActions);
    colours->setSourceModel(&test_.TestActions);
    TestActions->setModel(colours);
    TestActions->horizontalHeader()->hide();
    TestActions->verticalHeader()->hide();
    TestActions->setColumnWidth(0, TimeWidth);
    TestActions->setColumnWidth(1, TextWidth);
    TestActions->setMinimumWidth(TimeWidth + TextWidth + 24);
    Button_clear_testactions =
        button("Button_clear_testactions", QStringLiteral("Очистить лог"), this);

    // The result matrix: inputs over relays, column 0 and row 0 fixed.
    StringGrid1 = table("StringGrid1", QStringLiteral("Результаты проверки"), this);
    StringGrid1->setModel(&test_.StringGrid1);
    StringGrid1->verticalHeader()->setFixedWidth(MatrixCellWidth);
    StringGrid1->horizontalHeader()->setFixedHeight(RowHeight);
    StringGrid1->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    for (int c = 0; c < ModuleTest::Relays; ++c)
        StringGrid1->setColumnWidth(c, MatrixCellWidth);
    StringGrid1->setColumnWidth(ModuleTest::Relays, ResultWidth);
    StringGrid1->setMinimumWidth(MatrixCellWidth * (ModuleTest::Relays + 1) + ResultWidth + 24);
}

void TTestconf::Connect()
{
    connect(Button_ts_write, &QPushButton::clicked, this, &TTestconf::Button_ts_writeClick);
    connect(Button_tu_write, &QPushButton::clicked, this, &TTestconf::Button_tu_writeClick);
    connect(Button_test, &QPushButton::clicked, this, &TTestconf::Button_testClick);
    connect(Button_test_big, &QPushButton::clicked, this, &TTestconf::Button_test_bigClick);
    connect(Button_clear_testactions, &QPushButton::clicked, this,
            &TTestconf::Button_clear_testactionsClick);
    connect(Button_close_window, &QPushButton::clicked, this, &QWidget::hide);
    connect(SaveProtocol, &QAction::triggered, this, &TTestconf::SaveProtocolClick);
    connect(&test_, &ModuleTest::buttonsChanged, this, &TTestconf::ShowButtons);
    connect(&test_, &ModuleTest::windowWanted, this, [this] {
        show();
        raise();
    });
    connect(&test_.TestActions, &QAbstractItemModel::rowsInserted, TestActions,
            &QTableView::scrollToBottom);
}

TTestconf::~TTestconf()
{
    bench_.SetOperator(nullptr);
}

QLineEdit* TTestconf::AddEdit(QGridLayout* grid, int row, const benchsettings::Edit& e)
{
    QWidget* box = grid->parentWidget();
    auto* edit = new QLineEdit(box);
    edit->setObjectName(QLatin1String(e.name));
    const QString key = benchsettings::Key(e.name);
    edit->setText(store_->value(key, QString::fromUtf8(e.initial)).toString());
    auto* label = new QLabel(QString::fromUtf8(e.caption), box);
    label->setObjectName(QLatin1String(e.name) + QStringLiteral("Label"));
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    connect(edit, &QLineEdit::textChanged, this,
            [this, key](const QString& text) { store_->setValue(key, text); });
    return edit;
}

void TTestconf::ShowButtons()
{
    Button_test->setText(test_.ButtonTestCaption);
    Button_test_big->setText(test_.ButtonTestBigCaption);
    Button_ts_write->setEnabled(test_.ConfigButtonsEnabled);
    Button_tu_write->setEnabled(test_.ConfigButtonsEnabled);
    SaveProtocol->setEnabled(!test_.TestRunning && test_.LastRun().Ended());
}

ModuleTest::Typed TTestconf::Typed(const QLineEdit* edit)
{
    const auto* label = findChild<QLabel*>(edit->objectName() + QStringLiteral("Label"));
    return {label ? label->text() : edit->objectName(), edit->text()};
}

void TTestconf::Button_ts_writeClick()
{
    // The block last selected in the main window's list (address 0 before any).
    test_.ConfigureTs(editor_.SelectedBlockAddress, Typed(Edit_ts_entr), Typed(Edit_ts_cycletime));
}

void TTestconf::Button_tu_writeClick()
{
    test_.ConfigureTu(editor_.SelectedBlockAddress, Typed(Edit_tu_min), Typed(Edit_tu_max),
                      Typed(Edit_tu_exit), Typed(Edit_tu_type));
}

void TTestconf::Button_testClick()
{
    test_.StartOrStop(1);
}

void TTestconf::Button_test_bigClick()
{
    test_.StartOrStop(30);
}

void TTestconf::Button_clear_testactionsClick()
{
    test_.ClearLog();
}

void TTestconf::SaveProtocolClick()
{
    const RunRecord& run = test_.LastRun();
    if (test_.TestRunning || !run.Ended())
        return;
    // Proposed beside the run's log file.
    const QString proposed = QFileInfo(test_.LogFile).dir().filePath(protocolprint::FileName(run));
    const QString path = SaveDialog(proposed);
    if (path.isEmpty())
        return;
    QList<ShownSetting> settings;
    for (const benchsettings::Edit& e : benchsettings::Edits)
        if (const auto* edit = findChild<QLineEdit*>(QLatin1String(e.name)))
            settings.append({benchsettings::ShownCaption(e), edit->text()});
    const QString error = protocolprint::WritePdf(
        run, settings, QStringLiteral("tavena-configurator " TAVENA_VERSION_TEXT), path);
    if (!error.isEmpty())
        Operator.Tell(SaveProtocol->text(), error);
}
