// SPDX-License-Identifier: GPL-3.0-or-later
// tavena-cli as a process against the kp-sim program on loopback: every subcommand's output
// and exit code, JSON read back, the refusals of bad input, a silent block, no adapter, and
// interruption.

#include "exchange/pcapngreader.h"
#include "testbench/protocoltools.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QXmlStreamReader>
#include <QtTest>
#include <csignal>

namespace
{
quint16 FreePort()
{
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}

// The simulated controlled point as a process, answering keep-alives after every link start
// so that one run of the tool after another finds it.
struct Sim {
    QProcess process;
    quint16 port = FreePort();
    explicit Sim(QStringList args)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(KPSIM_PROGRAM),
                      QStringList{"--port", QString::number(port), "--relink", "--quiet"} + args);
        if (!process.waitForStarted() || !process.waitForReadyRead(5000))
            qFatal("kp-sim did not start");
    }
    ~Sim()
    {
        process.terminate();
        process.waitForFinished(2000);
    }
};

struct Run {
    int code = -1;
    QString out, err;
    qint64 ms = 0;
    QJsonDocument json() const { return QJsonDocument::fromJson(out.toUtf8()); }
};
} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir dir; // settings of nobody: the tool reads only what it is given

    QStringList link(const Sim& sim) const
    {
        return {"--adapter",  "127.0.0.1",
                "--computer", "127.0.0.1",
                "--port",     QString::number(sim.port),
                "--settings", dir.filePath("none.conf")};
    }
    Run cli(const QStringList& args, int interruptAfterMs = 0, int signal = SIGINT)
    {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(CLI_PROGRAM), args);
        if (!p.waitForStarted())
            qFatal("tavena-cli did not start");
        if (interruptAfterMs > 0) {
            p.waitForFinished(interruptAfterMs);
            ::kill(pid_t(p.processId()), signal);
        }
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError()), t.elapsed()};
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void scanTextAndJson()
    {
        Sim sim({"--blocks", "ts:0,tit:2,tu:3"});
        const Run text = cli(link(sim) + QStringList{"scan"});
        QCOMPARE(text.code, 0);
        QCOMPARE(text.out.split('\n', Qt::SkipEmptyParts),
                 QStringList(
                     {"ts:0\tБлок ТСМ77  Адр= 0 TS v1.03 sim\tрестартов 1\tповторов передач 0",
                      "tit:2\tБлок ТИТМ77 Адр= 2 TIT v1.03 sim\tрестартов 1\tповторов передач 0",
                      "tu:3\tБлок ТУМ77  Адр= 3 TU v1.03 sim\tрестартов 1\tповторов передач 0"}));
        QVERIFY2(text.err.contains("поиск блоков: 100%"), qPrintable(text.err));

        const Run json = cli(link(sim) + QStringList{"scan", "--json"});
        QCOMPARE(json.code, 0);
        const QJsonArray blocks = json.json().array();
        QCOMPARE(blocks.size(), 3);
        const QJsonObject tu = blocks[2].toObject();
        QCOMPARE(tu["block"].toString(), "tu:3");
        QCOMPARE(tu["type"].toString(), "tu");
        QCOMPARE(tu["address"].toInt(), 3);
        QCOMPARE(tu["version"].toString(), "TU v1.03 sim");
        QCOMPARE(tu["restarts"].toInt(), 1);
        QCOMPARE(tu["outdated"].toBool(), false);
    }

    // Set by arguments and by a file, read back by a second run.
    void paramsSetAndGet()
    {
        Sim sim({"--blocks", "tu:3,ts:1"});
        Run set = cli(link(sim) + QStringList{"params", "set", "tu:3", "control_type=5",
                                              "out32_coef_max=4660"});
        QCOMPARE(set.code, 0);
        QVERIFY(set.out.contains("записаны и прочитаны обратно"));
        QFile file(dir.filePath("ts.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"values": {"in7_filter_ms": 30, "ts_cycle": 120}})");
        file.close();
        set = cli(link(sim) + QStringList{"params", "set", "ts:1", "--file", file.fileName()});
        QCOMPARE(set.code, 0);

        const Run tu = cli(link(sim) + QStringList{"params", "get", "tu:3", "--json"});
        QCOMPARE(tu.code, 0);
        const QJsonObject values = tu.json().object()["values"].toObject();
        QCOMPARE(values["control_type"].toInt(), 5);
        QCOMPARE(values["out32_coef_max"].toInt(), 4660);
        QCOMPARE(tu.json().object()["names"].toObject()["control_type"].toString(),
                 "Тип управления (0-1)");
        const Run ts = cli(link(sim) + QStringList{"params", "get", "ts:1"});
        QCOMPARE(ts.code, 0);
        QVERIFY(ts.out.contains("in7_filter_ms\t30\tВх 7 [3]\n"));
        QVERIFY(ts.out.startsWith("ts_cycle\t120\tВремя цикла ТС    (sec)\n"));
    }

    // Both ends record the exchange: what one sent, the other received, datagram for datagram.
    void bothEndsCapture()
    {
        const QString simFile = dir.filePath("sim.pcapng"), cliFile = dir.filePath("cli.pcapng");
        {
            Sim sim({"--blocks", "ts:0", "--capture", simFile});
            QCOMPARE(cli(link(sim) + QStringList{"scan", "--capture", cliFile}).code, 0);
        }
        const pcapng::Capture atSim = pcapng::readFile(simFile), atCli = pcapng::readFile(cliFile);
        QVERIFY2(atSim.error.isEmpty() && atCli.error.isEmpty(),
                 qPrintable(atSim.error + atCli.error));
        QList<QByteArray> sentByCli, receivedBySim;
        for (const pcapng::Packet& p : atCli.packets)
            if (p.destinationPort != p.sourcePort &&
                p.destinationPort == atSim.packets[0].destinationPort)
                sentByCli << p.payload;
        for (const pcapng::Packet& p : atSim.packets) {
            QVERIFY(p.checksumsValid);
            if (p.destinationPort == atSim.packets[0].destinationPort)
                receivedBySim << p.payload;
        }
        QVERIFY(sentByCli.size() > 20);
        QCOMPARE(receivedBySim, sentByCli);
    }

    // The out-of-date blocks flashed, as the window ticks them, and a second scan reading the
    // new version; then a run interrupted in the middle of its first block.
    void flashOutdatedAndInterrupted()
    {
        const QString image = dir.filePath("v9.rom");
        QCOMPARE(QProcess::execute(QStringLiteral(KPSIM_PROGRAM),
                                   {"--write-image", image, "--image-version", "V9 sim"}),
                 0);
        Sim sim({"--blocks", "ts:0,tit:2,tu:3", "--block-version", "tu:3=V9 sim"});
        Run r = cli(link(sim) + QStringList{"flash", image, "--outdated", "--json"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.json().object()["done"].toArray(), QJsonArray({"ts:0", "tit:2"}));
        QVERIFY2(r.err.contains("программирование блоков: 100%"), qPrintable(r.err));
        r = cli(link(sim) + QStringList{"scan", "--json"});
        for (const QJsonValue& b : r.json().array())
            QCOMPARE(b.toObject()["version"].toString(), "V9 sim");

        Sim slow({"--blocks", "ts:0,ts:1", "--reply-delay", "2"});
        r = cli(link(slow) + QStringList{"flash", image, "--blocks", "ts:1,ts:0"}, 3500);
        QCOMPARE(r.code, 130);
        QCOMPARE(r.out, "Прошиты: —\nПрошиты не до конца: ts:0\nНе тронуты: ts:1\n");
        QVERIFY2(r.err.contains("Прервано (программирование блоков)"), qPrintable(r.err));
    }

    // A lost receipt of the 99th memory write (ts:0 took it twice) and a block that does not
    // run the new firmware (ts:1 ignores the completion): both named, exit 1.
    void flashNamesWhatToProgramAgain()
    {
        const QString image = dir.filePath("v9.rom");
        QCOMPARE(QProcess::execute(QStringLiteral(KPSIM_PROGRAM),
                                   {"--write-image", image, "--image-version", "V9 sim"}),
                 0);
        Sim sim({"--blocks", "ts:0,ts:1", "--drop-receipt-at", "05:99", "--silent-to", "ts:1=0a"});
        const Run r = cli(link(sim) + QStringList{"flash", image, "--blocks", "ts:0,ts:1",
                                                  "--verify", "--timeout", "20"});
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out, "Прошиты: ts:1\nПрошить ещё раз (запрос повторялся): ts:0\n"
                        "Версия не та, что в образе: ts:1\n");
        QVERIFY2(r.err.contains("запрограммируйте их ещё раз"), qPrintable(r.err));
    }

    // The configuration of the whole point: saved, compared at once (exit 0), compared after a
    // parameter changed (exit 5, that parameter alone), restored (exit 0), compared again. A
    // file that does not do is refused before the link: exit 2, the place named.
    void backupDiffRestore()
    {
        Sim sim({"--blocks", "ts:1,tit:2,tu:3", "--param", "tu:3@0=5"});
        const QString file = dir.filePath("kp.json");
        Run r = cli(link(sim) + QStringList{"backup", file});
        QCOMPARE(r.code, 0);
        QCOMPARE(cli(link(sim) + QStringList{"diff", file}).code, 0);
        QCOMPARE(cli(link(sim) + QStringList{"params", "set", "tit:2", "aperture=7"}).code, 0);
        r = cli(link(sim) + QStringList{"diff", file, "--json"});
        QCOMPARE(r.code, 5);
        QCOMPARE(r.json().array(), QJsonArray({QJsonObject{{"block", "tit:2"},
                                                           {"key", "aperture"},
                                                           {"name", "Уставка передачи(Аппертура)"},
                                                           {"in_file", "50"},
                                                           {"in_block", "7"}}}));
        QCOMPARE(cli(link(sim) + QStringList{"restore", file}).code, 0);
        QCOMPARE(cli(link(sim) + QStringList{"diff", file}).code, 0);

        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray text = f.readAll().replace("\"aperture\": 50", "\"aperture\": -1");
        f.resize(0);
        f.write(text);
        f.close();
        r = cli({"--adapter", "127.0.0.1", "--port", "9", "--link-timeout", "1", "restore", file});
        QCOMPARE(r.code, 2); // not 3: nothing was tried on the link
        QVERIFY2(r.err.contains("blocks[1] (tit:2).values.aperture: значение -1"),
                 qPrintable(r.err));
    }

    // The module test on the simulator's bench: every relay passing, then a relay that drives
    // nothing giving exit 4; the log file where it was asked for, the matrix on standard output;
    // the protocol read back with pdftotext and the JUnit report checked against the JUnit
    // shape and read back.
    void benchPassesAndFinds_data()
    {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("final");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QStringList>("failed");
        QTest::newRow("sound bench")
            << QStringList{} << 0 << "Проверка завершена, ошибок не найдено"
            << "Неисправных реле нет" << QStringList{};
        QTest::newRow("relay 5 drives nothing")
            << QStringList{"--faulty-relay", "0:5"} << 4
            << "Проверка завершена. ВНИМАНИЕ: найдены ошибки"
            << "Неисправные реле: 5\n.*Реле 5, цикл 1: вход 5 = 1, ожидался 0"
            << QStringList{"relay 05"};
    }
    void benchPassesAndFinds()
    {
        QFETCH(QStringList, fault);
        QFETCH(int, code);
        QFETCH(QString, final);
        QFETCH(QString, verdict);
        QFETCH(QStringList, failed);
        Sim sim(QStringList{"--bench"} + fault);
        const QString logs = dir.filePath(QString::number(code));
        const QString pdf = logs + ".pdf", xml = logs + ".xml";
        const Run r = cli(link(sim) + QStringList{"bench", "--log-dir", logs, "--json", "--report",
                                                  pdf, "--junit", xml});
        QCOMPARE(r.code, code);
        const QJsonObject o = r.json().object();
        QCOMPARE(o["final"].toString(), final);
        const QJsonArray relays = o["relays"].toArray();
        QCOMPARE(relays.size(), 32);
        QCOMPARE(relays[4].toObject()["result"].toString(), code ? "ERROR" : "OK");
        QCOMPARE(relays[0].toObject()["inputs"].toString(), "0" + QString(31, '1'));
        QVERIFY(o["log"].toString().startsWith(logs + "/TestLogs/"));
        QVERIFY(QFile::exists(o["log"].toString()));
        QVERIFY2(r.err.contains("Начинаю проверку модуля"), qPrintable(r.err));

        const auto text = PdfText(pdf);
        const auto complaint = JunitComplaint(xml);
        if (!text || !complaint)
            QSKIP("pdftotext or xmllint is not installed (scripts/deps.sh installs them)");
        for (const QString& expected :
             {QString("Протокол проверки модулей"),
              QString("Блок ТС, адрес 0 +версия не определена"), QString("Блок ТУ, адрес 0"),
              QString("Проверка +завершена"), verdict,
              QString("\n *5(\\s+[01]){32}\\s+%1\n").arg(code ? "ERROR" : "OK"), final,
              QString("Проверил: _+ +Подпись: _+")})
            QVERIFY2(QRegularExpression(expected, QRegularExpression::DotMatchesEverythingOption)
                         .match(*text)
                         .hasMatch(),
                     qPrintable(expected + "\n" + *text));
        QVERIFY2(complaint->isEmpty(), qPrintable(*complaint));
        QFile report(xml);
        QVERIFY(report.open(QIODevice::ReadOnly));
        QXmlStreamReader x(&report);
        int suites = 0;
        QStringList cases, failures;
        while (!x.atEnd()) {
            if (x.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (x.name() == u"testsuite")
                ++suites;
            else if (x.name() == u"testcase" &&
                     x.attributes().value("name").startsWith(QLatin1String("relay ")))
                cases << x.attributes().value("name").toString();
            else if (x.name() == u"failure")
                failures << cases.last();
        }
        QVERIFY(!x.hasError());
        QCOMPARE(suites, 1);
        QCOMPARE(cases.size(), 32);
        QCOMPARE(cases.first(), "relay 01");
        QCOMPARE(failures, failed);
    }

    // Calibration and interlock logic set from a script and read back.
    void calibrationAndInterlock()
    {
        Sim sim({"--blocks", "tit:2,tu:3", "--param", "tu:3@0=5"});
        Run r = cli(link(sim) +
                    QStringList{"calibration", "set", "tit:2", "--max", "20000", "--zone", "7"});
        QCOMPARE(r.code, 0);
        r = cli(link(sim) + QStringList{"calibration", "get", "tit:2", "--json"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.json().object()["max"].toInt(), 20000);
        QCOMPARE(r.json().object()["zone"].toInt(), 7);
        QVERIFY(r.err.isEmpty()); // a one-block read shows no progress

        QFile logic(dir.filePath("in.blk"));
        QVERIFY(logic.open(QIODevice::WriteOnly));
        logic.write("@ NEW\r\nX1=Y2\n@\n");
        logic.close();
        r = cli(link(sim) + QStringList{"interlock", "write", "tu:3", logic.fileName()});
        QCOMPARE(r.code, 0);
        const QString back = dir.filePath("out.blk");
        r = cli(link(sim) + QStringList{"interlock", "read", "tu:3", back});
        QCOMPARE(r.code, 0);
        QFile read(back);
        QVERIFY(read.open(QIODevice::ReadOnly));
        QCOMPARE(read.readAll(), QByteArray("@ NEW \r\nX1=Y2 \r\n@\r\n"));
    }

    void badInputIsRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("no subcommand") << QStringList{} << "Не задана подкоманда";
        QTest::newRow("unknown subcommand") << QStringList{"flush"} << "«flush»";
        QTest::newRow("bad block") << QStringList{"params", "get", "tx:1"} << "«tx:1»";
        QTest::newRow("address past 7") << QStringList{"params", "get", "ts:8"} << "«ts:8»";
        QTest::newRow("unknown key")
            << QStringList{"params", "set", "tu:3", "speed=1"} << "«speed»";
        QTest::newRow("not a number")
            << QStringList{"params", "set", "tu:3", "control_type=x"} << "control_type: «x»";
        QTest::newRow("telecontrol of a ТС block") << QStringList{"tc", "ts:1", "2"} << "tu:N";
        QTest::newRow("relay past 256") << QStringList{"tc", "tu:3", "257"} << "«257»";
        QTest::newRow("bad retries") << QStringList{"--retries", "-1", "scan"} << "--retries";
        QTest::newRow("calibration of a ТС block")
            << QStringList{"calibration", "get", "ts:1"} << "tit:N";
        QTest::newRow("interlock of a ТИТ block")
            << QStringList{"interlock", "read", "tit:1", "x.blk"} << "tu:N";
        QTest::newRow("flash without a choice") << QStringList{"flash", "x.rom"} << "--outdated";
        QTest::newRow("flash of a missing image")
            << QStringList{"flash", "/nonexistent.rom", "--outdated"} << "Чтение файла";
        QTest::newRow("protocol into a missing folder")
            << QStringList{"bench", "--report", "/nonexistent/p.pdf"} << "«/nonexistent/p.pdf»";
        QTest::newRow("CSV without inputs") << QStringList{"watch", "--csv"} << "--series";
        QTest::newRow("CSV of an unknown input")
            << QStringList{"watch", "--csv", "--series", "tit:2/5,tu:3/1"} << "«tu:3/1»";
    }
    void badInputIsRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        Sim sim({"--blocks", "tu:3"});
        const Run r = cli(link(sim) + args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
    }

    // A block that stops answering: exit 1 with the stage named as the window names it; with
    // retries the same request is tried again and the read succeeds.
    void silentBlockNamesTheStage()
    {
        Sim sim({"--blocks", "ts:0", "--silent-at", "ts:0=06:2"});
        Run r = cli(link(sim) + QStringList{"--timeout", "30", "params", "get", "ts:0"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("Считывание версии: Нет ответа от блока!"), qPrintable(r.err));
        Sim again({"--blocks", "ts:0", "--silent-at", "ts:0=06:2"});
        r = cli(link(again) +
                QStringList{"--timeout", "30", "--retries", "1", "params", "get", "ts:0"});
        QCOMPARE(r.code, 0);
    }

    void noAdapterWithinTheLinkTimeout()
    {
        const Run r = cli({"--adapter", "127.0.0.1", "--computer", "127.0.0.1", "--port",
                           QString::number(FreePort()), "--link-timeout", "1", "scan"});
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains("Нет связи с адаптером"), qPrintable(r.err));
        QVERIFY2(r.ms >= 900 && r.ms < 3000, qPrintable(QString::number(r.ms)));
    }

    void clockAndTelecontrol()
    {
        Sim sim({"--blocks", "tu:3"});
        Run r = cli(link(sim) + QStringList{"clock", "set"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.startsWith("Время установлено: "));
        r = cli(link(sim) + QStringList{"tc", "tu:3", "5"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("ТУ выполнено"), qPrintable(r.out));
        Sim failing({"--blocks", "tu:3", "--tu-status", "3:5=7"});
        r = cli(link(failing) + QStringList{"tc", "tu:3", "5"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.contains("(большое сопротивление реле (обрыв)!)"), qPrintable(r.out));
    }

    // watch prints one JSON object per record until interrupted, which is its normal end; an
    // interrupted scan ends at once and says where.
    void watchAndInterrupt()
    {
        Sim sim({"--blocks", "ts:0,tit:1", "--ts-rate", "20", "--tit-rate", "20", "--event-rate",
                 "20"});
        Run r = cli(link(sim) + QStringList{"watch", "--json"}, 1500);
        QCOMPARE(r.code, 0);
        QSet<QString> kinds;
        for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            QVERIFY2(!o.isEmpty(), qPrintable(line));
            kinds << o["kind"].toString();
        }
        QVERIFY2(kinds.contains("states") && kinds.contains("readings") && kinds.contains("event"),
                 qPrintable(QStringList(kinds.values()).join(',')));

        Sim silent({"--blocks", "ts:0,tit:1", "--silent-to", "tit:1=0e"});
        r = cli(link(silent) + QStringList{"scan"}, 2600, SIGTERM);
        QCOMPARE(r.code, 130);
        QVERIFY2(r.err.contains("Прервано (поиск блоков)"), qPrintable(r.err));
        QVERIFY2(r.ms < 3200, qPrintable(QString::number(r.ms)));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
