// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware and loader programming against the simulated controlled point on loopback: every
// request of a run byte by byte and in order, the progress bar's values, the ticks, what the
// blocks run afterwards, and the runs that stop at a missing reply.

#include "blocks/simfixture.h"
#include "sampleimage.h"

#include <QTemporaryDir>

using kpsim::BlockType;
using Step = std::array<int, 3>; // the progress bar's minimum, maximum, position

namespace
{

constexpr int FirmwareFrom = 0x2000, FirmwareBytes = 24000;
constexpr int LoaderFrom = 0xEA00, LoaderBytes = 512;

QByteArray Hex(const char* hex)
{
    return QByteArray::fromHex(hex);
}

// A request to block F at address A as the tables give it, in hex with the channel and number
// blank: header 00 len 00 19, then the record F 18 A, its sub-function, DLC and data.
QString Request(uint8_t f, uint8_t a, const QByteArray& tail)
{
    QByteArray d = Hex("00000019") + char(f) + char(0x18) + char(a) + tail;
    d[1] = char(3 + tail.size());
    return QString::fromLatin1(d.toHex());
}
const QString StartNotice = "000500190118800500";
const QString EndNotice = "000500190118800400";

// The requests that program one block with an area of the image.
QStringList BlockRequests(uint8_t f, uint8_t a, const QByteArray& image, int from, int size,
                          const char* pointer, const char* completion)
{
    QStringList r{Request(f, a, Hex("080100")), Request(f, a, Hex("0702") + Hex(pointer))};
    for (int n = 0; n < size; n += 8) {
        if (n % 512 == 0)
            r << Request(f, a, Hex("0900"));
        r << Request(f, a, Hex("0508") + image.mid(from + n, 8));
    }
    return r << Request(f, a, Hex(completion));
}
QStringList FirmwareRequests(uint8_t f, uint8_t a, const QByteArray& image)
{
    return BlockRequests(f, a, image, FirmwareFrom, FirmwareBytes, "0080", "0a00");
}
QStringList LoaderRequests(uint8_t f, uint8_t a, const QByteArray& image)
{
    return BlockRequests(f, a, image, LoaderFrom, LoaderBytes, "00ea", "0300");
}

// The progress of one block: the range set at its start, each byte, the position at its end.
QList<Step> BlockProgress(int from, int size, int idle)
{
    QList<Step> p{{from, from + size, from}};
    for (int n = 1; n <= size; ++n)
        p.append({from, from + size, from + n});
    p.append({from, from + size, idle});
    return p;
}

// The simulator with the image loaded and the blocks found: those that run another version are
// ticked.
struct Bench : SimFixture {
    QTemporaryDir dir;
    QByteArray image = kpsim::image::SampleImage("V2.00");

    explicit Bench(const char* blocks) : SimFixture(blocks) {}

    bool ready()
    {
        const QString path = dir.filePath("image.rom");
        QFile f(path);
        if (!up() || !f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
            return false;
        f.close();
        if (!core.Image.Load(path))
            return false;
        core.Blocks.Discover(BlockService::Scope::Announced);
        requests.clear();
        op.progress.clear();
        op.busy.clear();
        return true;
    }

    int line(int slot, int address) const { return core.Blocks.TableEntry(slot, address).line; }
    // "Перепрограммировать" and "Перезапись загрузчика": the ticked blocks.
    firmware::Outcome firmware()
    {
        return core.Firmware.Program(firmware::FirmwareProgramming::Firmware,
                                     core.Firmware.Ticked());
    }
    firmware::Outcome loader()
    {
        return core.Firmware.Program(firmware::FirmwareProgramming::Loader, core.Firmware.Ticked());
    }
    bool ticked(int slot, int address) const
    {
        return core.Blocks.bloks.ticked(line(slot, address));
    }
};

} // namespace

class TestProgramming : public QObject
{
    Q_OBJECT

private slots:
    // ts:1 and tu:3 run other versions and are ticked; tit:2 runs the image's and is not.
    void firmwareProgramsTheTickedBlocksInOrder()
    {
        Bench b("tu:3,tit:2,ts:1");
        b.block(BlockType::Tit, 2).setVersionText("V2.00");
        QVERIFY(b.ready());
        QVERIFY(b.ticked(1, 1) && b.ticked(3, 3) && !b.ticked(2, 2));

        b.firmware();

        const QStringList ts = FirmwareRequests(0xC4, 1, b.image);
        QCOMPARE(b.requestHex(), QStringList{StartNotice} + ts +
                                     FirmwareRequests(0xC2, 3, b.image) + QStringList{EndNotice});
        // 3,050 requests a block; 47 erases, the last before offset 0x7C00, whose page is
        // written in part (56 writes).
        QCOMPARE(ts.size(), 3050);
        QCOMPARE(ts.count(Request(0xC4, 1, Hex("0900"))), 47);
        QCOMPARE(ts.size() - 2 - ts.lastIndexOf(Request(0xC4, 1, Hex("0900"))), 56);

        QVERIFY(!b.ticked(1, 1) && !b.ticked(3, 3));
        QCOMPARE(b.core.Blocks.bloks.active(), -1); // no line marked once all are done
        QCOMPARE(b.op.progress, BlockProgress(0x2000, FirmwareBytes, 2000) +
                                    BlockProgress(0x2000, FirmwareBytes, 2000));
        QCOMPARE(b.op.busy, (QList<bool>{true, false}));
        QVERIFY(b.op.Messages.isEmpty());
        QVERIFY(!b.core.Firmware.Running());

        // The blocks run the image now: a second discovery ticks nothing.
        QCOMPARE(b.block(BlockType::Tu, 3).firmware(), b.image.mid(FirmwareFrom, FirmwareBytes));
        b.core.Blocks.Discover(BlockService::Scope::Announced);
        for (int line = 0; line < b.core.Blocks.bloks.count(); ++line)
            QVERIFY2(!b.core.Blocks.bloks.ticked(line), qPrintable(b.core.Blocks.bloks.line(line)));
    }

