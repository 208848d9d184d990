// The interlock logic: the byte stream written, the read loop's rules, the .blk file format,
// the read and the write request by request with every failure, and the window with its files.

#include "app/tform1.h"
#include "app/windows.h"
#include "blocks/blockfixture.h"
#include "blocks/blockspage.h"
#include "blocks/calibrationpanel.h"
#include "blocks/interlock.h"
#include "blocks/simfixture.h"
#include "blocks/ttxtblk.h"
#include "support/cp1251.h"
#include "support/messagebox.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

namespace
{
QByteArray hex(const char* h)
{
    return QByteArray::fromHex(h);
}

const QString Start = "00050019011880"
                      "0500";
const QString End = "00050019011880"
                    "0400";
const QString Prepare = "00060019c21803080100";
const QString Pointer = "00070019c2180307020080";
const QString Read = "00050019c218030600";
const QString Erase = "00050019c218030900";
QString Write(const char* data)
{
    return "000d0019c218030508" + QString(data);
}

const QStringList ThreeLines{"@", "X", "@"};

// Tells how many requests had been sent when the engineer was told something.
struct WatchingOperator : PolicyOperator {
    const QList<QByteArray>* requests = nullptr;
    QList<qsizetype> sentBefore;

protected:
    void ShowMessage(const QString& caption, const QString& text) override
    {
        sentBefore << requests->size();
        PolicyOperator::ShowMessage(caption, text);
    }
};

// A telecontrol block at address 3 whose memory from 0x8000 on reads `memory`, and the memo.
struct LogicBench : BlockBench {
    InterlockTransfer logic{link, blocks};
    QByteArray memory;
    qsizetype at = 0;
    QStringList memo;
    int windowShown = 0;
    explicit LogicBench(QByteArray m = {}) : BlockBench(0xC2, 3), memory(std::move(m))
    {
        QObject::connect(&logic, &InterlockTransfer::memoCleared, [this] { memo.clear(); });
        QObject::connect(&logic, &InterlockTransfer::lineAdded,
                         [this](const QString& line) { memo << line; });
        QObject::connect(&logic, &InterlockTransfer::windowRequested, [this] { ++windowShown; });
        block = [this](const QByteArray& r) -> std::optional<QByteArray> {
            if (Sub(r) == 0x07)
                at = 0;
            if (Sub(r) == 0x06) {
                const QByteArray chunk = memory.mid(at, 8);
                at += 8;
                return chunk;
            }
            return QByteArray(8, '\0');
        };
    }
    void silentTo(uint8_t sub)
    {
        auto answer = block;
        block = [sub, answer](const QByteArray& r) -> std::optional<QByteArray> {
            return Sub(r) == sub ? std::nullopt : answer(r);
        };
    }
};

// A simulated telecontrol block in interlock mode, found by discovery and selected.
struct InterlockBlock : SimFixture {
    QStringList memo;
    explicit InterlockBlock(bool unclosed = false) : SimFixture(options(unclosed))
    {
        QObject::connect(&core.Interlock, &InterlockTransfer::memoCleared,
                         [this] { memo.clear(); });
        QObject::connect(&core.Interlock, &InterlockTransfer::lineAdded,
                         [this](const QString& line) { memo << line; });
    }
    static kpsim::Options options(bool unclosed)
    {
        kpsim::Options o = withBlocks("tu:3");
        kpsim::BlockSetup s{
            kpsim::BlockType::Tu, 3, {{0, hex("0500")}}, {}, {}, unclosed, false, {}, 0};
        o.setups << s;
        return o;
    }
    bool selected()
    {
        if (!up())
            return false;
        core.Blocks.QScanClick();
        core.Blocks.bloksClick(0);
        requests.clear();
        return core.Blocks.InterlockShown;
    }
    int count(const char* sub) const { return int(requestKinds().filter(sub).size()); }
};

QStringList ReadBack(const QByteArray& memory)
{
    blk::LogicReader reader;
    for (qsizetype at = 0; !reader.Ended(); at += 8) {
        const QByteArray chunk = memory.mid(at, 8).leftJustified(8, '\0');
        reader.Take(std::span(reinterpret_cast<const uint8_t*>(chunk.constData()), 8));
    }
    return reader.Lines;
}
} // namespace

