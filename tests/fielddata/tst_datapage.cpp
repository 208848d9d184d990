// SPDX-License-Identifier: GPL-3.0-or-later
// The "Данные по ФБ" tab and the counter preset dialog, driven through their controls.

#include "exchange/linkfixture.h"
#include "fielddata/datapage.h"
#include "fielddata/feedrecords.h"
#include "fielddata/fieldrequests.h"
#include "fielddata/livetables.h"
#include "fielddata/ttiival.h"
#include "support/eventwait.h"
#include "support/messagebox.h"

#include <QActionGroup>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QtTest>

namespace
{

QByteArray hex(const char* h)
{
    return QByteArray::fromHex(h);
}

struct Message {
    QString caption, text;
    QMessageBox::StandardButtons buttons;
};
} // namespace

class TestDataPage : public QObject
{
    Q_OBJECT

    QList<Message> messages;

    // A page in a window of the main window's tab size, shown.
    struct Shown {
        LiveTables tables;
        TraceLog trace;
        LinkCore link{trace}; // closed: requests are only counted
        FieldRequests requests{link, tables};
        QWidget window;
        DataPage* page;
        explicit Shown(int tsHeight = 0, int titHeight = 0)
        {
            auto* telecontrol = new QGroupBox(QStringLiteral(" ТУ "));
            telecontrol->setObjectName(QStringLiteral("gbTU"));
            page = new DataPage(tables, requests, telecontrol, &window);
            if (tsHeight)
                page->setGbTSHeight(tsHeight);
            if (titHeight)
                page->setGbTITHeight(titHeight);
            window.resize(760, 900);
            page->resize(760, 900);
            window.show();
        }
    };

    // As the platform delivers a double click: press, release, double click, release.
    static void doubleClick(QWidget* w, const QPoint& at)
    {
        QTest::mouseClick(w, Qt::LeftButton, {}, at);
        QTest::mouseDClick(w, Qt::LeftButton, {}, at);
        QTest::mouseRelease(w, Qt::LeftButton, {}, at);
    }

private slots:
    void initTestCase()
    {
        messagebox::SetPresenter([this](QWidget*, QMessageBox::Icon, const QString& caption,
                                        const QString& text, QMessageBox::StandardButtons b) {
            messages << Message{caption, text, b};
            return QMessageBox::Ok;
        });
    }
    void init() { messages.clear(); }

    void layoutOfTheTab()
    {
        Shown s;
        DataPage& p = *s.page;
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        QCOMPARE(p.Panel->height(), 249);
        QCOMPARE(p.findChild<QGroupBox*>("gbTU"), p.gbTU);
        QCOMPARE(p.gbTU->width(), 289);
        QCOMPARE(p.gbTU->parentWidget(), p.Panel);
        QCOMPARE(p.gbEvents->title(), " События ");
        QVERIFY(p.gbEvents->x() > p.gbTU->x());
        QCOMPARE(p.gbTS->title(), " Телесигналы ");
        QCOMPARE(p.gbTIT->title(), " Телеизмерения текущие ");
        QCOMPARE(p.gbTII->title(), " Телеизмерения интегральные ");
        // From the top: the panel, gbTS, gbTIT, and gbTII down to the bottom.
        const auto top = [&p](QWidget* w) { return w->mapTo(&p, QPoint(0, 0)).y(); };
        const auto bottom = [&p](QWidget* w) { return w->mapTo(&p, QPoint(0, w->height())).y(); };
        QVERIFY(top(p.gbTS) >= bottom(p.Panel));
        QVERIFY(top(p.gbTIT) >= bottom(p.gbTS));
        QVERIFY(top(p.gbTII) >= bottom(p.gbTIT));
        QVERIFY(bottom(p.gbTII) >= p.height() - 4);

        QTableView* grids[] = {p.AdvColumnGrid1, p.AdvColumnGrid2, p.AdvColumnGrid3};
        const char* names[] = {"AdvColumnGrid1", "AdvColumnGrid2", "AdvColumnGrid3"};
        QGroupBox* boxes[] = {p.gbTS, p.gbTIT, p.gbTII};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(p.findChild<QTableView*>(names[i]), grids[i]);
            QVERIFY(boxes[i]->isAncestorOf(grids[i]));
            QCOMPARE(grids[i]->verticalHeader()->width(), 40);
            QCOMPARE(grids[i]->rowHeight(0), 16);
            QCOMPARE(grids[i]->rowHeight(16), 16);
            QCOMPARE(grids[i]->horizontalHeader()->height(), 16);
        }
        QCOMPARE(p.AdvColumnGrid1->model()->columnCount(), 32);
        QCOMPARE(p.AdvColumnGrid1->columnWidth(0), 20);
        QCOMPARE(p.AdvColumnGrid1->columnWidth(31), 20);
        QCOMPARE(p.AdvColumnGrid2->columnWidth(0), 40);
        QCOMPARE(p.AdvColumnGrid2->columnWidth(15), 40);
        QCOMPARE(p.AdvColumnGrid2->columnWidth(16), 114);
        QCOMPARE(p.AdvColumnGrid3->columnWidth(0), 60);
        QCOMPARE(p.AdvColumnGrid3->columnWidth(16), 60);
        QCOMPARE(p.AdvColumnGrid2->model()->headerData(16, Qt::Horizontal).toString(), "Время");
        QCOMPARE(p.AdvColumnGrid1->model()->headerData(8, Qt::Vertical).toString(), "Б0");

