// Firmware and loader programming against the simulated controlled point on loopback: every
// request of a run byte by byte and in order, the progress bar's values, the ticks, and the
// runs that stop at a missing reply.

#include "app/programcore.h"
#include "kpsim.h"
#include "support/operatorio.h"

#include <QTemporaryDir>
#include <QtTest>
#include <tuple>

using kpsim::BlockType;

namespace
{

constexpr int FirmwareFrom = 0x2000, FirmwareBytes = 24000;
constexpr int LoaderFrom = 0xEA00, LoaderBytes = 512;

// A complete image: a pattern that shows a byte out of place, and a version text at 0x2080.
QByteArray Image(const QByteArray& version)
{
    QByteArray image(0xEC00, '\0');
    for (int p = 0; p < image.size(); ++p)
        image[p] = char((p * 7 + (p >> 8)) & 0xFF);
    QByteArray area = version;
    area.append(49 - area.size(), char(0xFF));
    image.replace(0x2080, area.size(), area);
    return image;
}

QByteArray Hex(const char* hex)
{
    return QByteArray::fromHex(hex);
}

// The datagram of a request to block F at address A, as the tables give it: header, then the
// record F 18 A sub, the DLC and the data.
QByteArray Request(uint8_t f, uint8_t a, const QByteArray& tail)
{
    QByteArray d = Hex("00000019");
    d[1] = char(3 + tail.size());
    d += char(f);
    d += char(0x18);
    d += char(a);
    return d + tail;
}

// The requests that program one block with an area of the image.
QList<QByteArray> BlockRequests(uint8_t f, uint8_t a, const QByteArray& image, int from, int size,
                                const char* pointer, const char* completion)
{
    QList<QByteArray> r{Request(f, a, Hex("080100")), Request(f, a, Hex("0702") + Hex(pointer))};
    for (int n = 0; n < size; n += 8) {
        if (n % 512 == 0)
            r << Request(f, a, Hex("0900"));
        r << Request(f, a, Hex("0508") + image.mid(from + n, 8));
    }
    r << Request(f, a, Hex(completion));
    return r;
}
QList<QByteArray> FirmwareRequests(uint8_t f, uint8_t a, const QByteArray& image)
{
    return BlockRequests(f, a, image, FirmwareFrom, FirmwareBytes, "0080", "0a00");
}
QList<QByteArray> LoaderRequests(uint8_t f, uint8_t a, const QByteArray& image)
{
    return BlockRequests(f, a, image, LoaderFrom, LoaderBytes, "00ea", "0300");
}
const QByteArray StartNotice = Hex("0005001901188005"
                                   "00");
const QByteArray EndNotice = Hex("0005001901188004"
                                 "00");

using Step = std::tuple<int, int, int>; // minimum, maximum, position

// Answers by policy and keeps every progress setting and wait panel change.
struct RecordingOperator : PolicyOperator {
    QList<Step> progress;
    QList<bool> busy;
    void Progress(int minimum, int maximum, int position) override
    {
        PolicyOperator::Progress(minimum, maximum, position);
        progress << Step{minimum, maximum, position};
    }
    void Busy(bool on) override
    {
        PolicyOperator::Busy(on);
        busy << on;
    }
};

// The progress of one block: the range set at the start, each byte, the position at the end.
QList<Step> BlockProgress(int from, int size, int idle)
{
    QList<Step> p{{from, from + size, from}};
    for (int n = 1; n <= size; ++n)
        p << Step{from, from + size, from + n};
    p << Step{from, from + size, idle};
    return p;
}

// The program's core, wired as the program runs it, facing kp-sim on loopback.
struct Bench {
    kpsim::KpSim sim;
    ProgramCore core;
    RecordingOperator op;
    QTemporaryDir dir;
    QByteArray image = Image("V2.00");
    QList<QByteArray> requests; // as the simulated adapter received them

    explicit Bench(QList<kpsim::BlockSpec> blocks) : sim(Options(std::move(blocks)))
    {
        core.Blocks.SetOperator(&op);
        core.Blocks.AnnouncementWait = 100;
        QObject::connect(&sim, &kpsim::KpSim::requestReceived,
                         [this](const QByteArray& d) { requests << d; });
    }
    static kpsim::Options Options(QList<kpsim::BlockSpec> blocks)
    {
        kpsim::Options o;
        o.port = 0;
        o.blocks = std::move(blocks);
        return o;
    }

