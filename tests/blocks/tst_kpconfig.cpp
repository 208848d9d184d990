// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration file of a whole controlled point against the simulator: saved, read back,
// compared, restored (also into another block, and without the calibration); files that do
// not do, refused with their place; the dialog once through its controls.

#include "blocks/blockspage.h"
#include "blocks/kpconfigdialog.h"
#include "blocks/kpconfigview.h"
#include "simfixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>

using kpsim::BlockType;

namespace
{
// ts:1 and ts:3, a measurement block, a telecontrol block in interlock mode.
kpsim::Options Point()
{
    kpsim::Options o = SimFixture::withBlocks("ts:1,ts:3,tit:2,tu:3");
    o.setups << kpsim::BlockSetup{
        BlockType::Tu, 3, {{0, QByteArray::fromHex("0500")}}, {}, {}, false, false, {}, 0};
    return o;
}
} // namespace

class TestKpConfig : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    // Saved and read back whole; the controlled point holds what the file says; a parameter
    // changed in a block is exactly the one shown; restore puts it back, and leaves the
    // calibration alone unless asked.
    void savedComparedRestored()
    {
        SimFixture f(Point());
        QVERIFY(f.up());
        kpconfig::Service& s = f.core.KpConfig;
        const auto saved = s.Backup(f.core.Link.settings, "test");
        QVERIFY(saved && f.op.Messages.isEmpty());
        QString error;
        const auto file = kpconfig::Read(kpconfig::Write(*saved), &error);
        QVERIFY2(file, qPrintable(error));
        QCOMPARE(file->blocks.size(), 4);
        const kpconfig::Block& tu = file->blocks[3];
        QCOMPARE(tu.record, f.block(BlockType::Tu, 3).parameters().left(200));
        QCOMPARE(*tu.interlock, kpsim::SimBlock::DefaultInterlockLines(3));
        QCOMPARE(file->blocks[2].calibration->shown, (calib::Texts{"2048", "5000", "-5000", "5"}));
        QVERIFY(!file->blocks[0].calibration && !file->blocks[0].interlock);
        QCOMPARE(s.Compare(*file), QList<kpconfig::Difference>{});

        f.block(BlockType::Ts, 1).setParameterBytes(0, QByteArray::fromHex("4d00"));
        f.block(BlockType::Tit, 2).setCalibration({1, 81492, -81492, 5});
        const auto diff = s.Compare(*file);
        QCOMPARE(diff->size(), 2);
        QCOMPARE(diff->at(0),
                 (kpconfig::Difference{{1, 1}, "ts_cycle", "Время цикла ТС    (sec)", "60", "77"}));
        QCOMPARE(diff->at(1).key, "calibration.zero");

        const auto restored = s.Restore(*file, {});
        QVERIFY(restored && restored->Held());
        QCOMPARE(restored->written.size(), 4);
        QCOMPARE(f.block(BlockType::Ts, 1).parameters().left(2), QByteArray::fromHex("3c00"));
        QCOMPARE(f.block(BlockType::Tit, 2).calibration().zero, 1); // not asked for
        QCOMPARE(s.Compare(*file)->size(), 1);
        kpconfig::RestoreOptions withCalibration;
        withCalibration.calibration = true;
        QVERIFY(s.Restore(*file, withCalibration)->Held());
        QCOMPARE(f.block(BlockType::Tit, 2).calibration().zero, 2048);
        QCOMPARE(s.Compare(*file), QList<kpconfig::Difference>{});
    }

    // A replacement block at another address gets the old one's record; a block of another type
    // is refused with both named, before anything is sent.
    void intoAnotherBlock()
    {
        SimFixture f(Point());
        QVERIFY(f.up());
        kpconfig::Service& s = f.core.KpConfig;
        auto file = s.Backup(f.core.Link.settings, "test");
        file->blocks[0].values[0] = 123; // ts:1's cycle time, as if edited in the file
        f.requests.clear();
        QVERIFY(!s.Restore(*file, {{}, {{{1, 1}, {3, 3}}}}));
        QCOMPARE(f.op.Messages.last(),
                 "Восстановить из файла: Блок ts:1 из файла нельзя записать в блок tu:3: это "
                 "блок другого типа.");
        QVERIFY(f.requests.isEmpty());

        const auto result = s.Restore(*file, {{{1, 1}}, {{{1, 1}, {1, 3}}}});
        QVERIFY(result && result->Held());
        QCOMPARE(result->written, (QList<blocks::Ref>{{1, 3}}));
        QCOMPARE(f.block(BlockType::Ts, 3).parameters().left(80),
                 kpconfig::RecordToWrite(file->blocks[0]));
        QCOMPARE(f.block(BlockType::Ts, 1).service().configurationWrites, 0);
    }

    // What does not do is named with its place, and nothing is taken from such a file.
    void brokenFiles_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("error");
        QTest::newRow("not JSON") << QByteArray("\"blocks\": [") << QByteArray("\"blocks\" [")
                                  << "строка 15, столбец 15: после имени нет «:»";
        QTest::newRow("another format") << QByteArray("tavena-kp-config/1")
                                        << QByteArray("tavena-kp-config/2") << "format: это не";
        QTest::newRow("a key the type has not")
            << QByteArray("\"ts_cycle\": 60") << QByteArray("\"tit_cycle\": 60")
            << "blocks[0] (ts:1).values.tit_cycle: у блоков ts нет такого параметра";
        QTest::newRow("out of range")
            << QByteArray("\"ts_cycle\": 60") << QByteArray("\"ts_cycle\": 70000")
            << "blocks[0] (ts:1).values.ts_cycle: значение 70000 вне";
        QTest::newRow("record too short")
            << QByteArray("\"record\": \"3c00") << QByteArray("\"record\": \"")
            << "blocks[0] (ts:1).record: ожидается запись параметров "
               "из 80 байт";
    }
    void brokenFiles()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, error);
        kpconfig::File file;
        kpconfig::Block ts{{1, 1}, "v", QByteArray(80, '\0'), {}, {}, {}};
        ts.values =
            params::Decode(0xC4, {reinterpret_cast<const uint8_t*>(ts.record.constData()), 80});
        ts.values[0] = 60;
        ts.record[0] = char(0x3c);
        file.blocks << ts;
        QByteArray text = kpconfig::Write(file);
        QVERIFY(text.contains(from));
        text.replace(from, to);
        QString got;
        QVERIFY(!kpconfig::Read(text, &got));
        QVERIFY2(got.startsWith(error), qPrintable(got));
    }

    // The dialog through its controls: ts:1 ticked alone, written into ts:3 chosen in the list
    // of telesignal blocks.
    void restoreThroughTheDialog()
    {
        SimFixture f(Point());
        QVERIFY(f.up());
        QTemporaryDir dir;
        const QString path = dir.filePath("kp.json");
        BlocksPage page(f.core.Blocks, f.core.Editor);
        KpConfigView view(f.core.KpConfig, f.core.Link.settings, page);
        f.core.Blocks.SetOperator(&f.op);
        view.SaveDialog = [&] { return path; };
        view.OpenDialog = [&] { return path; };
        view.SaveKpConfig->trigger();
        QCOMPARE(f.op.Messages.size(), 1); // saved, with the count of blocks
        f.block(BlockType::Ts, 1).setParameterBytes(0, QByteArray::fromHex("4d00"));
        QStringList shown;
        int targets = 0;
        bool calibration = true;
        view.RunDialog = [&](KpConfigDialog& d) {
            for (int r = 0; r < d.Differences->rowCount(); ++r)
                shown << d.Differences->item(r, 0)->text() + d.Differences->item(r, 2)->text();
            for (int r = 1; r < d.RestoreBlocks->count(); ++r)
                d.RestoreBlocks->item(r)->setCheckState(Qt::Unchecked);
            d.RestoreBlocks->setCurrentRow(0);
            targets = d.RestoreTarget->count();
            d.RestoreTarget->setCurrentIndex(1);
            emit d.RestoreTarget->activated(1);
            calibration = d.RestoreCalibration->isChecked();
            return true;
        };
        view.RestoreKpConfig->trigger();
        QCOMPARE(targets, 2);  // ts:1 and ts:3, never another type
        QVERIFY(!calibration); // only when asked for
        QCOMPARE(shown.first(), "≠Время цикла ТС    (sec)");
        QCOMPARE(f.block(BlockType::Ts, 3).parameters().left(2), QByteArray::fromHex("3c00"));
        QCOMPARE(f.block(BlockType::Ts, 1).parameters().left(2), QByteArray::fromHex("4d00"));
        QCOMPARE(f.op.Messages.last(), "Восстановить из файла: Записаны: ts:3.");
    }
};

QTEST_MAIN(TestKpConfig)
#include "tst_kpconfig.moc"