        QCOMPARE(p.TSAct->actions(), (QList<QAction*>{p.MenuItem1, p.TsTrend}));
        QCOMPARE(p.TiiAct->actions(), QList<QAction*>{p.TiiTrend});
        for (QAction* trend : {p.TsTrend, p.TitTrend, p.TiiTrend})
            QCOMPARE(trend->text(), "График");
        QCOMPARE(p.MenuItem1->text(), "Очистить");
        QCOMPARE(p.EventAct->actions(), (QList<QAction*>{p.N4, p.N5}));
        QCOMPARE(p.N4->text(), "Очистить");
        QCOMPARE(p.N5->text(), "Запрос архива");
        QCOMPARE(p.kpmenu->actions().mid(0, 3), (QList<QAction*>{p.N1, p.N2, p.N3}));
        QCOMPARE(p.kpmenu->actions().last(), p.TitTrend);
        QCOMPARE(p.N1->text(), "Напряжение (V)");
        QCOMPARE(p.N2->text(), "Ток (мА)");
        QCOMPARE(p.N3->text(), "Кванты");
        QCOMPARE(p.findChild<QListView*>("Events"), p.Events);
        QVERIFY(p.gbEvents->isAncestorOf(p.Events));
    }

    void unitsMenu()
    {
        Shown s;
        DataPage& p = *s.page;
        QVERIFY(p.N3->isChecked() && !p.N1->isChecked() && !p.N2->isChecked());
        p.N1->trigger();
        QCOMPARE(s.tables.unit(), int(LiveTables::Volts));
        QVERIFY(p.N1->isChecked() && !p.N3->isChecked());
        p.N2->trigger();
        QCOMPARE(s.tables.unit(), int(LiveTables::Milliamps));
        QVERIFY(p.N2->isChecked() && !p.N1->isChecked());
        // A unit set on the tables (restored settings) shows in the menu.
        s.tables.setUnit(LiveTables::Quanta);
        QVERIFY(p.N3->isChecked() && !p.N2->isChecked());
    }

    void cellsAsTheViewsShowThem()
    {
        Shown s;
        feed(s.tables, hex("48 18 00 00 02 0080  44 18 02 00 05 01000000 00"));
        QAbstractItemModel* tit = s.page->AdvColumnGrid2->model();
        QCOMPARE(tit->data(tit->index(0, 0)).toString(), "-32768");
        QCOMPARE(tit->data(tit->index(0, 0), Qt::FontRole).value<QFont>().pointSize(), 7);
        QVERIFY(!tit->data(tit->index(0, 1), Qt::FontRole).isValid());
        QAbstractItemModel* ts = s.page->AdvColumnGrid1->model();
        QCOMPARE(ts->data(ts->index(2, 0)).toString(), "1");
        QCOMPARE(ts->data(ts->index(2, 1)).toString(), "0");
    }

    void popupCommands()
    {
        Shown s;
        DataPage& p = *s.page;
        feed(s.tables, hex("44 18 00 00 05 ffffffff 00  42 18 00 0a 05 00 ffffffff"
                           "44 80 02 a4 07 00000000 0000 00"));
        QCOMPARE(p.Events->model()->rowCount(), 1);
        const QModelIndex first = p.Events->model()->index(0, 0);
        QCOMPARE(first.data().toString(), s.tables.Events.at(0));
        QCOMPARE(p.Events->visualRect(first).height(), 13);

        p.MenuItem1->trigger();
        QVERIFY(s.tables.Telesignals.cell(1, 1).isEmpty());
        QCOMPARE(s.tables.Telesignals.cell(9, 1), "1");

        p.N5->trigger(); // the archive request: counted, as the link is closed
        QCOMPARE(s.link.TxCount, 1u);
        QCOMPARE(p.Events->model()->rowCount(), 1);

        p.N4->trigger();
        QCOMPARE(p.Events->model()->rowCount(), 0);
        QVERIFY(s.tables.Events.isEmpty());

        // A page built after events came shows them.
        feed(s.tables, hex("44 80 02 a4 07 00000000 0000 00"));
        DataPage late(s.tables, s.requests, nullptr);
        QCOMPARE(late.Events->model()->rowCount(), 1);
    }

    // "График" of the selected cells: their inputs; a time cell and an interlock row are none.
    void trendOfTheSelectedCells()
    {
        Shown s;
        DataPage& p = *s.page;
        QSignalSpy wanted(&p, &DataPage::trendRequested);
        const auto select = [](QTableView* t, QList<std::pair<int, int>> cells) {
            t->clearSelection();
            for (auto [r, c] : cells)
                t->selectionModel()->select(t->model()->index(r, c), QItemSelectionModel::Select);
        };
        select(p.AdvColumnGrid2, {{3, 4}, {4, 0}, {3, 16}});
        p.TitTrend->trigger();
        select(p.AdvColumnGrid1, {{0, 6}, {8, 1}});
        p.TsTrend->trigger();
        select(p.AdvColumnGrid3, {{0, 2}});
        p.TiiTrend->trigger();
        using trend::Kind;
        QCOMPARE(wanted[0][0].value<QList<trend::Key>>(),
                 (QList<trend::Key>{{Kind::Measurement, 1, 21}, {Kind::Measurement, 2, 1}}));
        QCOMPARE(wanted[1][0].value<QList<trend::Key>>(),
                 (QList<trend::Key>{{Kind::Telesignal, 0, 7}}));
        QCOMPARE(wanted[2][0].value<QList<trend::Key>>(),
                 (QList<trend::Key>{{Kind::Counter, 0, 3}}));
    }

    void doubleClicks()
    {
        Shown s;
        DataPage& p = *s.page;
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        QSignalSpy cell(&p, &DataPage::integralDoubleClicked);
        QTableView* tii = p.AdvColumnGrid3;
        doubleClick(tii->viewport(), tii->visualRect(tii->model()->index(3, 2)).center());
        QCOMPARE(cell.size(), 1);
        QCOMPARE(cell[0], (QVariantList{4, 3}));
        // The header row and column are row 0 and column 0.
        QHeaderView* rows = tii->verticalHeader();
        doubleClick(rows->viewport(),
                    QPoint(rows->width() / 2, rows->sectionViewportPosition(2) + 8));
        QHeaderView* cols = tii->horizontalHeader();
        doubleClick(cols->viewport(), QPoint(cols->sectionViewportPosition(16) + 30, 8));
        QCOMPARE(cell.size(), 3);
        QCOMPARE(cell[1], (QVariantList{3, 0}));
        QCOMPARE(cell[2], (QVariantList{0, 17}));

        QSignalSpy test(&p, &DataPage::testWindowRequested);
        doubleClick(p.gbTS, QPoint(p.gbTS->width() - 3, 3)); // on the frame, not the table
        QCOMPARE(test.size(), 1);
        doubleClick(p.AdvColumnGrid1->viewport(), QPoint(5, 5));
        QCOMPARE(test.size(), 1);
    }

    void paneHeights()
    {
        Shown s(250, 150);
        DataPage& p = *s.page;
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        QCOMPARE(p.gbTS->height(), 250);
        QCOMPARE(p.gbTIT->height(), 150);
        QCOMPARE(p.gbTSHeight(), 250);
        QCOMPARE(p.gbTITHeight(), 150);

        // Dragging the splitter below gbTS changes its kept height; gbTIT keeps its own.
        QSplitterHandle* handle = p.Splitter2->handle(1);
        const QPoint mid(handle->width() / 2, handle->height() / 2);
        QTest::mousePress(handle, Qt::LeftButton, {}, mid);
        QTest::mouseMove(handle, mid + QPoint(0, 40));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, mid + QPoint(0, 40));
        QTRY_COMPARE(p.gbTS->height(), 290);
        QCOMPARE(p.gbTSHeight(), 290);
        QCOMPARE(p.gbTITHeight(), 150);

        // The window growing goes to gbTII.
        s.window.resize(760, 1000);
        p.resize(760, 1000);
        QTRY_COMPARE(p.gbTS->height(), 290);
        QCOMPARE(p.gbTIT->height(), 150);
        QCOMPARE(p.Panel->height(), 249);
    }

    void presetDialog()
    {
        TTiiVal d;
        QCOMPARE(d.windowTitle(), "Ввод нового значения ТИИ");
        QCOMPARE(d.size(), QSize(230, 133));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        const char* edits[] = {"Adr", "Num", "Val"};
        const char* captions[] = {"Адрес", "Номер", "Значение"};
        for (int i = 0; i < 3; ++i) {
            auto* edit = d.findChild<QLineEdit*>(edits[i]);
            auto* label = d.findChild<QLabel*>(QString(edits[i]) + "Label");
            QVERIFY(edit && label);
            QCOMPARE(label->text(), captions[i]);
            QCOMPARE(label->buddy(), edit);
        }
        QCOMPARE(d.findChild<QPushButton*>("Write")->text(), "Записать");
        QCOMPARE(d.findChild<QPushButton*>("Canc")->text(), "Отмена");
    }

    // A double click on the integral table fills the dialog as the main window wires it, and
    // "Записать" sends the preset and closes.
    void presetFromADoubleClick()
    {
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        LinkFixture f;
        f.open();
        FieldRequests requests(f.link, s.tables);
        f.onSent = [&](const QByteArray& d) { // receipted and answered by block 1
            if (d.size() > 4) {
                f.fromAdapter(hex("82 00") + d.mid(2, 1));
                f.fromAdapter(hex("00 0d 00 19 c4 18 01 0c 08") + QByteArray(8, '\0'));
            }
        };
        TTiiVal d;
        d.requests = &requests;
        QObject::connect(s.page, &DataPage::integralDoubleClicked, &d, [&](int row, int col) {
            d.OpenForCell(row, col, s.tables.Integrals.cell(row, col));
        });
        // Counter number 19 of block 1: row 4, column 3.
        feed(s.tables, hex("44 21 01 13 08 e8030000 00000000"));
        QTableView* tii = s.page->AdvColumnGrid3;
        doubleClick(tii->viewport(), tii->visualRect(tii->model()->index(3, 2)).center());
        QVERIFY(d.isVisible());
        QVERIFY(!d.isModal());
        QCOMPARE(d.Adr->text(), "1");
        QCOMPARE(d.Num->text(), "18");
        QCOMPARE(d.Val->text(), "1000");

        d.Val->setText(" 70000 ");
        d.Write->click();
        QCOMPARE(f.sent.value(0), hex("00 0b 00 19 c4 18 01 0c 06 12 00 70110100"));
        QVERIFY(messages.isEmpty());
        QVERIFY(!d.isVisible());
        QCOMPARE(s.tables.Integrals.cell(4, 3), "1000"); // until the block reports it
    }

    void presetWithoutAReply()
    {
        LinkFixture f;
        f.open();
        f.link.settings.Timeout = QStringLiteral("20");
        LiveTables tables;
        FieldRequests requests(f.link, tables);
        TTiiVal d;
        d.requests = &requests;
        f.onSent = [&](const QByteArray& sent) { // receipted, never answered
            if (sent.size() > 4) {
                f.fromAdapter(hex("82 00") + sent.mid(2, 1));
                d.Write->click(); // clicked again while the reply is awaited: no second write
            }
        };
        d.Fill(3, 18, "1000");
        d.show();
        d.Write->click();
        QCOMPARE(f.sent.size(), 1);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].caption, "Запись параметра");
        QCOMPARE(messages[0].text, "Нет ответа от блока! Повторите!");
        QCOMPARE(messages[0].buttons, QMessageBox::Ok);
        QVERIFY(!d.isVisible());

        // Without a channel to send through the write cannot succeed either.
        TTiiVal alone;
        alone.Fill(0, 0, "0");
        alone.show();
        alone.Write->click();
        QCOMPARE(messages.size(), 2);
        QVERIFY(!alone.isVisible());
    }

    // Through the request channel itself: a timeout it refuses, a write it refuses because
    // another operation runs, and the program closing during the wait. Each stops with at most
    // the one message, nothing is sent, and the typed values stay.
    void presetStoppedByTheChannel_data()
    {
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("closing");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<bool>("stillOpen");
        QTest::newRow("timeout not a number") << "1x" << false << false << 1 << true;
        QTest::newRow("another operation") << "100" << true << false << 0 << true;
        QTest::newRow("closing") << "100" << false << true << 0 << true;
    }
    void presetStoppedByTheChannel()
    {
        QFETCH(QString, timeout);
        QFETCH(bool, busy);
        QFETCH(bool, closing);
        QFETCH(int, boxes);
        QFETCH(bool, stillOpen);
        LinkFixture f;
        f.open();
        f.link.settings.Timeout = timeout;
        QObject::connect(&f.link, &LinkCore::operatorError,
                         [](const QString& m) { messagebox::Error(nullptr, m); });
        LiveTables tables;
        FieldRequests requests(f.link, tables);
        TTiiVal d;
        d.requests = &requests;
        const auto other = busy ? f.link.Operations.Begin(QStringLiteral("поиск блоков"))
                                : OperationGuard::Scope();
        if (closing) // the main window closes while the reply is awaited
            f.onSent = [](const QByteArray&) { eventwait::SetClosing(true); };
        d.Fill(3, 18, "1000");
        d.show();
        d.Write->click();
        const int sentBeforeClosing = closing ? 1 : 0;
        eventwait::SetClosing(false);
        QCOMPARE(messages.size(), boxes);
        QTest::qWait(50);
        QCOMPARE(f.sent.size(), sentBeforeClosing);
        QCOMPARE(d.isVisible(), stillOpen);
        QCOMPARE(d.Val->text(), "1000");
    }

    void presetFieldNotAnInteger_data()
    {
        QTest::addColumn<QString>("adr");
        QTest::addColumn<QString>("num");
        QTest::addColumn<QString>("val");
        QTest::addColumn<QString>("offending");
        QTest::newRow("address") << "x1"
                                 << "18"
                                 << "5"
                                 << "Адрес: «x1» — не целое число.";
        QTest::newRow("number") << "1"
                                << ""
                                << "5"
                                << "Номер: «» — не целое число.";
        QTest::newRow("value, decimal") << "1"
                                        << "18"
                                        << "1.5"
                                        << "Значение: «1.5» — не целое число.";
        QTest::newRow("value, past 32 bits") << "1"
                                             << "18"
                                             << "2147483648"
                                             << "Значение: «2147483648» — не целое число.";
    }
    void presetFieldNotAnInteger()
    {
        QFETCH(QString, adr);
        QFETCH(QString, num);
        QFETCH(QString, val);
        QFETCH(QString, offending);
        TTiiVal d; // without a core: nothing could be sent anyway
        d.show();
        d.Adr->setText(adr);
        d.Num->setText(num);
        d.Val->setText(val);
        d.Write->click();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].caption, "Ошибка ввода");
        QCOMPARE(messages[0].text, offending);
        QVERIFY(d.isVisible());
        QCOMPARE(d.Val->text(), val);

        d.Canc->click();
        QVERIFY(!d.isVisible());
    }
};

QTEST_MAIN(TestDataPage)
#include "tst_datapage.moc"
