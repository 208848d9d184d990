// SPDX-License-Identifier: GPL-3.0-or-later
// The block service against the simulated controlled point: which positions discovery probes
// and in what order, every byte of its reads, the list lines, the questions after a missing
// reply and what each answer means, the progress bar; the parameter write and its refusals.

#include "blocks/blockrequests.h"
#include "blocks/parametereditor.h"
#include "simfixture.h"

using kpsim::BlockType;

class TestBlockService : public QObject
{
    Q_OBJECT

    static QByteArray hex(const char* h) { return QByteArray::fromHex(h); }

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    // Every position of a fully equipped bus whose blocks do not announce themselves is probed,
    // in the order ТС 0-7, ТИТ 0-7, ТУ 0-7; with announcements only the announced ones, and an
    // announcement of another type does not admit a position.
    void probeOrderAndAnnouncementFilter_data()
    {
        QTest::addColumn<QString>("blocks");
        QTest::addColumn<QString>("silentToQuery");
        QTest::addColumn<QStringList>("probed");
        QStringList all;
        for (const char* f : {"c4", "c8", "c2"})
            for (int a = 0; a < 8; ++a)
                all << QStringLiteral("%1/%2/07").arg(f).arg(a);
        QString every;
        for (const char* t : {"ts", "tit", "tu"})
            for (int a = 0; a < 8; ++a)
                every += QStringLiteral("%1:%2,").arg(t).arg(a);
        every.chop(1);
        QTest::newRow("none announced") << every << every << all;
        QTest::newRow("announced only") << "ts:1,tit:4,tu:7,tu:2"
                                        << "tit:4" << QStringList{"c4/1/07", "c2/2/07", "c2/7/07"};
        QTest::newRow("another type's announcement") << "ts:5,tit:5"
                                                     << "ts:5" << QStringList{"c8/5/07"};
    }
    void probeOrderAndAnnouncementFilter()
    {
        QFETCH(QString, blocks);
        QFETCH(QString, silentToQuery);
        QFETCH(QStringList, probed);
        kpsim::Options o = SimFixture::withBlocks(blocks.toLatin1());
        const auto quiet = kpsim::ParseBlocks(silentToQuery, nullptr);
        for (const auto& block : *quiet) {
            kpsim::BlockSetup s{block.type, block.address, {}, {}, {}, false, false, {}, 0};
            s.faults.noAnnouncement = true;
            o.setups << s;
        }
        SimFixture f(o);
        QVERIFY(f.up());
        f.core.Blocks.Discover(BlockService::Scope::Announced);
        QStringList pointerSets;
        for (const QString& k : f.requestKinds())
            if (k.endsWith("/07"))
                pointerSets << k;
        QCOMPARE(pointerSets, probed);
        QCOMPARE(f.core.Blocks.bloks.count(), probed.size());
        QVERIFY(f.op.Messages.isEmpty());
    }

