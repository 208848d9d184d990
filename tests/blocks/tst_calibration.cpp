// SPDX-License-Identifier: GPL-3.0-or-later
// Calibration of a measurement block's converter: the conversions and the record's bytes, the
// read and the write request by request with their failures, a round trip through a simulated
// block, and the panel over the grid.

#include "blocks/blockfixture.h"
#include "blocks/blockspage.h"
#include "blocks/calibration.h"
#include "blocks/calibrationpanel.h"
#include "blocks/simfixture.h"
#include "support/convert.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTableView>
#include <QToolButton>

namespace
{
QByteArray hex(const char* h)
{
    return QByteArray::fromHex(h);
}
QByteArray bytes(const calib::Record& r)
{
    return QByteArray(reinterpret_cast<const char*>(r.data()), qsizetype(r.size()));
}
calib::Texts decode(const QByteArray& read)
{
    return calib::Decode(
        std::span<const uint8_t, 16>(reinterpret_cast<const uint8_t*>(read.constData()), 16));
}

// The 16 bytes read of a record: zero 2048, maximum 5000, minimum -5000, zone 5.
const QByteArray Record16 = hex("0008543e0100acc1feff050020202020");
const calib::Texts Shown{"2048", "5000", "-5000", "5"};

const QString PointerSet = "00070019c81802070200fc";
const QString MemoryRead = "00050019c818020600";
const QString PageErase = "00050019c818020900";

// A measurement block at address 2 whose calibration record reads Record16.
struct CalBench : BlockBench {
    AdcCalibration cal{link, blocks};
    int reads = 0;
    CalBench() : BlockBench(0xC8, 2)
    {
        block = [this](const QByteArray& r) -> std::optional<QByteArray> {
            return Sub(r) == 0x06 ? Record16.mid(8 * reads++, 8) : QByteArray(8, '\0');
        };
    }
    // Silent from the nth request (from 1) on to every request with its sub-function.
    void silentFrom(int nth)
    {
        block = [this, nth, answer = block](const QByteArray& r) -> std::optional<QByteArray> {
            if (requests.size() >= nth && Sub(r) == Sub(requests[nth - 1].mid(4)))
                return std::nullopt;
            return answer(r);
        };
    }
};
} // namespace

class TestCalibration : public QObject
{
    Q_OBJECT

private slots:
    // An entered maximum, the raw value stored for it and what the panel shows read back.
    void conversions_data()
    {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("5000 is 81492") << "5000" << hex("543e0100") << "5000";
        QTest::newRow("20000 is 20373") << "20000" << hex("954f0000") << "20000";
        QTest::newRow("negative, two's complement") << "-5000" << hex("acc1feff") << "-5000";
        // 5000 / 64 x 81492 = 6366562.5 exactly, 5000 / 192 x 81492 = 2122187.5 exactly.
        QTest::newRow("halfway down to even") << "64" << hex("62256100") << "64";
        QTest::newRow("halfway up to even") << "192" << hex("cc612000") << "192";
    }
    void conversions()
    {
        QFETCH(QString, entered);
        QFETCH(QByteArray, stored);
        QFETCH(QString, shown);
        const auto record = calib::Encode({"0", entered, "1", "0"}, nullptr);
        QVERIFY(record);
        QCOMPARE(bytes(*record).mid(2, 4), stored);
        QCOMPARE(decode(bytes(*record).left(16)).maximum, shown);
    }

