// Recording the exchange to a pcapng file: the file's blocks as a reader sees them, the notes
// of the trace rows as the packets' comments (also with the trace switched off), the hold of
// the newest datagram, and files that cannot be created or written.

#include "exchange/capture.h"
#include "pcapngreader.h"

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace
{
const capture::UdpEnds ToAdapter{0x7F000001, 40001, 0x7F000002, 972};
const capture::UdpEnds FromAdapter{0x7F000002, 972, 0x7F000001, 40001};
const capture::UdpEnds Query{0x7F000001, 40100, 0x7F000001, 956};
} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    // Plays a script of what the exchange does to the trace and the sockets:
    //   "R hex" / "S hex"   a datagram received / sent on the data socket
    //   "r hex" / "s hex"   the same on the local query socket (never traced)
    //   "T hex" / "P hex"   a trace row of the adapter's / the program's datagram ("P" alone:
    //                       an empty row)
    //   "N text" / "A text" a note written / appended
    static void play(TraceLog& trace, CaptureRecorder& rec, const QStringList& script)
    {
        for (const QString& step : script) {
            const QChar op = step.at(0);
            const QString arg = step.mid(2);
            const QByteArray bytes = QByteArray::fromHex(arg.toLatin1());
            if (op == u'R' || op == u'r')
                rec.Record(DatagramTap::Received, op == u'R' ? FromAdapter : Query, bytes,
                           op == u'R');
            else if (op == u'S' || op == u's')
                rec.Record(DatagramTap::Sent, op == u'S' ? ToAdapter : Query, bytes, op == u'S');
            else if (op == u'T')
                trace.TraceFrame(TraceLog::Adapter, bytes);
            else if (op == u'P')
                trace.TraceFrame(TraceLog::Program, bytes);
            else if (op == u'N')
                trace.TraceNote(arg);
            else if (op == u'A')
                trace.TraceAppend(arg);
        }
    }

    // "hex|comment" per packet.
    static QStringList packets(const pcapng::Capture& c)
    {
        QStringList out;
        for (const pcapng::Packet& p : c.packets)
            out << QString::fromLatin1(p.payload.toHex()) + u'|' + p.comment;
        return out;
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void fileLayout_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("comment");
        // Payload and comment lengths around the 32-bit padding.
        QTest::newRow("empty, no comment") << QByteArray() << QString();
        QTest::newRow("1 byte, 2-byte comment") << QByteArray::fromHex("80") << "К";
        QTest::newRow("2 bytes, 6-byte comment") << QByteArray::fromHex("8000") << "ЗАП";
        QTest::newRow("3 bytes, mixed comment")
            << QByteArray::fromHex("820107") << QStringLiteral("КВТB");
        QTest::newRow("13 bytes, long comment") << QByteArray::fromHex("00090d19441802000401000000")
                                                << QStringLiteral("ЦТИИ+ЦТС+ЦТИИ+ЦТС+ТС{65}");
        QTest::newRow("58 bytes") << QByteArray(58, char(0xFF)) << "Адрес";
    }
    void fileLayout()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, comment);
        PcapngWriter w;
        QString error;
        QVERIFY2(w.Open(path("layout.pcapng"), &error), qPrintable(error));
        const qint64 t0 = 1796832309123456; // 2026-12-09 14:05:09.123456 UTC
        w.Append(t0, ToAdapter, datagram, comment);
        w.Append(t0 + 1, FromAdapter, datagram, QString());
        QVERIFY(w.Flush(&error));
        w.Close();

        const pcapng::Capture c = pcapng::readFile(path("layout.pcapng"));
        QVERIFY2(c.error.isEmpty(), qPrintable(c.error));
        QCOMPARE(c.linkType, quint16(228));
        QCOMPARE(c.timeResolution, 6);
        QCOMPARE(c.application, "tavena-configurator");
        QCOMPARE(c.packets.size(), 2);
        const pcapng::Packet& p = c.packets[0];
        QCOMPARE(p.timestamp, quint64(t0));
        QCOMPARE(p.source, QHostAddress("127.0.0.1"));
        QCOMPARE(p.sourcePort, 40001);
        QCOMPARE(p.destination, QHostAddress("127.0.0.2"));
        QCOMPARE(p.destinationPort, 972);
        QCOMPARE(p.payload, datagram);
        QCOMPARE(p.comment, comment);
        QVERIFY(p.checksumsValid);
        QCOMPARE(c.packets[1].source, QHostAddress("127.0.0.2"));
        QCOMPARE(c.packets[1].comment, QString());
        QVERIFY(c.packets[1].checksumsValid);
    }

    void notesGoToTheirDatagrams_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("keep-alive: row and note before the datagram")
            << QStringList{"P 8000", "N ЗАПРОС", "S 8000", "P 8000", "N ЗАПРОС", "S 8000"}
            << QStringList{"8000|ЗАПРОС", "8000|ЗАПРОС"};
        QTest::newRow("data: appended notes, then the program's receipt")
            << QStringList{"R 000e0519442102010801000000",
                           "T 000e0519442102010801000000",
                           "A ЦТИИ",
                           "A +",
                           "A ЦТС",
                           "P 820105",
                           "N КВТ",
                           "S 820105"}
            << QStringList{"000e0519442102010801000000|ЦТИИ+ЦТС", "820105|КВТ"};
        QTest::newRow("a note after the reply lands on the reply")
            << QStringList{"R 80000302", "T 80000302", "N Запрос соединения", "P 8100",
                           "N КВТ",      "S 8100",     "N Соединение"}
            << QStringList{"80000302|Запрос соединения", "8100|Соединение"};
        QTest::newRow("retransmission and the lost link's empty row")
            << QStringList{"P 0005001901188006",  "S 0005001901188006", "P 0005001901188006",
                           "N Повтор пакета!",    "S 0005001901188006", "P",
                           "N Разрыв соединения!"}
            << QStringList{"0005001901188006|", "0005001901188006|Повтор пакета!"};
        QTest::newRow("listen mode: a receipt without a row keeps the notes off it")
            << QStringList{"R 80000302", "T 80000302", "N Запрос соединения", "S 8100",
                           "N Соединение"}
            << QStringList{"80000302|Соединение", "8100|"};
        QTest::newRow("local queries in between")
            << QStringList{"R 820000",          "r 5230",
                           "T 820000",          "N КВТ",
                           "s 72303d",          "P 0005001901188006",
                           "S 0005001901188006"}
            << QStringList{"820000|КВТ", "5230|", "72303d|", "0005001901188006|"};
        QTest::newRow("a row whose datagram was not sent gives nothing")
            << QStringList{"P 8000", "N ЗАПРОС", "R 820000", "T 820000", "N КВТ"}
            << QStringList{"820000|КВТ"};
    }
    void notesGoToTheirDatagrams()
    {
        QFETCH(QStringList, script);
        QFETCH(QStringList, expected);
        for (const bool traceOn : {true, false}) {
            TraceLog trace;
            trace.TrassEnable = traceOn;
            CaptureRecorder rec(trace);
            QCOMPARE(rec.Start(path("notes.pcapng")), QString());
            play(trace, rec, script);
            rec.Stop();
            const pcapng::Capture c = pcapng::readFile(path("notes.pcapng"));
            QVERIFY2(c.error.isEmpty(), qPrintable(c.error));
            QCOMPARE(packets(c), expected);
            QCOMPARE(rec.PacketsWritten(), quint64(expected.size()));
            if (!traceOn)
                QCOMPARE(trace.GridRowCount(), 3); // the switched-off trace got nothing
        }
    }

    void traceUntouchedByRecording()
    {
        const QStringList script{"R 00090d19441802000401000000",
                                 "T 00090d19441802000401000000",
                                 "A ЦТС",
                                 "P 82010d",
                                 "N КВТ",
                                 "S 82010d"};
        TraceLog plain, recorded;
        CaptureRecorder rec(recorded);
        QCOMPARE(rec.Start(path("same.pcapng")), QString());
        play(plain, rec, script);
        play(recorded, rec, script);
        QCOMPARE(recorded.GridRowCount(), plain.GridRowCount());
        for (int r = 0; r < plain.rowCount(); ++r)
            for (int col : {TraceLog::ColNote, TraceLog::ColPacket})
                QCOMPARE(recorded.index(r, col).data(), plain.index(r, col).data());
        rec.Stop();
        QVERIFY(!recorded.observer);
    }

    void newestDatagramWrittenAfterTheHold()
    {
        TraceLog trace;
        CaptureRecorder rec(trace);
        QCOMPARE(rec.Start(path("hold.pcapng")), QString());
        QElapsedTimer t;
        t.start();
        play(trace, rec, {"R 830007", "T 830007", "N Передано"});
        QTRY_COMPARE_WITH_TIMEOUT(rec.PacketsWritten(), quint64(1), 2000);
        QVERIFY2(t.elapsed() >= CaptureRecorder::HoldInterval - 5,
                 qPrintable(QString::number(t.elapsed())));
        trace.TraceNote(QStringLiteral("поздно")); // its datagram is already in the file
        // Written without waiting for the stop: the file holds it while recording goes on.
        const pcapng::Capture c = pcapng::readFile(path("hold.pcapng"));
        QCOMPARE(packets(c), QStringList{"830007|Передано"});
        QVERIFY(rec.Recording());
    }

    void proposedName()
    {
        QCOMPARE(CaptureRecorder::ProposedName(QDateTime(QDate(2026, 12, 9), QTime(14, 5, 9))),
                 "trace-2026-12-09-14-05-09.pcapng");
    }

    void fileThatCannotBeCreated_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("no such folder") << dir.filePath("missing/trace.pcapng");
        QTest::newRow("a folder") << dir.path();
        QTest::newRow("device without room") << "/dev/full";
    }
    void fileThatCannotBeCreated()
    {
        QFETCH(QString, file);
        TraceLog trace;
        CaptureRecorder rec(trace);
        QSignalSpy changes(&rec, &CaptureRecorder::recordingChanged);
        const QString message = rec.Start(file);
        QVERIFY(message.contains(file));
        QVERIFY(!rec.Recording());
        QVERIFY(!trace.observer);
        QVERIFY(changes.isEmpty());
        rec.Record(DatagramTap::Received, FromAdapter, "x", true); // nothing happens
    }

    void writeFailureStopsTheRecording()
    {
        // The file may grow only a little past its headers; a write beyond fails (EFBIG).
        TraceLog trace;
        CaptureRecorder rec(trace);
        QSignalSpy failed(&rec, &CaptureRecorder::failed);
        QSignalSpy changes(&rec, &CaptureRecorder::recordingChanged);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(rec.Start(path("full.pcapng")), QString());
        rlimit small = old;
        small.rlim_cur = rlim_t(QFileInfo(path("full.pcapng")).size() + 200);
        setrlimit(RLIMIT_FSIZE, &small);
        for (int i = 0; i < 10 && rec.Recording(); ++i)
            play(trace, rec, {"R 00090d19441802000401000000", "T 00090d19441802000401000000"});
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!rec.Recording());
        QVERIFY(!trace.observer);
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes[1][0].toBool(), false);
        QVERIFY(failed.isEmpty()); // told from the event loop, not from inside the exchange
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(failed[0][0].toString().contains(path("full.pcapng")));
        const pcapng::Capture c = pcapng::readFile(path("full.pcapng"));
        QVERIFY2(c.error.isEmpty(), qPrintable(c.error)); // no block cut short at the end
        QVERIFY(!c.packets.isEmpty());                    // what was written before stays
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