    // One block of each type: the requests byte for byte, the list lines, what is kept, and the
    // controls as discovery leaves them.
    void discoveryReadsEveryBlock()
    {
        SimFixture f("ts:0,tit:1,tu:3");
        f.block(BlockType::Tit, 1)
            .setVersionText(QByteArray("\xFF"
                                       "V1\x00.05 \xCF",
                                       9));
        f.block(BlockType::Tu, 3).setVersionText(QByteArray("\x00\xFF\x00", 3));
        f.block(BlockType::Ts, 0).setParameterBytes(0, hex("e803"));
        QVERIFY(f.up());
        BlockService& b = f.core.Blocks;
        b.Discover(BlockService::Scope::Announced);

        QStringList expected{"00050019"
                             "01188006"
                             "00"};
        expected << "00070019"
                    "c4180007"
                    "028020";
        for (int i = 0; i < 6; ++i)
            expected << "00050019"
                        "c4180006"
                        "00";
        for (int k = 0; k < 10; ++k)
            expected << QStringLiteral("00070019c418000002") +
                            QStringLiteral("%1").arg(8 * k, 2, 16, QLatin1Char('0')) + "00";
        expected << "00070019"
                    "c418000e"
                    "020000";
        QCOMPARE(f.requestHex().mid(0, expected.size()), expected);
        QCOMPARE(f.requests.size(), 1 + (1 + 6 + 10 + 1) + (1 + 6 + 3 + 1) + (1 + 6 + 25 + 1));
        QVERIFY(f.requestHex().contains("00070019"
                                        "c8180100"
                                        "021000")); // last chunk of the ТИТ record

        QCOMPARE(b.bloks.count(), 3);
        QCOMPARE(b.bloks.line(0),
                 "Блок ТСМ77  Адр= 0 " + QString(f.block(BlockType::Ts, 0).versionText()));
        QCOMPARE(b.bloks.line(1), "Блок ТИТМ77 Адр= 1 V1.05 П");
        QCOMPARE(b.bloks.line(2), "Блок ТУМ77  Адр= 3 ");
        QCOMPARE(b.TableEntry(2, 1).function, 0xC8);
        QCOMPARE(b.TableEntry(2, 1).line, 1);
        QCOMPARE(b.TableEntry(1, 1).function, 0);
        QCOMPARE(b.RecordOf({1, 0})->at(0), char(0xE8));
        QCOMPARE(*b.RecordOf({3, 3}), f.block(BlockType::Tu, 3).parameters().left(200));
        QCOMPARE(b.Counts(1).restarts, f.block(BlockType::Tit, 1).restarts);
        QVERIFY(!b.bloks.ticked(0)); // no image opened
        QVERIFY(b.WriteEnabled && b.QScanEnabled);
        QCOMPARE(f.op.busy, (QList<bool>{true, false}));
        QCOMPARE(f.core.Trace.NewestNote(), QString("КВТ"));

        // The progress bar: 0 of 24, one step per position, back to 0.
        QCOMPARE(f.op.progress.size(), 1 + 24 + 1);
        QCOMPARE(f.op.progress.first(), (std::array<int, 3>{0, 24, 0}));
        for (int i = 1; i <= 24; ++i)
            QCOMPARE(f.op.progress[i], (std::array<int, 3>{0, 24, i}));
        QCOMPARE(f.op.progress.last(), (std::array<int, 3>{0, 24, 0}));

        // With an image open, exactly the blocks whose version differs are ticked.
        b.SetImage(" V1.05 П");
        b.Discover(BlockService::Scope::Announced);
        QCOMPARE(QList<bool>({b.bloks.ticked(0), b.bloks.ticked(1), b.bloks.ticked(2)}),
                 QList<bool>({true, false, true}));
    }