    // The zero value and the zone: the low byte of V, the low byte of V / 256 truncated.
    void sixteenBitFields_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("2048") << "2048" << hex("0008");
        QTest::newRow("70000") << "70000" << hex("7011");
        QTest::newRow("-300") << "-300" << hex("d4ff");
    }
    void sixteenBitFields()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, stored);
        const auto record = calib::Encode({value, "5000", "5000", value}, nullptr);
        QVERIFY(record);
        QCOMPARE(bytes(*record).left(2), stored);
        QCOMPARE(bytes(*record).mid(10, 2), stored);
    }

    void rawZeroReadShowsItDoesNotConvert()
    {
        const calib::Texts t = decode(hex("010000000000543e0100020020202020"));
        QCOMPARE(t, (calib::Texts{"1", calib::RawZeroText(), "5000", "2"}));
    }

    // Pointer set, two reads: the 16 bytes that decode into the panel's fields.
    void readSendsThePointerAndTwoReads()
    {
        CalBench b;
        const auto read = b.cal.Read(b.target);
        QCOMPARE(b.hexRequests(), QStringList({PointerSet, MemoryRead, MemoryRead}));
        QVERIFY(read && b.op.Messages.isEmpty());
        QCOMPARE(decode(*read), Shown);
    }

    // A record not read whole gives nothing, and says so; a Retry sets the pointer again and
    // reads the record from its start, since the block may have advanced its pointer before
    // its reply was lost.
    void unreadRecordAndRetry_data()
    {
        QTest::addColumn<int>("silentFrom");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("messages");
        const QString noAnswer = "Считывание: Нет ответа от блока!";
        const QString notRead = "Считывание: Калибровка блока tit:2 не считана.";
        QTest::newRow("pointer set unanswered")
            << 1 << 0 << QStringList{PointerSet} << QStringList{notRead};
        QTest::newRow("cancel after the first read")
            << 3 << 0 << QStringList{PointerSet, MemoryRead, MemoryRead}
            << QStringList{noAnswer, notRead};
        QTest::newRow("retry starts over from the pointer")
            << 3 << 1
            << QStringList{PointerSet, MemoryRead, MemoryRead, PointerSet, MemoryRead, MemoryRead}
            << QStringList{noAnswer};
    }
    void unreadRecordAndRetry()
    {
        QFETCH(int, silentFrom);
        QFETCH(int, retries);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, messages);
        CalBench b;
        b.op = PolicyOperator(retries);
        int lost = 0; // the lost read's reply; the block's pointer has moved on all the same
        const auto answer = b.block;
        b.block = [&](const QByteArray& r) -> std::optional<QByteArray> {
            if (b.requests.size() == silentFrom && lost++ == 0) {
                if (BlockBench::Sub(r) == 0x06)
                    ++b.reads;
                return std::nullopt;
            }
            if (BlockBench::Sub(r) == 0x07)
                b.reads = 0;
            return answer(r);
        };
        const auto read = b.cal.Read(b.target);
        QCOMPARE(b.hexRequests(), sent);
        QCOMPARE(b.op.Messages, messages);
        QCOMPARE(read.has_value(), retries > 0);
        if (read)
            QCOMPARE(decode(*read), Shown);
    }

    void writeSendsTheRecord()
    {
        CalBench b;
        QVERIFY(b.cal.Write(b.target, {"2048", "20000", "-5000", "5"}));
        QCOMPARE(b.hexRequests(),
                 QStringList({PointerSet, PageErase, "000d0019c8180205080008954f0000acc1",
                              "000d0019c818020508feff050020202020",
                              "000d0019c8180205082020202020202020"}));
        QVERIFY(b.op.Messages.isEmpty());
    }

    // An unanswered pointer set is reported like the other write failures; the erase's
    // outcome does not matter.
    void writeFailures_data()
    {
        QTest::addColumn<int>("silentFrom");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QStringList>("messages");
        const QStringList failed{"Запись конфигурации: Нет ответа от блока! Повторите!"};
        QTest::newRow("pointer set") << 1 << 1 << failed;
        QTest::newRow("erase") << 2 << 5 << QStringList();
        QTest::newRow("second write") << 4 << 4 << failed;
    }
    void writeFailures()
    {
        QFETCH(int, silentFrom);
        QFETCH(int, sent);
        QFETCH(QStringList, messages);
        CalBench b;
        b.silentFrom(silentFrom);
        QCOMPARE(b.cal.Write(b.target, Shown), messages.isEmpty());
        QCOMPARE(b.requests.size(), sent);
        QCOMPARE(b.op.Messages, messages);
    }

    // Refused before anything is sent: a text that does not convert (named with its field), a
    // value without a raw value, a block that is no measurement block.
    void refusedEntriesSendNothing_data()
    {
        QTest::addColumn<calib::Texts>("fields");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("message");
        QTest::newRow("not an integer")
            << calib::Texts{"2048", calib::RawZeroText(), "1", "5"} << 2
            << "Ошибка ввода: Значение Максимума: «" + calib::RawZeroText() + "» — не целое число.";
        QTest::newRow("maximum 0") << calib::Texts{"2048", "0", "-5000", "5"} << 2
                                   << "Ошибка ввода: Значение Максимума: значение 0 нельзя "
                                      "пересчитать в код АЦП";
        QTest::newRow("minimum too large for a raw value")
            << calib::Texts{"2048", "5000", "900000000", "5"} << 2
            << "Ошибка ввода: Значение Минимума: значение 900000000 нельзя пересчитать в код АЦП";
        QTest::newRow("a telecontrol block") << Shown << 3
                                             << "Калибровка АЦП: Калибровка есть только у "
                                                "блоков ТИТ, а не у блока tu:2.";
    }
    void refusedEntriesSendNothing()
    {
        QFETCH(calib::Texts, fields);
        QFETCH(int, slot);
        QFETCH(QString, message);
        CalBench b;
        QVERIFY(!b.cal.Write({slot, 2}, fields));
        QCOMPARE(b.op.Messages, QStringList{message});
        QTest::qWait(20);
        QVERIFY(b.requests.isEmpty());
    }

    // Through the window against the simulator: the panel over the grid, reachable by keyboard
    // and by the accessibility layer; it writes only into the block it was read from, closes
    // when another block is selected or a discovery starts, and stays closed when the record
    // could not be read.
    void panelThroughTheWindow()
    {
        SimFixture f("ts:0,tit:2,tu:3");
        f.core.Link.settings.Timeout = QStringLiteral("30");
        BlocksPage page(f.core.Blocks, f.core.Editor);
        page.AttachCalibration(f.core.Calibration);
        page.resize(780, 900);
        page.show();
        QVERIFY(f.up());
        f.core.Blocks.SetOperator(&f.op);
        f.core.Blocks.Discover(BlockService::Scope::Announced);
        CalibrationPanel* panel = page.Panel5;
        QCOMPARE(panel->parentWidget(), page.GroupBox2);
        page.bloks->setCurrentIndex(page.bloks->model()->index(1, 0)); // tit:2
        page.Panel6->setFocus();
        QTest::keyClick(page.Panel6, Qt::Key_Return);
        QVERIFY(panel->isVisible() && panel->LabeledEdit2->hasFocus());
        QCOMPARE(panel->LabeledEdit3->text(), "5000"); // the simulator's default

        // What a screen reader finds: the four fields by their labels and both buttons.
        QAccessibleInterface* group = QAccessible::queryAccessibleInterface(page.GroupBox2);
        QAccessibleInterface* frame = nullptr;
        for (int i = 0; group && i < group->childCount(); ++i)
            if (group->child(i)->object() == panel)
                frame = group->child(i);
        QVERIFY(frame);
        QStringList found;
        for (int j = 0; j < frame->childCount(); ++j)
            if (frame->child(j)->role() != QAccessible::StaticText)
                found << frame->child(j)->text(QAccessible::Name);
        QCOMPARE(found, QStringList({"Значение \"Нуля\"", "Значение Максимума", "Значение Минимума",
                                     "Зона \"Нуля\"", "Записать", "Выход"}));

        QTest::keyClicks(panel->LabeledEdit3, "0"); // 50000
        panel->SpeedButton1->click();
        QCOMPARE(f.block(kpsim::BlockType::Tit, 2).calibration().maximum,
                 8149);                                                // 5000/50000 x 81492
        page.bloks->setCurrentIndex(page.bloks->model()->index(2, 0)); // tu:3
        QVERIFY(panel->isHidden());
        QVERIFY(!page.Panel6->isVisible());
        QCOMPARE(f.block(kpsim::BlockType::Tu, 3).memoryBytes(0xFC00, 2), QByteArray(2, '\0'));

        // A record that cannot be read leaves the panel closed: no other block's values.
        page.bloks->setCurrentIndex(page.bloks->model()->index(1, 0));
        f.block(kpsim::BlockType::Tit, 2).faults.silentTo.set(0x06);
        panel->Panel6DblClick();
        QVERIFY(panel->isHidden());
        QCOMPARE(f.op.Messages.last(), "Считывание: Калибровка блока tit:2 не считана.");
        f.block(kpsim::BlockType::Tit, 2).faults.silentTo.reset(0x06);
        panel->Panel6DblClick();
        QVERIFY(panel->isVisible());
        f.core.Blocks.Discover(BlockService::Scope::All);
        QVERIFY(panel->isHidden());
    }
};

QTEST_MAIN(TestCalibration)
#include "tst_calibration.moc"
