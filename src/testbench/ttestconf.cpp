// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/ttestconf.h"

#include "testbench/benchconfig.h"
#include "testbench/moduletest.h"

#include <QDir>
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

QString key(const QLineEdit* edit)
{
    return edit->objectName() + QStringLiteral(".Text");
}
} // namespace

QSettings* TTestconf::OpenStore(const QSettings* beside)
{
    const QString application = QStringLiteral("TavenaConfig-Testconf");
    if (!beside)
        return new QSettings(QStringLiteral("Brantell"), application);
    const QFileInfo main(beside->fileName());
    const QString suffix = main.suffix().isEmpty() ? QString() : QLatin1Char('.') + main.suffix();
    return new QSettings(main.dir().filePath(application + suffix), beside->format());
}

TTestconf::TTestconf(ModuleTest& test, BenchConfig& bench, QSettings* store, QWidget* parent)
    : QWidget(parent, Qt::Tool), test_(test), bench_(bench), store_(store ? store : OpenStore())
{
    setObjectName(QStringLiteral("TTestconf"));
    setWindowTitle(QStringLiteral("Проверка модулей"));

    // The bench configuration.
    auto* tsBox = new QGroupBox(QStringLiteral("Конфигурация ТС"), this);
    tsBox->setObjectName(QStringLiteral("gbTsConfig"));
    auto* tsGrid = new QGridLayout(tsBox);
    // The first letter of "cек" is a Latin c.
    Edit_ts_cycletime = AddEdit(tsGrid, 0, "Edit_ts_cycletime",
                                QStringLiteral("Время цикла ТС (cек)"), QStringLiteral("100"));
    Edit_ts_entr = AddEdit(tsGrid, 1, "Edit_ts_entr", QStringLiteral("Фильтрация (мсек)"),
                           QStringLiteral("50"));
    Button_ts_write = button("Button_ts_write", QStringLiteral("Записать конфигурацию ТС"), tsBox);
    tsGrid->addWidget(Button_ts_write, 2, 0, 1, 2);

    auto* tuBox = new QGroupBox(QStringLiteral("Конфигурация ТУ"), this);
    tuBox->setObjectName(QStringLiteral("gbTuConfig"));
    auto* tuGrid = new QGridLayout(tuBox);
    Edit_tu_type = AddEdit(tuGrid, 0, "Edit_tu_type", QStringLiteral("Тип"), QStringLiteral("0"));
    Edit_tu_exit =
        AddEdit(tuGrid, 1, "Edit_tu_exit", QStringLiteral("Удерж"), QStringLiteral("200"));
    Edit_tu_min = AddEdit(tuGrid, 2, "Edit_tu_min", QStringLiteral("Мин"), QStringLiteral("0"));
    Edit_tu_max = AddEdit(tuGrid, 3, "Edit_tu_max", QStringLiteral("Макс"), QStringLiteral("0"));
    Button_tu_write = button("Button_tu_write", QStringLiteral("Записать конфигурацию ТУ"), tuBox);
    tuGrid->addWidget(Button_tu_write, 4, 0, 1, 2);

    // The action log: no fixed rows, time and text.
    TestActions = table("TestActions", QStringLiteral("Журнал проверки"), this);
    auto* colours = new ColouredRows(TestActions);
    colours->setSourceModel(&test.TestActions);
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
    StringGrid1->setModel(&test.StringGrid1);
    StringGrid1->verticalHeader()->setFixedWidth(MatrixCellWidth);
    StringGrid1->horizontalHeader()->setFixedHeight(RowHeight);
    StringGrid1->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    for (int c = 0; c < ModuleTest::Relays; ++c)
        StringGrid1->setColumnWidth(c, MatrixCellWidth);
    StringGrid1->setColumnWidth(ModuleTest::Relays, ResultWidth);
    StringGrid1->setMinimumWidth(MatrixCellWidth * (ModuleTest::Relays + 1) + ResultWidth + 24);

    Button_test = button("Button_test", test.ButtonTestCaption, this);
    Button_test_big = button("Button_test_big", test.ButtonTestBigCaption, this);
    Button_close_window = button("Button_close_window", QStringLiteral("Закрыть окно"), this);

    auto* config = new QHBoxLayout;
    config->addWidget(tsBox);
    config->addWidget(tuBox);
    auto* left = new QVBoxLayout;
    left->addLayout(config);
    left->addWidget(TestActions, 1);
    left->addWidget(Button_clear_testactions);
    left->addWidget(Button_test);
    left->addWidget(Button_test_big);
    left->addWidget(Button_close_window);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(StringGrid1, 1);
    resize(1130, 720);

    Operator.onBusy = [this](bool on) { emit waitPanelRequested(on); };
    bench.SetOperator(&Operator);

    connect(Button_ts_write, &QPushButton::clicked, this, &TTestconf::Button_ts_writeClick);
    connect(Button_tu_write, &QPushButton::clicked, this, &TTestconf::Button_tu_writeClick);
    connect(Button_test, &QPushButton::clicked, &test, &ModuleTest::Button_testClick);
    connect(Button_test_big, &QPushButton::clicked, &test, &ModuleTest::Button_test_bigClick);
    connect(Button_clear_testactions, &QPushButton::clicked, &test,
            &ModuleTest::Button_clear_testactionsClick);
    connect(Button_close_window, &QPushButton::clicked, this, &QWidget::hide);
    connect(&test, &ModuleTest::buttonsChanged, this, &TTestconf::ShowButtons);
    connect(&test, &ModuleTest::windowWanted, this, [this] {
        show();
        raise();
    });
    connect(&test.TestActions, &QAbstractItemModel::rowsInserted, TestActions,
            &QTableView::scrollToBottom);
    ShowButtons();
}

TTestconf::~TTestconf()
{
    bench_.SetOperator(nullptr);
}

QLineEdit* TTestconf::AddEdit(QGridLayout* grid, int row, const char* name, const QString& caption,
                              const QString& initial)
{
    QWidget* box = grid->parentWidget();
    auto* edit = new QLineEdit(box);
    edit->setObjectName(QLatin1String(name));
    edit->setText(store_->value(key(edit), initial).toString());
    auto* label = new QLabel(caption, box);
    label->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    connect(edit, &QLineEdit::textChanged, this,
            [this, edit](const QString& text) { store_->setValue(key(edit), text); });
    return edit;
}

void TTestconf::ShowButtons()
{
    Button_test->setText(test_.ButtonTestCaption);
    Button_test_big->setText(test_.ButtonTestBigCaption);
    Button_ts_write->setEnabled(test_.ConfigButtonsEnabled);
    Button_tu_write->setEnabled(test_.ConfigButtonsEnabled);
}

void TTestconf::Button_ts_writeClick()
{
    test_.Button_ts_writeClick(Edit_ts_entr->text(), Edit_ts_cycletime->text());
}

void TTestconf::Button_tu_writeClick()
{
    test_.Button_tu_writeClick(Edit_tu_min->text(), Edit_tu_max->text(), Edit_tu_exit->text(),
                               Edit_tu_type->text());
}
