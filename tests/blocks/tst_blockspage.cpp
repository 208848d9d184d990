// SPDX-License-Identifier: GPL-3.0-or-later
// The tab "Конфигурация и прошивка ФБ" driven through its controls against the simulator:
// what it holds and how it is laid out, the list and its ticks by keyboard, a click showing a
// block's parameters, "Размножить", the write with its wait panel.

#include "blocks/blockspage.h"
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

    void controlsAndLayout()
    {
        ProgramCore core;
        QWidget window;
        window.resize(780, 994 - 90); // the main window's tab area
        auto* page = new BlocksPage(core.Blocks, &window);
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
        auto* page = new BlocksPage(f.core.Blocks);
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

        page->bloks->setFocus();
        QTest::keyClick(page->bloks, Qt::Key_Down); // the first line becomes current
        QCOMPARE(f.core.Blocks.SelectedBlockFunction, 0xC4);
        QCOMPARE(f.core.Blocks.ConfigBl.cell(1, 0), "Время цикла ТС    (sec)");
        QTest::keyClick(page->bloks, Qt::Key_Space);
        QVERIFY(f.core.Blocks.bloks.ticked(0));
        QTest::keyClick(page->bloks, Qt::Key_Down);
        QCOMPARE(f.core.Blocks.SelectedBlockFunction, 0xC8);
        QVERIFY(page->Panel6->isVisible());
        QCOMPARE(page->DiagRest->text(),
                 QString::number(f.block(kpsim::BlockType::Tit, 2).restarts));
        QTest::keyClick(page->bloks, Qt::Key_Up);
        QVERIFY(!page->Panel6->isVisible());

        f.core.Blocks.ConfigBl.setCell(3, 3, "25");
        page->MenuItem2->trigger();
        QCOMPARE(f.core.Blocks.ConfigBl.cell(34, 3), "25");
        page->BitBtn6->click();
        QVERIFY(messages.isEmpty());
        QCOMPARE(f.block(kpsim::BlockType::Ts, 0).parameters().mid(12 + 2 * 31, 2),
                 QByteArray::fromHex("3200"));
        QCOMPARE(wait.size(), 4);
        QCOMPARE(wait.last()[0].toBool(), false);
        delete page;
    }
};

QTEST_MAIN(TestBlocksPage)
#include "tst_blockspage.moc"
