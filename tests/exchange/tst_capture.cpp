// SPDX-License-Identifier: GPL-3.0-or-later
// Recording the exchange to a pcapng file: the file's blocks as a reader sees them, the notes
// of the trace rows as the packets' comments (also with the trace switched off), the hold of
// the newest datagram, and files that cannot be created or written.

#include "exchange/capture.h"
#include "pcapngreader.h"
#include "tshark.h"

#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace
{
const capture::UdpEnds ToAdapter{0x7F000001, 40001, 0x7F000002, 972};
const capture::UdpEnds FromAdapter{0x7F000002, 972, 0x7F000001, 40001};
const capture::UdpEnds Query{0x7F000001, 40100, 0x7F000001, 956};
const capture::UdpEnds Answer{0x7F000001, 956, 0x7F000001, 955};
const capture::UdpEnds Broadcast{0x7F000001, 40001, 0xFFFFFFFF, 972};
const capture::UdpEnds OtherPort{0x7F000002, 9720, 0x7F000001, 40001}; // found by the heuristic

// One datagram for the dissector and the fields it must decode ("" for an absent field).
struct Dissected {
    const char* name;
    const capture::UdpEnds& ends;
    const char* hex;
    QStringList fields; // "field=value"
};
const QList<Dissected>& DissectorCases()
{
    static const QList<Dissected> cases{
        {"keep-alive", ToAdapter, "8000", {"tavena.who=КОМП", "tavena.note=ЗАПРОС"}},
        {"connection request",
         FromAdapter,
         "8000030302"
         "4b7053696d2061646170746572"
         "00",
         {"tavena.who=Тавена", "tavena.note=Запрос соединения", "tavena.ann.major=3",
          "tavena.ann.text=KpSim adapter"}},
        {"address request",
         FromAdapter,
         "8000020302"
         "020000000972"
         "7f000002"
         "4b7053696d",
         {"tavena.note=Запрос Адреса", "tavena.ann.mac=02:00:00:00:09:72",
          "tavena.ann.ip=127.0.0.2"}},
        {"address reply",
         Broadcast,
         "813702"
         "00000000"
         "ffffff00"
         "020000000972"
         "7f000002"
         "7f000001"
         "202020202020202020202020202020202020202020202020202020202020202020",
         {"tavena.who=<- ", "tavena.note=Адрес", "tavena.addr.mask=255.255.255.0",
          "tavena.addr.adapter=127.0.0.2", "tavena.addr.computer=127.0.0.1"}},
        {"KM4 link start",
         ToAdapter,
         "8100"
         "43325320"
         "00",
         {"tavena.note=Соединение", "tavena.link.mode=KM4 CAN1-50kb", "tavena.link.channel=1"}},
        {"configuration read",
         ToAdapter,
         "00070319"
         "c418000002"
         "1000",
         {"tavena.who=КОМП", "tavena.seq=3",
          "tavena.message=Запрос конфигурации: Чтение конфигурации", "tavena.rec.subfunction=0x00",
          "tavena.rec.address=0", "tavena.cfg.offset=16", "tavena.note="}},
        {"adapter's receipt",
         FromAdapter,
         "820103",
         {"tavena.who=Тавена", "tavena.note=КВТ", "tavena.seq=3"}},
        {"transmission report", FromAdapter, "830003", {"tavena.note=Передано"}},
        {"configuration reply",
         FromAdapter,
         "000d0519"
         "c418000008"
         "0011223344556677",
         {"tavena.note=Конф", "tavena.rec.kind=Ответ блока", "tavena.rec.data=0011223344556677"}},
        {"program's receipt", ToAdapter, "820105", {"tavena.who=КОМП", "tavena.note=КВТ"}},
        {"telesignal event",
         FromAdapter,
         "000c0619"
         "448002a407"
         "e8030000"
         "1122"
         "05",
         {"tavena.note=ТС", "tavena.ts.input=5", "tavena.ts.archive=5",
          "tavena.ts.event=ТС  Блок = 2 Номер = 5 Время =00:16:40(8721) Значение = 1 ДБ=0 "}},
        {"counter, then telesignal states",
         FromAdapter,
         "00170719"
         "4421021108"
         "e8030000"
         "10000000"
         "4400020005"
         "01000080"
         "07",
         {"tavena.note=ЦТИИ+ЦТС", "tavena.rec.kind=Счётчик ТИИ;Состояния ТС",
          "tavena.tii.channel=17", "tavena.tii.value=1000",
          "tavena.ts.states=10000000000000000000000000000001"}},
        {"telecontrol failure",
         FromAdapter,
         "00090819"
         "4200030104"
         "00021234",
         {"tavena.note=ТУ ошибка", "tavena.tu.status=2",
          "tavena.tu.text=Ошибка Блок = 4 (2) Коэф реле=4660;"
          "(в конф-ции неправильный тип управления!)"}},
        {"telecontrol diagnostics",
         FromAdapter,
         "00090919"
         "4200020204"
         "07d00546",
         {"tavena.note=ТУ Диаг", "tavena.tu.temperature_code=2000", "tavena.tu.voltage_code=1350"}},
        {"unknown message type",
         FromAdapter,
         "00030a18"
         "010203",
         {"tavena.note=ОШ № протокол", "_ws.expert.message=Неизвестный тип сообщения 0x18"}},
        {"length byte disagrees",
         FromAdapter,
         "000a0b19"
         "4400020004"
         "01000080",
         {"tavena.note=ЦТС",
          "_ws.expert.message=Байт длины 10, а после заголовка 9 байт;Запись короче своих полей"}},
        {"DLC past the end",
         FromAdapter,
         "000b0c19"
         "4800020008"
         "010002000300",
         {"tavena.note=ЦТИТ", "tavena.tit.reading=1;2;3",
          "_ws.expert.message=DLC 8 выходит за конец датаграммы: есть 6 байт данных"}},
        {"heuristic, another port",
         OtherPort,
         "000a0d19"
         "4400010005"
         "ff00000003",
         {"tavena.who=Тавена", "tavena.note=ЦТС",
          "tavena.ts.states=11111111000000000000000000000000"}},
        {"heuristic leaves other datagrams alone",
         OtherPort,
         "68656c6c6f",
         {"tavena.who=", "tavena.note=", "tavena.message="}},
        {"local query",
         Query,
         "5230",
         {"tavena.message=Опрос ТС: ТС блока 0", "tavena.query.row=1"}},
        {"local query for interlocks", Query, "523f", {"tavena.query.target=блокировки блока 7"}},
        {"local answer",
         Answer,
         "72303d"
         "31303030303030303030303030303030303030303030303030303030303030"
         "31",
         {"tavena.message=Ответ на опрос ТС",
          "tavena.query.states=10000000000000000000000000000001"}},
    };
    return cases;
}
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

    void dissectorDecodes_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < DissectorCases().size(); ++i)
            QTest::newRow(DissectorCases()[i].name) << i;
    }
    void dissectorDecodes()
    {
        QFETCH(int, index);
        if (tshark::Program().isEmpty())
            QSKIP("tshark is not installed (scripts/deps.sh installs it)");
        // One capture of every case, decoded once.
        static QList<QMap<QString, QString>> frames;
        static QString error;
        if (frames.isEmpty() && error.isEmpty()) {
            PcapngWriter w;
            QVERIFY(w.Open(path("dissector.pcapng"), &error));
            QStringList fields;
            qint64 t = 1796832309000000;
            for (const Dissected& c : DissectorCases()) {
                w.Append(t++, c.ends, QByteArray::fromHex(c.hex), QString());
                for (const QString& f : c.fields)
                    if (!fields.contains(f.section(u'=', 0, 0)))
                        fields << f.section(u'=', 0, 0);
            }
            QVERIFY(w.Flush(&error));
            w.Close();
            frames = tshark::Fields(path("dissector.pcapng"), fields, {}, &error);
        }
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(frames.size(), DissectorCases().size());
        for (const QString& f : DissectorCases()[index].fields) {
            const QString name = f.section(u'=', 0, 0);
            QCOMPARE(frames[index].value(name), f.section(u'=', 1));
        }
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