    // After a missing reply: what Retry and Cancel mean in each of the three questions.
    void missingRepliesAndTheAnswers_data()
    {
        QTest::addColumn<int>("sub");      // the sub-function a block is silent to, once
        QTest::addColumn<int>("nth");      // 0: always
        QTest::addColumn<int>("retries");  // answers Retry this often, then Cancel
        QTest::addColumn<QString>("line"); // the line of ТС 2
        QTest::addColumn<bool>("recordRead");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("message");
        const QStringList all{"Блок ТСМ77  Адр= 2", "Блок ТСМ77  Адр= 3", "Блок ТИТМ77 Адр= 0"};
        QTest::newRow("version read, retried")
            << 0x06 << 2 << 1 << "Блок ТСМ77  Адр= 2 TS v1.03 sim" << true << all
            << "Считывание версии: Нет ответа от блока!";
        QTest::newRow("version read, cancelled")
            << 0x06 << 2 << 0 << "Блок ТСМ77  Адр= 2 TS v1.03" << true << all
            << "Считывание версии: Нет ответа от блока!";
        QTest::newRow("parameter read, cancelled")
            << 0x00 << 4 << 0 << "Блок ТСМ77  Адр= 2 TS v1.03 sim" << false << all
            << "Считывание версии: Нет ответа от блока!";
        QTest::newRow("diagnostics, Retry goes on")
            << 0x0E << 0 << 1 << "Блок ТСМ77  Адр= 2 TS v1.03 sim" << true << all
            << "Считывание Диагностики: Нет ответа от блока!";
        QTest::newRow("diagnostics, Cancel leaves the slot")
            << 0x0E << 0 << 0 << "Блок ТСМ77  Адр= 2 TS v1.03 sim" << true
            << QStringList{all[0], all[2]} << "Считывание Диагностики: Нет ответа от блока!";
    }
    void missingRepliesAndTheAnswers()
    {
        QFETCH(int, sub);
        QFETCH(int, nth);
        QFETCH(int, retries);
        QFETCH(QString, line);
        QFETCH(bool, recordRead);
        QFETCH(QStringList, listed);
        QFETCH(QString, message);
        SimFixture f("ts:2,ts:3,tit:0");
        f.core.Link.settings.Timeout = QStringLiteral("30"); // a missing reply costs 1.03 s
        f.op = RecordingOperator(retries);
        kpsim::BlockFaults& faults = f.block(BlockType::Ts, 2).faults;
        if (nth)
            faults.silentAt.push_back({uint8_t(sub), nth});
        else
            faults.silentTo.set(size_t(sub));
        QVERIFY(f.up());
        f.core.Blocks.Discover(BlockService::Scope::Announced);
        const BlockList& list = f.core.Blocks.bloks;
        QStringList heads;
        for (int i = 0; i < list.count(); ++i)
            heads << list.line(i).left(18);
        QCOMPARE(heads, listed);
        QCOMPARE(list.line(0), line);
        QCOMPARE(f.core.Blocks.RecordOf({1, 2}).has_value(), recordRead);
        QCOMPARE(f.op.Messages, QStringList{message});
        // A diagnostics Retry does not ask the block again.
        QCOMPARE(f.requestKinds().count("c4/2/0e"), 1);
    }

    // A telecontrol block: selected, edited, written in 25 chunks, read back by a second
    // discovery; edits made on one block are kept in its image while another is shown.
    void parametersWrittenAndKept()
    {
        SimFixture f("ts:0,tu:3");
        f.block(BlockType::Ts, 0).setParameterBytes(4, hex("05000000"));
        QVERIFY(f.up());
        BlockService& b = f.core.Blocks;
        ParameterEditor& e = f.core.Editor;
        b.Discover(BlockService::Scope::Announced);

        e.Select(0);
        QCOMPARE(e.SelectedBlockFunction, 0xC4);
        QCOMPARE(e.ConfigBl.cell(3, 1), "1");
        QCOMPARE(e.ConfigBl.cell(4, 1), "0");
        QCOMPARE(e.ConfigBl.cell(5, 1), "1");
        QCOMPARE(e.DiagRest, QString::number(f.block(BlockType::Ts, 0).restarts));
        e.ConfigBl.setCell(1, 1, "77");

        e.Select(1);
        QCOMPARE(e.SelectedBlockFunction, 0xC2);
        QCOMPARE(e.SelectedBlockAddress, 3);
        QCOMPARE(e.ConfigBl.cell(1, 0), "Тип управления (0-1)");
        QVERIFY(!e.InterlockShown && !e.CalibrationShown);
        e.ConfigBl.setCell(1, 1, "5");
        e.ConfigBl.setCell(33, 3, "4660");
        e.Select(0);
        QCOMPARE(e.ConfigBl.cell(1, 1), "77"); // kept in the image of the telesignal block
        e.Select(1);
        QCOMPARE(e.ConfigBl.cell(1, 1), "5");
        QCOMPARE(e.ConfigBl.cell(2, 0), "Вых1(№ ТУ/0/Удерж,сек)");
        QVERIFY(e.InterlockShown);

        f.requests.clear();
        e.Write();
        QStringList subs;
        for (const QString& k : f.requestKinds())
            subs << k.section('/', 2);
        QStringList expected{"0b"};
        for (int i = 0; i < 24; ++i)
            expected << "01";
        expected << "02"
                 << "03";
        QCOMPARE(subs, expected);
        QCOMPARE(f.requests[0].mid(9),
                 QByteArray(reinterpret_cast<const char*>(e.ConfigBuffer->data()), 8));
        QCOMPARE(f.requests[24].mid(9), hex("34125aa53cc36996"));
        const QByteArray held = f.block(BlockType::Tu, 3).parameters();
        QCOMPARE(held.left(2), hex("0500"));
        QCOMPARE(held.mid(192, 8), hex("34125aa53cc36996")); // 194-199 as read
        QCOMPARE(f.op.busy.last(), false);
        QVERIFY(f.op.Messages.isEmpty());

        b.Discover(BlockService::Scope::Announced);
        QCOMPARE(e.SelectedBlockFunction, 0);
        e.Select(1);
        QCOMPARE(e.ConfigBl.cell(33, 3), "4660");
    }

