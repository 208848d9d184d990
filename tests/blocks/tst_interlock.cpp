// SPDX-License-Identifier: GPL-3.0-or-later
// The interlock logic: the byte stream written, the read loop's rules, the .blk file format,
// the read and the write request by request with every failure, round trips through a simulated
// block, the window with its files and its wiring in the program.

#include "app/tform1.h"
#include "app/windows.h"
#include "blocks/blockfixture.h"
#include "blocks/blockspage.h"
#include "blocks/calibrationpanel.h"
#include "blocks/interlock.h"
#include "blocks/parametereditor.h"
#include "blocks/simfixture.h"
#include "blocks/ttxtblk.h"
#include "support/cp1251.h"
#include "support/messagebox.h"

#include <QListView>
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

const QString Start = "000500190118800500";
const QString End = "000500190118800400";
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
        block = [sub, answer = block](const QByteArray& r) -> std::optional<QByteArray> {
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
        core.Blocks.Discover(BlockService::Scope::Announced);
        core.Editor.Select(0);
        return core.Editor.InterlockShown;
    }
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
    // The memory read from 0x8000 and the memo's lines it gives.
    void readLoop_data()
    {
        QTest::addColumn<QByteArray>("memory");
        QTest::addColumn<QStringList>("lines");
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

    // The same lines as a file (CR LF after every line) and as the stream written into the
    // block (CR a space, LF 0x00, ten zero bytes).
    void fileAndStreamOfTheMemo()
    {
        const QStringList lines{"@ ТУ1", "", "@"};
        QCOMPARE(blk::FileBytes(lines), hex("4020d2d3310d0a0d0a400d0a"));
        QCOMPARE(blk::Stream(lines), hex("4020d2d33120002000402000") + QByteArray(10, '\0'));
        QVERIFY(blk::Stream({}).isEmpty());
    }

    void fileLines_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray lines = ToCp1251("@ ТУ1||X|@");
        auto with = [&](const char* end) { return QByteArray(lines).replace('|', end) + end; };
        QTest::newRow("CR LF") << with("\r\n");
        QTest::newRow("LF only") << with("\n");
        QTest::newRow("CR only") << with("\r");
        QTest::newRow("last line without its end") << with("\r\n").chopped(2);
    }
    void fileLines()
    {
        QFETCH(QByteArray, file);
        QCOMPARE(blk::FileLines(file), QStringList({"@ ТУ1", "", "X", "@"}));
    }

    void memoLinesKeepAnEmptyLastLine()
    {
        for (const QStringList& lines : {QStringList{}, QStringList{""}, QStringList{"a", ""}})
            QCOMPARE(blk::MemoLines(blk::MemoText(lines)), lines);
        QCOMPARE(blk::MemoLines("a\nb"), QStringList({"a", "b"})); // as typed, no last end
    }

    // Start notice, prepare, pointer 0x8000, one erase, two writes of the 16 bytes, end notice;
    // read back as three lines with their spaces, the window shown.
    void threeLinesWrittenAndReadBack()
    {
        LogicBench b;
        b.logic.Write(b.target, ThreeLines);
        QCOMPARE(b.hexRequests(),
                 QStringList({Start, Prepare, Pointer, Erase, Write("4020005820004020"),
                              Write("0000000000000000"), End}));
        QVERIFY(b.op.Messages.isEmpty());
        QVERIFY(b.op.BusyCount == 1 && !b.op.BusyShown);

        b.requests.clear();
        b.memory = blk::Stream(ThreeLines);
        b.logic.Read(b.target);
        QCOMPARE(b.hexRequests(), QStringList({Start, Prepare, Pointer, Read, End}));
        QCOMPARE(b.memo, QStringList({"@ ", "X ", "@"}));
        QCOMPARE(b.windowShown, 1);
    }

    // 8 x floor(1010 / 8) = 1008 bytes: erases before bytes 0 and 512, 126 writes.
    void thousandBytesInTwoPages()
    {
        LogicBench b;
        QStringList lines{"@" + QString(97, 'a')};
        lines += QStringList(9, QString(98, 'b'));
        b.logic.Write(b.target, lines);
        QList<int> erases;
        int writes = 0;
        for (const QString& r : b.hexRequests()) {
            if (r == Erase)
                erases << writes;
            writes += r.startsWith(Write("")) ? 1 : 0;
        }
        QCOMPARE(erases, QList<int>({0, 64}));
        QCOMPARE(writes, 126);
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
            b.logic.Write(b.target, ThreeLines);
        else
            b.logic.Read(b.target);
        QCOMPARE(b.op.Messages, QStringList{caption + ": Нет ответа от блока!"});
        QCOMPARE(b.requests.size(), sent);
        QCOMPARE(b.hexRequests().last(), End);
        QVERIFY(!b.op.BusyShown);
    }

    // Nothing is written and nothing sent: an empty memo (the file reading error, as before the
    // scratch file went), a text longer than the read takes back (2400 x 10 + 10 bytes: 3001
    // chunks), and while another operation runs.
    void nothingSent()
    {
        LogicBench b;
        b.logic.Write(b.target, {});
        b.logic.Write(b.target, QStringList(2400, QString(8, 'a')));
        QCOMPARE(b.op.Messages.size(), 2);
        QCOMPARE(b.op.Messages[0], "Чтение файла: Ошибка!");
        QVERIFY(b.op.Messages[1].startsWith("Запись БЛК: Текст логики длиннее 24000 байт"));
        {
            const auto discovery = b.link.Operations.Begin(QStringLiteral("поиск блоков"));
            b.logic.Read(b.target);
            b.logic.Write(b.target, ThreeLines);
        }
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
        b.logic.Write(b.target, {"@ ✓", "@"});
        QCOMPARE(watching.sentBefore, QList<qsizetype>{0});
        QCOMPARE(b.requests[4].mid(9, 4), hex("40203f20"));

        QTemporaryDir dir;
        const QString path = dir.filePath("x.blk");
        QVERIFY(b.logic.SaveToFile(path, {"@ ✓😀"}));
        QCOMPARE(watching.Messages.size(), 2);
        QVERIFY(watching.Messages[1].startsWith("в Файл: "));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "@ ??\r\n");
    }

    // The block's logic read, edited, written and read again; each transfer bracketed.
    void editedLogicWrittenAndReadBack()
    {
        InterlockBlock f;
        QVERIFY(f.selected());
        f.core.Interlock.Read({3, 3});
        QCOMPARE(f.memo, kpsim::SimBlock::DefaultInterlockLines(3));
        QStringList edited = f.memo;
        edited.insert(1, "ТУ9 = ТС0.9");
        f.core.Interlock.Write({3, 3}, edited);
        f.core.Interlock.Read({3, 3});
        for (int i = 0; i + 1 < edited.size(); ++i)
            edited[i] += ' ';
        QCOMPARE(f.memo, edited);
        QCOMPARE(f.sim.counters().serviceStarts, 3);
        QCOMPARE(f.sim.counters().serviceEnds, 3);
        QVERIFY(f.op.Messages.isEmpty());
    }

    // Without its closing marker the read stops after 3000 reads (24,000 bytes); every line
    // ended within them is shown, the unfinished one is dropped.
    void unclosedTextStopsAtTheLimit()
    {
        InterlockBlock f(true);
        QVERIFY(f.selected());
        f.requests.clear();
        f.core.Interlock.Read({3, 3});
        QCOMPARE(f.requestKinds().filter("c2/3/06").size(), 3000);
        QCOMPARE(f.memo.size(), kpsim::SimBlock::UnclosedInterlock().left(24000).count('\0'));
        QCOMPARE(f.memo.first(), "@ Логика без завершающей строки");
        QCOMPARE(f.sim.counters().serviceEnds, 1);
    }

    // The window: the tab's buttons read, write, save and load; the dialogs are replaced.
    void windowWithItsFiles()
    {
        LogicBench b(blk::Stream(ThreeLines));
        ParameterEditor editor(b.blocks);
        BlocksPage page(b.blocks, editor);
        b.blocks.SetOperator(&b.op);
        b.blocks.ReadBlock(b.target); // tu:3 alone, shown in the grid
        editor.Select(0);
        b.requests.clear();
        TTxtBLK window;
        window.Attach(b.logic, editor, page);
        QTemporaryDir dir;
        QString chosen;
        window.SaveDialog1 = [&](QWidget*) { return chosen; };
        window.OpenDialog3 = [&](QWidget*) { return chosen; };

        page.ReadBLK->click();
        QVERIFY(window.isVisible());
        QCOMPARE(window.TBLK->toPlainText(), "@ \nX \n@\n");
        window.TBLK->setPlainText("@\nY\n@");
        b.requests.clear();
        page.WriteBLK->click();
        QCOMPARE(b.hexRequests()[4], Write("4020005920004020"));

        window.hide();
        chosen = dir.filePath("default.blk");
        page.SaveToFile->click();
        QVERIFY(window.isHidden()); // saving does not show the window
        page.LoadFromFileBLK->click();
        QVERIFY(window.isVisible());
        QCOMPARE(window.Lines(), QStringList({"@", "Y", "@"}));

        chosen.clear(); // cancelled: the window stays open and empty
        page.LoadFromFileBLK->click();
        QVERIFY(window.isVisible() && window.Lines().isEmpty());
        chosen = dir.filePath("missing.blk");
        page.LoadFromFileBLK->click();
        QCOMPARE(b.op.Messages, QStringList{"Чтение файла: Ошибка!"});
    }

    // The program's windows as created at start-up, against the simulator: the tab's interlock
    // buttons reach the logic window for the block the grid shows, Panel6 the calibration
    // panel; their questions come as message boxes.
    void theProgramWiresBothTools()
    {
        QTemporaryDir dir;
        QStringList boxes;
        messagebox::SetPresenter([&](QWidget*, QMessageBox::Icon, const QString& caption,
                                     const QString& text, QMessageBox::StandardButtons) {
            boxes << caption + ": " + text;
            return QMessageBox::Cancel;
        });
        kpsim::Options o = InterlockBlock::options(false);
        o.blocks << kpsim::BlockSpec{kpsim::BlockType::Tit, 2, {}};
        o.port = 0;
        kpsim::KpSim sim(o);
        QVERIFY(sim.start());
        AppWindows w =
            CreateWindows({}, new QSettings(dir.filePath("c.conf"), QSettings::IniFormat));
        LinkSettings& s = w.Form1->Link.settings;
        s.BaseIP = s.BaseIPadapter = QStringLiteral("127.0.0.1");
        s.BasePortD = QString::number(sim.localPort());
        w.Form1->Link.Timer4.setInterval(20);
        w.Form1->Blocks.AnnouncementTimer.setInterval(150);
        QVERIFY(w.Form1->Link.Enable(true).isEmpty());
        QTRY_VERIFY(w.Form1->Link.LinkOpen);
        BlocksPage& page = *w.Form1->TabSheet9;
        page.QScan->click();
        page.bloks->setCurrentIndex(page.bloks->model()->index(1, 0)); // tu:3
        page.ReadBLK->click();
        QVERIFY(w.TxtBLK->isVisible());
        QCOMPARE(w.TxtBLK->Lines(), kpsim::SimBlock::DefaultInterlockLines(3));
        page.bloks->setCurrentIndex(page.bloks->model()->index(0, 0)); // tit:2
        emit page.Panel6->doubleClicked();
        QVERIFY(!page.Panel5->isHidden());
        QVERIFY(boxes.isEmpty());
        messagebox::SetPresenter({});
    }
};

QTEST_MAIN(TestInterlock)
#include "tst_interlock.moc"