    void loaderProgramsTheTickedBlocks()
    {
        Bench b("tit:0,ts:7");
        b.block(BlockType::Ts, 7).setVersionText("V2.00");
        QVERIFY(b.ready());
        b.core.Blocks.SetTicked(b.line(1, 7), true); // by hand

        b.loader();

        const QStringList ts = LoaderRequests(0xC4, 7, b.image);
        QCOMPARE(ts.size(), 68);
        QCOMPARE(b.requestHex(), ts + LoaderRequests(0xC8, 0, b.image));
        QCOMPARE(b.block(BlockType::Ts, 7).loader(), b.image.mid(LoaderFrom, LoaderBytes));
        QVERIFY(!b.ticked(1, 7) && !b.ticked(2, 0));
        const QList<Step> reset{{1, 100, 1}};
        QCOMPARE(b.op.progress, BlockProgress(0xEA00, LoaderBytes, 0xEA00) +
                                    BlockProgress(0xEA00, LoaderBytes, 0xEA00) + reset);
        QVERIFY(b.op.busy.isEmpty());
    }

    void noTickedBlock_data()
    {
        QTest::addColumn<bool>("loader");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QList<Step>>("progress");
        QTest::addColumn<QList<bool>>("busy");
        QTest::newRow("firmware: the notices only")
            << false << QStringList{StartNotice, EndNotice} << QList<Step>{} << QList{true, false};
        QTest::newRow("loader: the progress bar reset")
            << true << QStringList{} << QList<Step>{{1, 100, 1}} << QList<bool>{};
    }
    void noTickedBlock()
    {
        QFETCH(bool, loader);
        QFETCH(QStringList, requests);
        QFETCH(QList<Step>, progress);
        QFETCH(QList<bool>, busy);
        Bench b("ts:0");
        b.block(BlockType::Ts, 0).setVersionText("V2.00");
        QVERIFY(b.ready());
        loader ? b.loader() : b.firmware();
        QCOMPARE(b.requestHex(), requests);
        QCOMPARE(b.op.progress, progress);
        QCOMPARE(b.op.busy, busy);
    }

    void aRunWaitsForTheOperationInProgress()
    {
        Bench b("ts:0");
        QVERIFY(b.ready());
        QSignalSpy refused(&b.core.Link.Operations, &OperationGuard::refused);
        const auto other = b.core.Link.Operations.Begin(QStringLiteral("поиск блоков"));
        b.firmware();
        b.loader();
        QCOMPARE(refused.size(), 2);
        QVERIFY(b.requests.isEmpty());
        QVERIFY(b.ticked(1, 0));
    }