    // What the write refuses before anything is sent: a record not read whole in this
    // discovery (it may hold another block's bytes), a cell that is not a number (named by its
    // row header and column), another operation running. A write whose block stops answering
    // says so.
    void writeRefusedOrFailed_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("chunks"); // configuration write requests that went out
        QTest::newRow("record read in part")
            << "partial"
            << "Запись конфигурации: Параметры блока tit:2 не были прочитаны полностью, запись "
               "отменена. Выполните поиск блоков заново."
            << 0;
        QTest::newRow("not a number")
            << "cell"
            << "Ошибка ввода: Строка «Уставка передачи(Аппертура)», столбец 1: «x» — не целое "
               "число."
            << 0;
        QTest::newRow("another operation") << "busy"
                                           << "" << 0;
        QTest::newRow("no reply to chunk 2")
            << "silent"
            << "Запись конфигурации: Нет ответа от блока! Повторите!" << 2;
    }
    void writeRefusedOrFailed()
    {
        QFETCH(QString, how);
        QFETCH(QString, message);
        QFETCH(int, chunks);
        SimFixture f("tit:2");
        f.core.Link.settings.Timeout = QStringLiteral("30");
        if (how == "partial")
            f.block(BlockType::Tit, 2).faults.silentAt.push_back({0x00, 2});
        if (how == "silent")
            f.block(BlockType::Tit, 2).faults.silentAt.push_back({0x01, 1});
        QVERIFY(f.up());
        ParameterEditor& e = f.core.Editor;
        f.core.Blocks.Discover(BlockService::Scope::Announced);
        e.Select(0);
        QVERIFY(e.CalibrationShown);
        f.op.Messages.clear();
        f.requests.clear();
        if (how == "cell")
            e.ConfigBl.setCell(3, 1, "x");
        QSignalSpy refused(&f.core.Link.Operations, &OperationGuard::refused);
        const auto other =
            how == "busy" ? f.core.Link.Operations.Begin("поиск блоков") : OperationGuard::Scope();
        e.Write();
        QCOMPARE(f.op.Messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(refused.size(), how == "busy" ? 1 : 0);
        QCOMPARE(int(f.requestKinds().filter(QRegularExpression("/(0b|01)$")).size()), chunks);
        QVERIFY(!f.op.BusyShown);
    }

    // A click on another operation while discovery waits is refused and sends nothing.
    void secondOperationRefusedDuringDiscovery()
    {
        SimFixture f("ts:0");
        QVERIFY(f.up());
        QSignalSpy refused(&f.core.Link.Operations, &OperationGuard::refused);
        QTimer::singleShot(50, [&] {
            f.core.Blocks.Discover(BlockService::Scope::Announced);
            f.core.Tc.Operate();
            f.core.Announcements.SetClock();
        });
        f.core.Blocks.Discover(BlockService::Scope::Announced);
        QCOMPARE(refused.size(), 3);
        QCOMPARE(refused[0][0].toString(), "Дождитесь завершения: идёт поиск блоков");
        QCOMPARE(f.requests.size(), 1 + 1 + 6 + 10 + 1);
    }
};

QTEST_GUILESS_MAIN(TestBlockService)
#include "tst_blockservice.moc"