    // Link up, the image loaded, the blocks found (those of another version ticked).
    bool ready()
    {
        if (!sim.start())
            return false;
        LinkSettings& s = core.Link.settings;
        s.BaseIP = s.BaseIPadapter = QStringLiteral("127.0.0.1");
        s.BasePortD = QString::number(sim.localPort());
        core.Link.Timer4.setInterval(100);
        if (!core.Link.ConnectClick(true).isEmpty())
            return false;
        QElapsedTimer t;
        t.start();
        while (!core.Link.LinkOpen && t.elapsed() < 3000)
            QTest::qWait(10);
        core.Link.Timer4.stop(); // keep-alives would only clutter the exchange
        const QString path = dir.filePath("image.rom");
        QFile f(path);
        if (!core.Link.LinkOpen || !f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
            return false;
        f.close();
        if (!core.Image.Load(path))
            return false;
        core.Blocks.QScanClick();
        requests.clear();
        op.progress.clear();
        op.busy.clear();
        return true;
    }

    int line(int slot, int address) { return core.Blocks.TableEntry(slot, address).line; }
    bool ticked(int slot, int address) { return core.Blocks.bloks.ticked(line(slot, address)); }

    // The requests received, with the channel and sequence bytes checked and then cleared:
    // channel 0, and numbers that follow one another (nothing was sent twice). A request
    // that breaks them is replaced by a note that compares with nothing.
    QList<QByteArray> plain() const
    {
        QList<QByteArray> r;
        for (qsizetype i = 0; i < requests.size(); ++i) {
            QByteArray d = requests[i];
            if (d[0] != 0 || (i > 0 && uint8_t(d[2]) != uint8_t(requests[i - 1][2] + 1)))
                d = "channel or sequence broken at " + QByteArray::number(i);
            else
                d[2] = 0;
            r << d;
        }
        return r;
    }
};

QByteArray Memory(const kpsim::SimBlock* block, int from, int size)
{
    QByteArray bytes;
    for (int p = from; p < from + size; ++p)
        bytes += char(block->memoryAt(uint16_t(p)));
    return bytes;
}

// Compares request lists, naming the first that differs.
bool SameRequests(const QList<QByteArray>& got, const QList<QByteArray>& want)
{
    for (qsizetype i = 0; i < std::min(got.size(), want.size()); ++i)
        if (got[i] != want[i]) {
            qWarning("request %lld: %s, wanted %s", i, got[i].toHex(' ').constData(),
                     want[i].toHex(' ').constData());
            return false;
        }
    if (got.size() != want.size())
        qWarning("%lld requests, wanted %lld", got.size(), want.size());
    return got.size() == want.size();
}

} // namespace

class TestProgramming : public QObject
{
    Q_OBJECT

private slots:
    // ts:1 and tu:3 run another version and are ticked; tit:2 runs the image's and is not.
    void firmwareProgramsTheTickedBlocksInOrder()
    {
        Bench b(
            {{BlockType::Tu, 3, "V1.00"}, {BlockType::Tit, 2, "V2.00"}, {BlockType::Ts, 1, {}}});
        QVERIFY(b.ready());
        QVERIFY(b.ticked(1, 1) && b.ticked(3, 3) && !b.ticked(2, 2));

        b.core.Firmware.BitBtn3Click();

        const QList<QByteArray> want = QList<QByteArray>{StartNotice} +
                                       FirmwareRequests(0xC4, 1, b.image) +
                                       FirmwareRequests(0xC2, 3, b.image) + QList{EndNotice};
        QVERIFY(SameRequests(b.plain(), want));
        // 47 erases a block, the last one before offset 0x7C00, whose page is written in part.
        const QList<QByteArray> ts = want.mid(1, 3050);
        QCOMPARE(ts.count(Request(0xC4, 1, Hex("0900"))), 47);
        QCOMPARE(ts.size() - 1 - ts.lastIndexOf(Request(0xC4, 1, Hex("0900"))), 56 + 1);
        QCOMPARE(Memory(b.sim.block(BlockType::Tu, 3), 0x8000, FirmwareBytes),
                 b.image.mid(FirmwareFrom, FirmwareBytes));

        QVERIFY(!b.ticked(1, 1) && !b.ticked(3, 3));
        QCOMPARE(b.core.Blocks.bloks.selected(), b.line(3, 3));
        QCOMPARE(b.op.progress, BlockProgress(0x2000, FirmwareBytes, 2000) +
                                    BlockProgress(0x2000, FirmwareBytes, 2000));
        QCOMPARE(b.op.busy, (QList<bool>{true, false}));
        QVERIFY(b.op.Messages.isEmpty());
        QVERIFY(!b.core.Firmware.Running());
    }

    void loaderProgramsTheTickedBlocks()
    {
        Bench b({{BlockType::Tit, 0, {}}, {BlockType::Ts, 7, "V2.00"}});
        QVERIFY(b.ready());
        b.core.Blocks.bloks.SetTicked(b.line(1, 7), true); // by hand

        b.core.Firmware.BitBtn55Click();

        const QList<QByteArray> want =
            LoaderRequests(0xC4, 7, b.image) + LoaderRequests(0xC8, 0, b.image);
        QCOMPARE(want.size(), 2 * 68);
        QVERIFY(SameRequests(b.plain(), want));
        QCOMPARE(Memory(b.sim.block(BlockType::Ts, 7), 0xEA00, LoaderBytes),
                 b.image.mid(LoaderFrom, LoaderBytes));
        QVERIFY(!b.ticked(1, 7) && !b.ticked(2, 0));
        QCOMPARE(b.op.progress,
                 (BlockProgress(0xEA00, LoaderBytes, 0xEA00) +
                  BlockProgress(0xEA00, LoaderBytes, 0xEA00) + QList{Step{1, 100, 1}}));
        QVERIFY(b.op.busy.isEmpty());
    }