    // The n-th request with the sub-function goes unanswered: the stage named, the run over.
    void missingReplyEndsTheRun_data()
    {
        QTest::addColumn<bool>("loader");
        QTest::addColumn<int>("sub");
        QTest::addColumn<int>("nth");
        QTest::addColumn<QString>("caption");
        QTest::newRow("firmware prepare") << false << 0x08 << 1 << "Подготовка";
        QTest::newRow("firmware pointer set") << false << 0x07 << 1 << "Установка адреса";
        QTest::newRow("firmware 3rd erase") << false << 0x09 << 3 << "Стирание";
        QTest::newRow("firmware 100th write") << false << 0x05 << 100 << "Передача кода";
        QTest::newRow("loader prepare") << true << 0x08 << 1 << "Передача кода";
        QTest::newRow("loader pointer set") << true << 0x07 << 1 << "Установка адреса";
        QTest::newRow("loader erase") << true << 0x09 << 1 << "Стирание";
        QTest::newRow("loader 64th write") << true << 0x05 << 64 << "Передача кода";
    }
    void missingReplyEndsTheRun()
    {
        QFETCH(bool, loader);
        QFETCH(int, sub);
        QFETCH(int, nth);
        QFETCH(QString, caption);
        Bench b("ts:0");
        QVERIFY(b.ready());
        b.block(BlockType::Ts, 0).faults.silentAt.push_back({uint8_t(sub), nth});

        loader ? b.loader() : b.firmware();

        QCOMPARE(b.op.Messages, QStringList{caption + ": Нет ответа от блока!"});
        // Nothing follows the unanswered request but the end notice of a firmware run.
        const QStringList sent = b.requestHex();
        QCOMPARE(sent.last() == EndNotice, !loader);
        QCOMPARE(sent[sent.size() - (loader ? 1 : 2)].mid(14, 2).toInt(nullptr, 16), sub);
        QVERIFY(b.ticked(1, 0));
        QCOMPARE(b.op.busy, (loader ? QList<bool>{} : QList{true, false}));
        // The loader leaves the bar where the failure found it: 7 bytes into the chunk.
        if (loader && sub == 0x05)
            QCOMPARE(b.op.progress.last(), (Step{0xEA00, 0xEC00, 0xEA00 + 8 * nth - 1}));
        QVERIFY(!b.core.Link.Operations.Busy());
    }

    // Three ticked blocks; the second does not answer its 100th write.
    void failureInTheSecondOfThreeBlocks()
    {
        Bench b("ts:0,ts:4,tu:1");
        QVERIFY(b.ready());
        b.block(BlockType::Ts, 4).faults.silentAt.push_back({0x05, 100});

        b.firmware();

        QVERIFY(!b.ticked(1, 0));
        QVERIFY(b.ticked(1, 4) && b.ticked(3, 1));
        QCOMPARE(b.core.Blocks.bloks.active(), b.line(1, 4));
        QCOMPARE(b.op.Messages, QStringList{"Передача кода: Нет ответа от блока!"});
        // The second block: prepare, pointer set, two erases and the 100 writes.
        const QStringList second = FirmwareRequests(0xC4, 4, b.image).mid(0, 104);
        QCOMPARE(b.requestHex(), QStringList{StartNotice} + FirmwareRequests(0xC4, 0, b.image) +
                                     second + QStringList{EndNotice});
        QCOMPARE(b.op.busy, (QList<bool>{true, false}));
    }

    // The adapter's receipt of the 99th memory write is lost: the block took that write and
    // takes the copy sent again, so all it holds after lies 8 bytes late, and its second reply
    // could release the next wait early. The block answers to the run as usual, but it is not
    // reported done: it keeps its tick and the engineer is told to program it again. The next
    // block is programmed exactly as always.
    void lostReceiptLeavesTheBlockToProgramAgain()
    {
        Bench b("ts:0,ts:1");
        QVERIFY(b.ready());
        b.sim.faults().dropReceiptAt.push_back({0x05, 99});

        const firmware::Outcome outcome = b.firmware();

        QCOMPARE(outcome.doubtful, (QList<blocks::Ref>{{1, 0}}));
        QCOMPARE(outcome.done, (QList<blocks::Ref>{{1, 1}}));
        QVERIFY(b.ticked(1, 0) && !b.ticked(1, 1));
        QCOMPARE(b.op.Messages.size(), 1);
        QVERIFY(b.op.Messages[0].startsWith("Перепрограммировать: Адаптер не подтвердил запрос к "
                                            "блокам ts:0"));
        QVERIFY(b.block(BlockType::Ts, 0).firmware() != b.image.mid(FirmwareFrom, FirmwareBytes));
        QCOMPARE(b.block(BlockType::Ts, 1).firmware(), b.image.mid(FirmwareFrom, FirmwareBytes));
        const QStringList sent = b.requestHex();
        const QStringList ts1 = FirmwareRequests(0xC4, 1, b.image);
        QCOMPARE(sent.mid(sent.size() - 1 - ts1.size(), ts1.size()), ts1);
    }
};

QTEST_GUILESS_MAIN(TestProgramming)
#include "tst_programming.moc"
