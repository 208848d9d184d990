// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware commands of the main window: the buttons in each mode, the image loaded
// through OpenDialog1 and its caption, a run with its progress bar and wait panel, and the
// question when the window is closed during a run.

#include "app/tform1.h"
#include "blocks/blockspage.h"
#include "firmware/firmwareview.h"
#include "kpsim.h"
#include "sampleimage.h"
#include "support/eventwait.h"
#include "support/messagebox.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using kpsim::BlockType;

class TestFirmwareView : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QStringList messages;
    QMessageBox::StandardButton answer = QMessageBox::No;

    QSettings* store() const
    {
        return new QSettings(dir.filePath("TavenaConfig.conf"), QSettings::IniFormat);
    }
    QString file(const QString& name, const QByteArray& bytes) const
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    static void choose(TForm1& f, const QString& path)
    {
        f.FirmwareButtons->OpenDialog1 = [path] { return path; };
        f.TabSheet9->BitBtn4->click();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        messagebox::SetPresenter([this](QWidget*, QMessageBox::Icon, const QString& caption,
                                        const QString& text, QMessageBox::StandardButtons) {
            messages << caption + ": " + text;
            return answer;
        });
    }
    void init()
    {
        eventwait::SetClosing(false); // a window closed by an earlier test ended its waits
        messages.clear();
    }

    void buttonsInEachMode_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("operator") << QStringList{};
        QTest::newRow("engineer") << QStringList{"d"};
    }
    void buttonsInEachMode()
    {
        QFETCH(QStringList, args);
        TForm1 f(args, store());
        BlocksPage* page = f.TabSheet9;
        QVERIFY(page->BitBtn4->isVisibleTo(page) && page->BitBtn3->isVisibleTo(page));
        QCOMPARE(page->BitBtn55->isVisibleTo(page), !args.isEmpty());
        QCOMPARE(page->BitBtn4->text(), "Загрузить образ");
        QVERIFY(page->BitBtn4->isEnabled());
        QVERIFY(!page->BitBtn3->isEnabled() && !page->BitBtn55->isEnabled());
    }

    void theDialogOffersRomFiles()
    {
        TForm1 f({}, store());
        QStringList filters;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->objectName(), "OpenDialog1");
            filters = dialog->nameFilters();
            dialog->reject();
        });
        QCOMPARE(f.FirmwareButtons->OpenDialog1(), QString()); // cancelled
        QCOMPARE(filters, QStringList{"*.rom (*.rom)"});
    }

    // Cancel, a good image, then a short one: the caption and the buttons follow the good.
    void loadingThroughTheDialog()
    {
        TForm1 f({"d"}, store());
        BlocksPage* page = f.TabSheet9;
        choose(f, QString());
        QCOMPARE(page->BitBtn4->text(), "Загрузить образ");
        QVERIFY(!page->BitBtn3->isEnabled());
        QVERIFY(messages.isEmpty());

        choose(f, file("good.rom", kpsim::image::SampleImage("V1.05")));
        QCOMPARE(page->BitBtn4->text(), "Загружен образ  V1.05");
        QVERIFY(page->BitBtn3->isEnabled() && page->BitBtn55->isEnabled());

        choose(f, file("short.rom", QByteArray(100, 'x')));
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].startsWith("Чтение файла: Файл "));
        QCOMPARE(page->BitBtn4->text(), "Загружен образ  V1.05");
        QVERIFY(page->BitBtn3->isEnabled() && page->BitBtn55->isEnabled());
    }

    // A run is interrupted by closing the window at its 50th write: "No" lets it go on to the
    // end, "Yes" closes the window and ends it there; without a run the window closes at once.
    void closingTheWindow_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("reply");
        QTest::newRow("no run: no question") << false << int(QMessageBox::No);
        QTest::newRow("run, No: it goes on") << true << int(QMessageBox::No);
        QTest::newRow("run, Yes: it ends, the window closes") << true << int(QMessageBox::Yes);
    }
    void closingTheWindow()
    {
        QFETCH(bool, running);
        QFETCH(int, reply);
        answer = QMessageBox::StandardButton(reply);
        kpsim::Options o;
        o.port = 0;
        o.blocks = {{BlockType::Ts, 2, {}}};
        kpsim::KpSim sim(o);
        QVERIFY(sim.start());
        TForm1 f({"d"}, store());
        f.show();
        f.BaseIP->setText("127.0.0.1");
        f.BaseIPadapter->setText("127.0.0.1");
        f.BasePortD->setText(QString::number(sim.localPort()));
        f.Link.Timer4.setInterval(20);
        f.Connect->click();
        QTRY_VERIFY(f.Link.LinkOpen);
        choose(f, file("image.rom", kpsim::image::SampleImage("V2.00")));
        f.Blocks.AnnouncementTimer.setInterval(100);
        f.TabSheet9->QScan->click();
        QVERIFY(f.Blocks.bloks.ticked(0));
        QSignalSpy closed(&f, &TForm1::closed);

        int writes = 0;
        bool panelShown = false;
        TPacket lastAtClose;
        connect(&sim, &kpsim::KpSim::requestReceived, this, [&](const QByteArray& d) {
            if (d.size() > 7 && uint8_t(d[4]) == 0xC4 && d[7] == 0x05 && ++writes == 50)
                QTimer::singleShot(0, &f, [&] {
                    panelShown = f.WaitPanel->isVisible();
                    lastAtClose = f.Link.LastRequest;
                    f.close();
                });
        });
        if (running)
            f.TabSheet9->BitBtn3->click();
        else
            f.close();

        const bool yes = running && reply == QMessageBox::Yes;
        const QString question = ": Идёт программирование блоков. Прервать и закрыть программу?";
        QCOMPARE(messages, running ? QStringList{question} : QStringList{});
        QCOMPARE(closed.size(), running && !yes ? 0 : 1);
        QCOMPARE(f.isVisible(), running && !yes);
        QCOMPARE(panelShown, running);
        if (!running)
            return;
        QCOMPARE(f.Blocks.bloks.ticked(0), yes);
        if (yes) {
            QCOMPARE(f.Link.LastRequest, lastAtClose); // nothing more was sent
            QCOMPARE(writes, 50);
        } else {
            QCOMPARE(writes, 3000);
            QCOMPARE(sim.counters().serviceEnds, 1);
            QVERIFY(!f.WaitPanel->isVisible());
            // Between blocks the bar shows nothing: its position lies below its range.
            QProgressBar* bar = f.TabSheet9->ProgressBar1;
            QCOMPARE(bar->minimum(), 8192);
            QCOMPARE(bar->maximum(), 32192);
            QVERIFY(bar->value() < bar->minimum());
        }
    }
};

QTEST_MAIN(TestFirmwareView)
#include "tst_firmwareview.moc"