    void noTickedBlock_data()
    {
        QTest::addColumn<bool>("loader");
        QTest::addColumn<QList<QByteArray>>("requests");
        QTest::addColumn<QList<Step>>("progress");
        QTest::addColumn<QList<bool>>("busy");
        QTest::newRow("firmware: the notices only")
            << false << QList{StartNotice, EndNotice} << QList<Step>{} << QList{true, false};
        QTest::newRow("loader: the progress bar reset")
            << true << QList<QByteArray>{} << QList{Step{1, 100, 1}} << QList<bool>{};
    }
    void noTickedBlock()
    {
        QFETCH(bool, loader);
        QFETCH(QList<QByteArray>, requests);
        QFETCH(QList<Step>, progress);
        QFETCH(QList<bool>, busy);
        Bench b({{BlockType::Ts, 0, "V2.00"}});
        QVERIFY(b.ready());
        if (loader)
            b.core.Firmware.BitBtn55Click();
        else
            b.core.Firmware.BitBtn3Click();
        QVERIFY(SameRequests(b.plain(), requests));
        QCOMPARE(b.op.progress, progress);
        QCOMPARE(b.op.busy, busy);
    }

    void aRunWaitsForTheOperationInProgress()
    {
        Bench b({{BlockType::Ts, 0, {}}});
        QVERIFY(b.ready());
        QSignalSpy refused(&b.core.Link.Operations, &OperationGuard::refused);
        const auto other = b.core.Link.Operations.Begin(QStringLiteral("поиск блоков"));
        b.core.Firmware.BitBtn3Click();
        b.core.Firmware.BitBtn55Click();
        QCOMPARE(refused.size(), 2);
        QVERIFY(b.plain().isEmpty());
        QVERIFY(b.ticked(1, 0));
    }

    // The n-th request with the sub-function gets no reply: the stage named, the run over.
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
        Bench b({{BlockType::Ts, 0, {}}});
        QVERIFY(b.ready());
        LoseReply(b, 0xC4, sub, nth);
        loader ? b.core.Firmware.BitBtn55Click() : b.core.Firmware.BitBtn3Click();

        QCOMPARE(b.op.Messages, QStringList{caption + ": Нет ответа от блока!"});
        // Nothing follows the unanswered request but the end notice of a firmware run.
        const QList<QByteArray> sent = b.plain();
        QCOMPARE(sent.last() == EndNotice, !loader);
        QCOMPARE(int(uint8_t(sent[sent.size() - (loader ? 1 : 2)][7])), sub);
        QVERIFY(b.ticked(1, 0));
        QCOMPARE(b.op.busy, (loader ? QList<bool>{} : QList{true, false}));
        // The loader leaves the bar where the failure found it.
        if (loader && sub == 0x05)
            QCOMPARE(b.op.progress.last(), (Step{0xEA00, 0xEC00, 0xEA00 + 8 * nth - 1}));
        QVERIFY(!b.core.Link.Operations.Busy());
    }

    // Three ticked blocks; the second does not answer its 100th write.
    void failureInTheSecondOfThreeBlocks()
    {
        Bench b({{BlockType::Ts, 0, {}}, {BlockType::Ts, 4, {}}, {BlockType::Tu, 1, {}}});
        QVERIFY(b.ready());
        LoseReply(b, 0xC4, 0x05, 100, 4);

        b.core.Firmware.BitBtn3Click();

        QVERIFY(!b.ticked(1, 0));
        QVERIFY(b.ticked(1, 4) && b.ticked(3, 1));
        QCOMPARE(b.core.Blocks.bloks.selected(), b.line(1, 4));
        QCOMPARE(b.op.Messages, QStringList{"Передача кода: Нет ответа от блока!"});
        const QList<QByteArray> second = FirmwareRequests(0xC4, 4, b.image).mid(0, 2 + 2 + 100);
        QVERIFY(SameRequests(b.plain(), QList{StartNotice} + FirmwareRequests(0xC4, 0, b.image) +
                                            second + QList{EndNotice}));
        QCOMPARE(b.op.busy, (QList<bool>{true, false}));
    }

private:
    // The reply to the n-th request with the sub-function to the block is lost.
    static void LoseReply(Bench& b, uint8_t f, int sub, int nth, int address = 0)
    {
        auto seen = std::make_shared<int>(0);
        QObject::connect(&b.sim, &kpsim::KpSim::requestReceived,
                         [&b, f, sub, nth, address, seen](const QByteArray& d) {
                             if (d.size() > 7 && uint8_t(d[4]) == f && d[6] == address &&
                                 d[7] == sub && ++*seen == nth)
                                 b.sim.faults().dropReplies = 1;
                         });
    }
};

QTEST_GUILESS_MAIN(TestProgramming)
#include "tst_programming.moc"