class TestInterlock : public QObject
{
    Q_OBJECT

private slots:
    void streamOfTheMemo_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("stream");
        QTest::newRow("three lines") << ThreeLines
                                     << hex("402000582000402000"
                                            "00000000000000000000");
        QTest::newRow("code page 1251, an empty line") << QStringList{"@ ТУ1", "", "@"}
                                                       << hex("4020d2d33120002000402000"
                                                              "00000000000000000000");
        QTest::newRow("empty memo") << QStringList{} << QByteArray();
    }
    void streamOfTheMemo()
    {
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, stream);
        QCOMPARE(blk::Stream(lines), stream);
    }

    // The memory read from 0x8000 and the memo's lines it gives.
    void readLoop_data()
    {
        QTest::addColumn<QByteArray>("memory");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("three lines with the spaces of their ends")
            << blk::Stream(ThreeLines) << QStringList{"@ ", "X ", "@"};
        QTest::newRow("an empty memo line comes back as one space")
            << blk::Stream({"@", "", "@"}) << QStringList{"@ ", " ", "@"};
        QTest::newRow("two 0x00 in a row not shown")
            << hex("4041000042004000") << QStringList{"@A", "B", "@"};
        QTest::newRow("no marker first: empty") << hex("4140000040") << QStringList{};
        QTest::newRow("the marker ends the text mid-line")
            << hex("400041424000") << QStringList{"@", "@"};
        QTest::newRow("code page 1251")
            << hex("40d2d300cbc8cd00ff0040") << QStringList{"@ТУ", "ЛИН", "я", "@"};
    }
    void readLoop()
    {
        QFETCH(QByteArray, memory);
        QFETCH(QStringList, lines);
        QCOMPARE(ReadBack(memory), lines);
    }

    void readStopsAfter24000Bytes()
    {
        QByteArray memory = "@ no end";
        while (memory.size() < 30000)
            memory += QByteArray(1, '\0') + "line";
        blk::LogicReader reader;
        int reads = 0;
        for (; !reader.Ended(); ++reads)
            reader.Take(
                std::span(reinterpret_cast<const uint8_t*>(memory.constData()) + 8 * reads, 8));
        QCOMPARE(reads, 3000);
        QCOMPARE(reader.Count(), 24000);
        QCOMPARE(reader.Lines.first(), "@ no end");
        QCOMPARE(reader.Lines.last(), "line"); // the unfinished line at the limit is dropped
        QCOMPARE(reader.Lines.size(), 1 + (24000 - 8) / 5);
    }

    void fileLines_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray lines = ToCp1251("@ ТУ1|||X|@");
        auto with = [&](const char* end) {
            QByteArray f = lines;
            return f.replace('|', end) + end;
        };
        QTest::newRow("CR LF") << with("\r\n");
        QTest::newRow("LF only") << with("\n");
        QTest::newRow("CR only") << with("\r");
        QTest::newRow("last line without its end") << with("\r\n").chopped(2);
    }
    void fileLines()
    {
        QFETCH(QByteArray, file);
        const QStringList expected{"@ ТУ1", "", "", "X", "@"};
        QCOMPARE(blk::FileLines(file), expected);
        QCOMPARE(blk::FileBytes(expected), ToCp1251("@ ТУ1\r\n\r\n\r\nX\r\n@\r\n"));
    }

    void memoLinesKeepAnEmptyLastLine()
    {
        for (const QStringList& lines :
             {QStringList{}, QStringList{""}, QStringList{"a", ""}, QStringList{"a", "b"}})
            QCOMPARE(blk::MemoLines(blk::MemoText(lines)), lines);
        QCOMPARE(blk::MemoLines("a\nb"), QStringList({"a", "b"})); // as typed, no last end
    }

    // Start notice, prepare, pointer 0x8000, one erase, two writes of the 16 bytes, end notice;
    // read back as three lines with their spaces.
    void threeLinesWrittenAndReadBack()
    {
        LogicBench b;
        b.logic.WriteBLKClick(ThreeLines);
        QCOMPARE(b.hexRequests(),
                 QStringList({Start, Prepare, Pointer, Erase, Write("4020005820004020"),
                              Write("0000000000000000"), End}));
        QVERIFY(b.op.Messages.isEmpty());
        QCOMPARE(b.op.BusyCount, 1);
        QVERIFY(!b.op.BusyShown);

        b.requests.clear();
        b.memory = blk::Stream(ThreeLines);
        b.memo = QStringList{"old"};
        b.logic.ReadBLKClick();
        QCOMPARE(b.hexRequests(), QStringList({Start, Prepare, Pointer, Read, End}));
        QCOMPARE(b.memo, QStringList({"@ ", "X ", "@"}));
        QCOMPARE(b.windowShown, 1);
    }

    // 8 x floor(1010 / 8) = 1008 bytes: erases before bytes 0 and 512, 126 writes.
    void thousandBytesInTwoPages()
    {
        LogicBench b;
        QStringList lines{"@" + QString(97, 'a')};
        while (lines.size() < 10)
            lines << QString(98, 'b');
        QCOMPARE(blk::Stream(lines).size(), 1010);
        b.logic.WriteBLKClick(lines);
        QList<int> erases;
        int writes = 0;
        for (const QString& r : b.hexRequests()) {
            if (r == Erase)
                erases << writes;
            writes += r.startsWith(Write("")) ? 1 : 0;
        }
        QCOMPARE(erases, QList<int>({0, 64}));
        QCOMPARE(writes, 126);
        QCOMPARE(b.hexRequests().last(), End);
    }

    // Every missing reply ends the transfer with its caption; the end notice still goes and the
    // wait panel is hidden.
    void failures_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("silentSub");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("sent");
        QTest::newRow("read: prepare") << false << 0x08 << "Подготовка" << 3;
        QTest::newRow("read: pointer") << false << 0x07 << "Установка адреса" << 4;
        QTest::newRow("read: memory read") << false << 0x06 << "Чтение" << 5;
        QTest::newRow("write: prepare") << true << 0x08 << "Подготовка" << 3;
        QTest::newRow("write: erase") << true << 0x09 << "Стирание" << 5;
        QTest::newRow("write: memory write") << true << 0x05 << "Передача кода" << 6;
    }
    void failures()
    {
        QFETCH(bool, write);
        QFETCH(int, silentSub);
        QFETCH(QString, caption);
        QFETCH(int, sent);
        LogicBench b(blk::Stream(ThreeLines));
        b.silentTo(uint8_t(silentSub));
        if (write)
            b.logic.WriteBLKClick(ThreeLines);
        else
            b.logic.ReadBLKClick();
        QCOMPARE(b.op.Messages, QStringList{caption + ": Нет ответа от блока!"});
        QCOMPARE(b.requests.size(), sent);
        QCOMPARE(b.hexRequests().last(), End);
        QVERIFY(!b.op.BusyShown);
        // The window comes once the block has taken the pointer.
        QCOMPARE(b.windowShown, !write && silentSub == 0x06 ? 1 : 0);
    }

    // No scratch file: an empty memo still gives the file reading error and sends nothing.
    void emptyMemoSendsNothing()
    {
        LogicBench b;
        b.logic.WriteBLKClick({});
        QCOMPARE(b.op.Messages, QStringList{"Чтение файла: Ошибка!"});
        QTest::qWait(20);
        QVERIFY(b.requests.isEmpty());
        QVERIFY(!QFile::exists("temp.txt"));
    }

    // A character outside code page 1251 goes as '?', and the engineer is told before anything
    // is sent or saved.
    void replacedCharacterToldFirst()
    {
        LogicBench b;
        WatchingOperator watching;
        watching.requests = &b.requests;
        b.blocks.SetOperator(&watching);
        b.logic.WriteBLKClick({"@ ✓", "@"});
        QCOMPARE(watching.sentBefore, QList<qsizetype>{0});
        QVERIFY(watching.Messages.first().startsWith("Запись БЛК: "));
        QCOMPARE(b.requests[4].mid(9, 4), hex("40203f20"));

        QTemporaryDir dir;
        const QString path = dir.filePath("x.blk");
        watching.Messages.clear();
        QVERIFY(b.logic.SaveToFile(path, {"@ ✓😀"}));
        QVERIFY(watching.Messages.first().startsWith("в Файл: "));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "@ ??\r\n");
    }

    // A text longer than the read can take back is not written.
    void tooLongTextNotWritten()
    {
        LogicBench b;
        // 2400 x 10 + 10 bytes: 3001 chunks of 8, one more than the read takes.
        const QStringList lines(2400, QString(8, 'a'));
        b.logic.WriteBLKClick(lines);
        QCOMPARE(b.op.Messages.size(), 1);
        QVERIFY(b.op.Messages.first().startsWith("Запись БЛК: "));
        QTest::qWait(20);
        QVERIFY(b.requests.isEmpty());
    }

    void refusedWhileAnotherOperationRuns()
    {
        LogicBench b;
        const auto discovery = b.link.Operations.Begin(QStringLiteral("поиск блоков"));
        b.logic.ReadBLKClick();
        b.logic.WriteBLKClick(ThreeLines);
        QTest::qWait(20);
        QVERIFY(b.requests.isEmpty());
        QCOMPARE(b.windowShown, 0);
    }

    // The block's logic read, edited, written and read again; each transfer bracketed.
    void editedLogicWrittenAndReadBack()
    {
        InterlockBlock f;
        QVERIFY(f.selected());
        f.core.Interlock.ReadBLKClick();
        QCOMPARE(f.memo, kpsim::SimBlock::DefaultInterlockLines(3));
        QStringList edited = f.memo;
        edited.insert(1, "ТУ9 = ТС0.9");
        f.core.Interlock.WriteBLKClick(edited);
        f.core.Interlock.ReadBLKClick();
        for (int i = 0; i + 1 < edited.size(); ++i)
            edited[i] += ' ';
        QCOMPARE(f.memo, edited);
        QCOMPARE(f.sim.counters().serviceStarts, 3);
        QCOMPARE(f.sim.counters().serviceEnds, 3);
        QVERIFY(f.op.Messages.isEmpty());
    }

    // A text of exactly 24,000 bytes sent: 47 erases, 3000 writes, read back whole.
    void longestTextWrittenAndReadBack()
    {
        InterlockBlock f;
        QVERIFY(f.selected());
        QStringList lines{"@" + QString(7, 'a')};
        lines += QStringList(2397, QString(8, 'b'));
        lines << QString(5, 'c') << "@"; // 23,990 bytes with their ends
        f.core.Interlock.WriteBLKClick(lines);
        QCOMPARE(f.count("/09"), 47);
        QCOMPARE(f.count("c2/3/05"), 3000);
        f.core.Interlock.ReadBLKClick();
        QCOMPARE(f.memo.size(), lines.size());
        QCOMPARE(f.memo.last(), "@");
        QCOMPARE(f.memo[2397], QString(8, 'b') + ' ');
        QVERIFY(f.op.Messages.isEmpty());
    }

    // Without its closing marker the read stops after 3000 reads (24,000 bytes).
    void unclosedTextStopsAtTheLimit()
    {
        InterlockBlock f(true);
        QVERIFY(f.selected());
        f.core.Interlock.ReadBLKClick();
        QCOMPARE(f.count("c2/3/06"), 3000);
        QCOMPARE(f.memo.first(), "@ Логика без завершающей строки");
        // Every line ended within the 24,000 bytes; the unfinished one is dropped.
        QCOMPARE(f.memo.size(), kpsim::SimBlock::UnclosedInterlock().left(24000).count('\0'));
        QCOMPARE(f.sim.counters().serviceEnds, 1);
    }

    // The window: the tab's buttons read, write, save and load; the dialogs are replaced.
    void windowWithItsFiles()
    {
        LogicBench b(blk::Stream(ThreeLines));
        BlocksPage page(b.blocks);
        b.blocks.SetOperator(&b.op);
        TTxtBLK window;
        window.Attach(b.logic, page);
        QTemporaryDir dir;
        QString chosen;
        window.SaveDialog1 = [&](QWidget*) { return chosen; };
        window.OpenDialog3 = [&](QWidget*) { return chosen; };

        page.ReadBLK->click();
        QVERIFY(window.isVisible());
        QCOMPARE(window.Lines(), QStringList({"@ ", "X ", "@"}));
        QCOMPARE(window.TBLK->toPlainText(), "@ \nX \n@\n");

        window.TBLK->setPlainText("@\nY\n@");
        b.requests.clear();
        page.WriteBLK->click();
        QCOMPARE(b.hexRequests()[4], Write("4020005920004020"));

        window.hide();
        chosen = dir.filePath("default.blk");
        page.SaveToFile->click();
        QVERIFY(window.isHidden()); // saving does not show the window
        QFile saved(chosen);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), "@\r\nY\r\n@\r\n");

        QFile lf(dir.filePath("lf.blk"));
        QVERIFY(lf.open(QIODevice::WriteOnly));
        lf.write(ToCp1251("@ ТУ\n\nZ\n@\n"));
        lf.close();
        chosen = lf.fileName();
        page.LoadFromFileBLK->click();
        QVERIFY(window.isVisible());
        QCOMPARE(window.Lines(), QStringList({"@ ТУ", "", "Z", "@"}));

        chosen.clear(); // cancelled: the window stays open and empty
        window.hide();
        page.LoadFromFileBLK->click();
        QVERIFY(window.isVisible());
        QVERIFY(window.Lines().isEmpty());

        chosen = dir.filePath("missing.blk");
        page.LoadFromFileBLK->click();
        QCOMPARE(b.op.Messages, QStringList{"Чтение файла: Ошибка!"});
    }

    // The program's windows as created at start-up: the tab's interlock buttons reach the
    // logic window, Panel6 the calibration panel; their questions come as message boxes.
    void theProgramWiresBothTools()
    {
        QTemporaryDir dir;
        QStringList boxes;
        messagebox::SetPresenter([&](QWidget*, QMessageBox::Icon, const QString& caption,
                                     const QString& text, QMessageBox::StandardButtons) {
            boxes << caption + ": " + text;
            return QMessageBox::Cancel;
        });
        AppWindows w =
            CreateWindows({}, new QSettings(dir.filePath("c.conf"), QSettings::IniFormat));
        BlocksPage& page = *w.Form1->TabSheet9;
        BlockService& blocks = w.Form1->Blocks;
        blocks.SelectedBlockFunction = 0xC2; // the link is closed: nothing answers
        page.ReadBLK->click();
        QCOMPARE(boxes, QStringList{"Подготовка: Нет ответа от блока!"});
        blocks.SelectedBlockFunction = 0xC8;
        emit page.Panel6->doubleClicked();
        QVERIFY(page.Panel5 && !page.Panel5->isHidden());
        QCOMPARE(boxes.last(),
                 "Считывание: Калибровка не считана из блока, значения на панели не изменены.");
        w.TxtBLK->OpenDialog3 = [](QWidget*) { return QString(); };
        page.LoadFromFileBLK->click();
        QVERIFY(w.TxtBLK->isVisible());
        messagebox::SetPresenter({});
    }
};

QTEST_MAIN(TestInterlock)
#include "tst_interlock.moc"
