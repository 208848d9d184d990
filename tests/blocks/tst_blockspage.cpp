// SPDX-License-Identifier: GPL-3.0-or-later
// The tab "Конфигурация и прошивка ФБ" driven through its controls against the simulator:
// what it holds and how it is laid out, the list and its ticks by keyboard, a click showing a
// block's parameters, "Размножить", the write with its wait panel.

#include "blocks/blockspage.h"
#include "blocks/parametereditor.h"
#include "simfixture.h"
#include "support/messagebox.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>

class TestBlocksPage : public QObject
{
    Q_OBJECT

    QStringList messages;

private slots:
    void initTestCase()
    {
        messagebox::SetPresenter([this](QWidget*, QMessageBox::Icon, const QString& caption,
                                        const QString& text, QMessageBox::StandardButtons) {
            messages << caption + ": " + text;
            return QMessageBox::Cancel;
        });
    }

    void init() { messages.clear(); }

    void controlsAndLayout()
    {
        ProgramCore core;
        QWidget window;
        window.resize(780, 994 - 90); // the main window's tab area
        auto* page = new BlocksPage(core.Blocks, core.Editor, &window);
        page->resize(window.size());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const std::pair<const char*, const char*> buttons[] = {
            {"QScan", "Найти установленные блоки"},
            {"BitBtn6", "Записать параметры блока"},
            {"ReadBLK", "Чтение БЛК"},
            {"WriteBLK", "Запись БЛК"},
            {"LoadFromFileBLK", "из Файла"},
            {"SaveToFile", "в Файл"},
            {"BitBtn4", "Загрузить образ"},
            {"BitBtn3", "Перепрограммировать"},
            {"BitBtn55", "Перезапись загрузчика"},
            {"BitBtn1", "Найти установленные блоки"}};
        for (auto [name, caption] : buttons) {
            auto* b = page->findChild<QPushButton*>(name);
            QVERIFY2(b, name);
            QCOMPARE(b->text(), QString(caption));
        }
        // Before the link: discovery and the write wait; the later commands are hidden.
        QVERIFY(!page->QScan->isEnabled() && !page->BitBtn6->isEnabled());
        for (QWidget* hidden : std::initializer_list<QWidget*>{
                 page->BitBtn1, page->Panel6, page->ReadBLK, page->WriteBLK, page->LoadFromFileBLK,
                 page->SaveToFile, page->BitBtn4, page->BitBtn3, page->BitBtn55,
                 page->SpeedButton2})
            QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
        QCOMPARE(page->GroupBox2->title(), " Конфигурация блока ");
        QCOMPARE(page->GroupBox7->title(), "Диагностика ");
        QCOMPARE(page->MenuItem2->text(), "Размножить");
        QCOMPARE(page->findChild<QLabel*>("DiagRestLabel")->buddy(), page->DiagRest);
        QCOMPARE(page->findChild<QLabel*>("DiagRestLabel")->text(), "Кол-во рестартов");
        QCOMPARE(page->findChild<QLabel*>("DiagRepLabel")->text(), "Кол-во повторов передач");
        QVERIFY(page->DiagRest->isReadOnly());
        const QFontMetrics fixed(page->bloks->font()); // the labels line up
        QCOMPARE(fixed.horizontalAdvance("iiii"), fixed.horizontalAdvance("ШШШШ"));

        // The grid: 4 columns of 160, 40, 40, 40 px, 119 rows below the header.
        QTableView* grid = page->ConfigBl;
        QCOMPARE(grid->model()->columnCount(), 4);
        QCOMPARE(grid->model()->rowCount(), 119);
        const int widths[] = {160, 40, 40, 40};
        for (int c = 0; c < 4; ++c)
            QCOMPARE(grid->columnWidth(c), widths[c]);
        QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), "Параметр");
        QCOMPARE(grid->model()->headerData(1, Qt::Horizontal).toString(), "Знач.");

        // Everything an engineer needs lies inside the tab without scrolling.
        for (QWidget* w :
             std::initializer_list<QWidget*>{page->bloks, page->ConfigBl, page->QScan,
                                             page->BitBtn6, page->ProgressBar1, page->GroupBox7})
            QVERIFY2(page->rect().contains(QRect(w->mapTo(page, QPoint()), w->size())),
                     qPrintable(w->objectName()));
        QVERIFY(page->bloks->height() >= 200 && page->ConfigBl->height() >= 400);
    }

    // The demo's way: discovery lists the blocks, the keyboard moves between them and ticks
    // them, a line shows its block's parameters, "Размножить" copies input 1, the write goes
    // out with the wait panel.
    void discoverSelectReplicateWrite()
    {
        SimFixture f("ts:0,tit:2");
        auto* page = new BlocksPage(f.core.Blocks, f.core.Editor);
        QSignalSpy wait(page, &BlocksPage::waitPanelRequested);
        QObject::connect(&f.core.Announcements, &AdapterAnnouncements::linkStarted, page,
                         &BlocksPage::LinkStarted);
        page->resize(780, 900);
        page->show();
        QVERIFY(f.up());
        QVERIFY(page->QScan->isEnabled());
        f.core.Blocks.SetOperator(&page->Operator); // f.up() gave the fixture's own
        page->QScan->click();
        QCOMPARE(page->bloks->model()->rowCount(), 2);
        QCOMPARE(page->ProgressBar1->value(), 0);
        QCOMPARE(wait.size(), 2);
        QVERIFY(page->BitBtn6->isEnabled());

        const ParameterEditor& e = f.core.Editor;
        page->bloks->setFocus();
        QTest::keyClick(page->bloks, Qt::Key_Down); // the first line becomes current
        QCOMPARE(e.SelectedBlockFunction, 0xC4);
        QCOMPARE(e.ConfigBl.cell(1, 0), "Время цикла ТС    (sec)");
        QTest::keyClick(page->bloks, Qt::Key_Space);
        QVERIFY(f.core.Blocks.bloks.ticked(0));
        QTest::keyClick(page->bloks, Qt::Key_Down);
        QCOMPARE(e.SelectedBlockFunction, 0xC8);
        QVERIFY(page->Panel6->isVisible());
        QCOMPARE(page->DiagRest->text(),
                 QString::number(f.block(kpsim::BlockType::Tit, 2).restarts));
        QTest::keyClick(page->bloks, Qt::Key_Up);
        QVERIFY(!page->Panel6->isVisible());

        f.core.Editor.ConfigBl.setCell(3, 3, "25");
        page->MenuItem2->trigger();
        QCOMPARE(e.ConfigBl.cell(34, 3), "25");
        page->BitBtn6->click();
        QVERIFY(messages.isEmpty());
        QCOMPARE(f.block(kpsim::BlockType::Ts, 0).parameters().mid(12 + 2 * 31, 2),
                 QByteArray::fromHex("3200"));
        QCOMPARE(wait.size(), 4);
        QCOMPARE(wait.last()[0].toBool(), false);
        delete page;
    }

    // A discovery replaces the previous one's result whole, also when it is cancelled: found
    // ts:2, ts:3, tit:0, then again with ts:2 silent to diagnostics and Cancel (the rest of the
    // slot left). A line then names the block it shows, and a write goes to that block alone.
    void cancelledDiscoveryLeavesNothingOfTheLastOne()
    {
        SimFixture f("ts:2,ts:3,tit:0");
        f.core.Link.settings.Timeout = QStringLiteral("30");
        BlocksPage page(f.core.Blocks, f.core.Editor);
        page.show();
        QVERIFY(f.up());
        f.core.Blocks.SetOperator(&page.Operator);
        page.QScan->click();
        QCOMPARE(f.core.Blocks.bloks.count(), 3);
        f.block(kpsim::BlockType::Ts, 2).faults.silentTo.set(0x0E);
        page.QScan->click(); // the diagnostics question answered Cancel
        QCOMPARE(f.core.Blocks.bloks.count(), 2);
        QCOMPARE(f.core.Blocks.bloks.line(1).left(18), "Блок ТИТМ77 Адр= 0");
        page.bloks->setCurrentIndex(page.bloks->model()->index(1, 0));
        QCOMPARE(f.core.Editor.Shown(), (blocks::Ref{2, 0}));
        QCOMPARE(f.core.Editor.ConfigBl.cell(1, 0), "Время цикла ТИТ(sec)");
        f.requests.clear();
        page.BitBtn6->click();
        QVERIFY(!f.requestKinds().isEmpty());
        for (const QString& k : f.requestKinds())
            QVERIFY2(k.startsWith("c8/0/"), qPrintable(k));
        QCOMPARE(f.block(kpsim::BlockType::Ts, 3).service().configurationWrites, 0);
    }

    // The highlight and the grid agree: a selection refused for a cell that is not an integer
    // puts the highlight back on the block shown, and "Записать параметры блока" writes that
    // block; a line still being read by the running discovery cannot be selected, and a
    // programming run marks its line without moving the highlight.
    void theHighlightFollowsTheGrid()
    {
        SimFixture f("ts:0,ts:1");
        BlocksPage page(f.core.Blocks, f.core.Editor);
        page.show();
        QVERIFY(f.up());
        f.core.Blocks.SetOperator(&page.Operator);
        QSignalSpy notices(&f.core.Editor, &ParameterEditor::refused);
        bool tried = false;
        QObject::connect(&f.core.Blocks.bloks, &QAbstractItemModel::rowsInserted, &page, [&] {
            if (f.core.Blocks.bloks.count() == 2 && !tried) { // ts:1 is being read
                tried = true;
                page.bloks->setCurrentIndex(page.bloks->model()->index(1, 0));
            }
        });
        page.QScan->click();
        QVERIFY(tried);
        QCOMPARE(notices.size(), 1);
        QVERIFY(!f.core.Editor.Shown());
        QVERIFY(!page.bloks->currentIndex().isValid());

        page.bloks->setCurrentIndex(page.bloks->model()->index(0, 0));
        f.core.Editor.ConfigBl.setCell(1, 1, "x");
        page.bloks->setCurrentIndex(page.bloks->model()->index(1, 0));
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].startsWith("Ошибка ввода: Строка «Время цикла ТС    (sec)»"));
        QCOMPARE(page.bloks->currentIndex().row(), 0);
        QCOMPARE(f.core.Editor.Shown(), (blocks::Ref{1, 0}));
        f.core.Editor.ConfigBl.setCell(1, 1, "42");
        page.BitBtn6->click();
        QCOMPARE(f.block(kpsim::BlockType::Ts, 0).parameters().left(2),
                 QByteArray::fromHex("2a00"));
        QCOMPARE(f.block(kpsim::BlockType::Ts, 1).service().configurationWrites, 0);
    }
};

QTEST_MAIN(TestBlocksPage)
#include "tst_blockspage.moc"
