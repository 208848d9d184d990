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

#include <QLabel>
#include <QLineEdit>
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

    // Pointer set, two reads, the fields filled and the panel open; a second double click and
    // "Выход" (the same action) close it without any exchange.
    void openReadsTheRecordAndClosesWithoutExchange()
    {
        CalBench b;
        b.cal.Panel6DblClick();
        QCOMPARE(b.hexRequests(), QStringList({PointerSet, MemoryRead, MemoryRead}));
        QCOMPARE(b.cal.Fields, Shown);
        QVERIFY(b.cal.Panel5Visible && b.op.Messages.isEmpty());
        b.cal.Panel6DblClick();
        QVERIFY(!b.cal.Panel5Visible);
        QCOMPARE(b.requests.size(), 3);
    }

    // A record not read whole leaves the fields as they were and says so; the panel opens.
    void unreadRecordKeepsTheFields_data()
    {
        QTest::addColumn<int>("silentFrom");
        QTest::addColumn<QStringList>("messages");
        const QString notRead =
            "Считывание: Калибровка не считана из блока, значения на панели не изменены.";
        QTest::newRow("pointer set unanswered") << 1 << QStringList{notRead};
        QTest::newRow("cancel after the first read")
            << 3 << QStringList{"Считывание: Нет ответа от блока!", notRead};
    }
    void unreadRecordKeepsTheFields()
    {
        QFETCH(int, silentFrom);
        QFETCH(QStringList, messages);
        CalBench b;
        b.silentFrom(silentFrom);
        b.cal.Fields = {"1", "2", "3", "4"};
        b.cal.Panel6DblClick();
        QCOMPARE(b.cal.Fields, (calib::Texts{"1", "2", "3", "4"}));
        QCOMPARE(b.op.Messages, messages);
        QVERIFY(b.cal.Panel5Visible);
    }

    void writeSendsTheRecord()
    {
        CalBench b;
        b.cal.Fields = {"2048", "20000", "-5000", "5"};
        b.cal.SpeedButton1Click();
        QCOMPARE(b.hexRequests(),
                 QStringList({PointerSet, PageErase, "000d0019c8180205080008954f0000acc1",
                              "000d0019c818020508feff050020202020",
                              "000d0019c8180205082020202020202020"}));
        QVERIFY(b.op.Messages.isEmpty());
    }

    // An unanswered pointer set is reported like the other write failures (it used to stop
    // without a word); the erase's outcome does not matter.
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
        b.cal.Fields = Shown;
        b.cal.SpeedButton1Click();
        QCOMPARE(b.requests.size(), sent);
        QCOMPARE(b.op.Messages, messages);
    }

    void refusedEntriesSendNothing_data()
    {
        QTest::addColumn<calib::Texts>("fields");
        QTest::addColumn<QString>("message");
        QTest::newRow("not an integer") << calib::Texts{"2048", calib::RawZeroText(), "1", "5"}
                                        << ": " + IntConversionError(calib::RawZeroText());
        QTest::newRow("maximum 0")
            << calib::Texts{"2048", "0", "-5000", "5"}
            << ": Значение Максимума: значение 0 нельзя пересчитать в код АЦП";
        QTest::newRow("minimum too large for a raw value")
            << calib::Texts{"2048", "5000", "900000000", "5"}
            << ": Значение Минимума: значение 900000000 нельзя пересчитать в код АЦП";
    }
    void refusedEntriesSendNothing()
    {
        QFETCH(calib::Texts, fields);
        QFETCH(QString, message);
        CalBench b;
        b.cal.Fields = fields;
        b.cal.SpeedButton1Click();
        QCOMPARE(b.op.Messages, QStringList{message});
        QTest::qWait(20);
        QVERIFY(b.requests.isEmpty());
    }

    // Selecting another block does not close the panel; after a discovery (no block selected)
    // neither Panel6 nor "Выход" closes it, and "Записать" has no block to write to.
    void panelOutlivesTheSelection()
    {
        CalBench b;
        b.cal.Panel6DblClick();
        b.blocks.SelectedBlockFunction = 0xC4;
        QVERIFY(b.cal.Panel5Visible);
        b.blocks.SelectedBlockFunction = 0;
        b.cal.Panel6DblClick();
        b.cal.SpeedButton1Click();
        QVERIFY(b.cal.Panel5Visible);
        QTest::qWait(20);
        QCOMPARE(b.requests.size(), 3);
    }

    // What is written is read back as entered, from a simulated block found by discovery.
    void writtenAndReadBackThroughABlock()
    {
        SimFixture f("ts:0,tit:2");
        QVERIFY(f.up());
        f.core.Blocks.QScanClick();
        f.core.Blocks.bloksClick(1);
        AdcCalibration& cal = f.core.Calibration;
        cal.Panel6DblClick();
        QCOMPARE(cal.Fields, Shown); // the simulator's defaults
        cal.Fields = {"1000", "20000", "-20000", "7"};
        cal.SpeedButton1Click();
        const kpsim::SimBlock& block = f.block(kpsim::BlockType::Tit, 2);
        QCOMPARE(block.calibration().maximum, 20373);
        QCOMPARE(block.memoryBytes(0xFC00 + 12, 12), QByteArray(12, ' '));
        cal.Panel6DblClick();
        cal.Fields = {};
        cal.Panel6DblClick();
        QCOMPARE(cal.Fields, (calib::Texts{"1000", "20000", "-20000", "7"}));
        QVERIFY(f.op.Messages.isEmpty());
    }

    // The panel over the grid, opened by keyboard on Panel6; labels are the edits' buddies.
    void panelOverTheGrid()
    {
        CalBench b;
        BlocksPage page(b.blocks);
        page.AttachCalibration(b.cal);
        b.blocks.SetOperator(&b.op);
        page.show();
        CalibrationPanel* panel = page.Panel5;
        QVERIFY(panel->parentWidget() == page.ConfigBl && panel->isHidden());
        for (const char* name : {"LabeledEdit2", "LabeledEdit3", "LabeledEdit4", "LabeledEdit5"})
            QCOMPARE(panel->findChild<QLabel*>(QString(name) + "Label")->buddy(),
                     panel->findChild<QLineEdit*>(name));
        page.Panel6->setFocus();
        QTest::keyClick(page.Panel6, Qt::Key_Return);
        QVERIFY(panel->isVisible() && panel->LabeledEdit2->hasFocus());
        QTest::keyClicks(panel->LabeledEdit3, "0"); // 50000
        panel->SpeedButton1->click();
        QCOMPARE(b.requests[5].mid(11, 4), hex("d51f0000")); // 8149 = 5000 / 50000 x 81492
        panel->SpeedButton3->click();
        QVERIFY(panel->isHidden());
        QCOMPARE(b.requests.size(), 8);
    }
};

QTEST_MAIN(TestCalibration)
#include "tst_calibration.moc"
