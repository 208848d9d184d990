// SPDX-License-Identifier: GPL-3.0-or-later
// Recording a real exchange: the program's core against the simulated controlled point on
// loopback, with the local query service beside it. The capture file is read back and, where
// tshark is installed, decoded with the repository's dissector.

#include "app/programcore.h"
#include "kpsim.h"
#include "pcapngreader.h"
#include "tshark.h"

#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
bool PrivateNet()
{
    return qEnvironmentVariable("TAVENA_PRIVATE_NET") == QLatin1String("1");
}
} // namespace

class TestCaptureLink : public QObject
{
    Q_OBJECT

    // The program's core as the main window has it, its recorder wired to the sockets.
    struct Program : ProgramCore {
        explicit Program(quint16 simPort)
        {
            Link.settings.BaseIP = QStringLiteral("127.0.0.1");
            Link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
            Link.settings.BasePortD = QString::number(simPort);
            Link.settings.DebugMode = true;
            Link.settings.Timeout = QStringLiteral("500"); // no retransmissions on a busy machine
            Link.Timer4.setInterval(100);
        }
    };

    QTemporaryDir dir;
    QString file;
    // What the exchange left, for the checks of the capture.
    quint16 simPort = 0, programPort = 0, clientPort = 0, servicePort = 0;
    int simReceived = 0;
    quint32 programReceived = 0;
    QByteArray connectionRequest;
    pcapng::Capture recorded;

    // Waits, handling events, until done() or the time is up.
    template <typename F> static bool until(F done, int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QTest::qWait(10);
        return done();
    }

    static QString endsText(const pcapng::Packet& k)
    {
        return QStringLiteral("%1:%2 -> %3:%4")
            .arg(k.source.toString())
            .arg(k.sourcePort)
            .arg(k.destination.toString())
            .arg(k.destinationPort);
    }

private slots:
    // The exchange: link start, a configuration read, a telesignal event, a local query; the
    // trace is switched off after the link start.
    void initTestCase()
    {
        kpsim::Options o;
        o.port = 0;
        o.blocks = {{kpsim::BlockType::Ts, 0, {}}, {kpsim::BlockType::Tu, 3, {}}};
        // The address reply is a broadcast: only where it cannot leave the machine.
        o.addressRequestOnKeepAlive = PrivateNet();
        kpsim::KpSim sim(o);
        QVERIFY(sim.start());
        simPort = sim.localPort();
        Program p(simPort);
        p.Link.settings.BaseMacAdapter = QStringLiteral("02:00:00:00:09:72");
        QUdpSocket client; // another program asking the local query service
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        clientPort = client.localPort();
        p.LocalQuery.answerPort = clientPort;
        QCOMPARE(p.LocalQuery.Bind(0), QString());
        servicePort = p.LocalQuery.LocalSender.localPort();

        file = dir.filePath("exchange.pcapng");
        QCOMPARE(p.Capture.Start(file), QString());
        QCOMPARE(p.Link.Enable(true), QString());
        QVERIFY(until([&] { return p.Link.LinkOpen && sim.linkStarted(); }));
        p.Link.Timer4.stop();

        p.Trace.TrassEnable = false;
        const int gridRows = p.Trace.GridRowCount();
        QVERIFY(p.Link.SendAndWait(packet::Request(0xC4, 0x18, 0, 0x00, {0x08, 0x00})) ==
                Reply::Answered);
        const quint32 beforeEvent = p.Link.RxCount;
        QVERIFY(sim.setInput(0, 5, true));
        QVERIFY(
            until([&] { return p.Link.RxCount > beforeEvent && sim.unacknowledgedCount() == 0; }));
        client.writeDatagram("R0", QHostAddress::LocalHost, servicePort);
        QVERIFY(until([&] { return client.hasPendingDatagrams(); }));
        QVERIFY(until([&] { return sim.unacknowledgedCount() == 0; }));
        QCOMPARE(p.Trace.GridRowCount(), gridRows); // the switched-off trace got nothing
        p.Capture.Stop();

        programPort = p.Link.SocketData.localPort();
        simReceived = sim.counters().datagramsReceived;
        programReceived = p.Link.RxCount;
        connectionRequest = sim.connectionRequestBytes();
        recorded = pcapng::readFile(file);
        QVERIFY2(recorded.error.isEmpty(), qPrintable(recorded.error));
    }

    void everyDatagramWithItsAddressesAndTimes()
    {
        const QHostAddress local(QHostAddress::LocalHost);
        const QHostAddress broadcast(QHostAddress::Broadcast);
        int toSim = 0, fromSim = 0, broadcasts = 0, queries = 0, answers = 0;
        quint64 previous = 0;
        for (const pcapng::Packet& k : recorded.packets) {
            QVERIFY(k.checksumsValid);
            QVERIFY(k.timestamp >= previous);
            previous = k.timestamp;
            const auto ends = std::tuple(k.source, k.sourcePort, k.destination, k.destinationPort);
            if (ends == std::tuple(local, programPort, local, simPort))
                ++toSim;
            else if (ends == std::tuple(local, simPort, local, programPort))
                ++fromSim;
            else if (ends == std::tuple(local, programPort, broadcast, simPort))
                ++broadcasts;
            else if (ends == std::tuple(local, clientPort, local, servicePort))
                ++queries;
            else if (ends == std::tuple(local, servicePort, local, clientPort))
                ++answers;
            else
                QFAIL(qPrintable(endsText(k)));
        }
        QCOMPARE(toSim, simReceived);
        QCOMPARE(quint32(fromSim), programReceived);
        QCOMPARE(broadcasts, PrivateNet() ? 1 : 0);
        QCOMPARE(queries, 1);
        QCOMPARE(answers, 1);
    }

    void notesBecomeComments()
    {
        QMap<QByteArray, QStringList> byPayload;
        QStringList all;
        for (const pcapng::Packet& k : recorded.packets) {
            byPayload[k.payload] << k.comment;
            all << k.comment;
        }
        QVERIFY(byPayload[QByteArray::fromHex("8000")].contains("ЗАПРОС"));
        QVERIFY(byPayload[connectionRequest].contains("Запрос соединения"));
        QCOMPARE(byPayload[QByteArray::fromHex("8100")], QStringList{"Соединение"});
        // Written while the trace was switched off.
        for (const char* note : {"Конф", "ТС+ЦТС", "КВТ", "Передано"})
            QVERIFY2(all.contains(note), note);
        if (PrivateNet())
            QVERIFY(all.contains("Адрес"));
        QCOMPARE(byPayload["R0"], QStringList{QString()}); // the local service is not traced
    }

    void dissectorDecodesTheRecording()
    {
        if (tshark::Program().isEmpty())
            QSKIP("tshark is not installed (scripts/deps.sh installs it)");
        const QStringList fields{"tavena.who",        "tavena.note",     "tavena.message",
                                 "tavena.rec.kind",   "tavena.ts.input", "tavena.ann.text",
                                 "tavena.cfg.offset", "frame.comment"};
        QString error;
        const auto frames = tshark::Fields(
            file, fields,
            {QStringLiteral("-o"), QStringLiteral("tavena.port:%1").arg(simPort),
             QStringLiteral("-o"), QStringLiteral("tavena.query_port:%1").arg(servicePort),
             QStringLiteral("-o"), QStringLiteral("tavena.answer_port:%1").arg(clientPort)},
            &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(frames.size(), recorded.packets.size());
        QSet<QString> seen;
        for (const auto& f : frames) {
            const QString& note = f["tavena.note"];
            // The dissector's note is the trace's, wherever the trace had one to give (but
            // for the notes of the request channel's own state).
            const QString& comment = f["frame.comment"];
            if (!comment.isEmpty() && comment != "Повтор пакета!" && comment != "ERR КВТ")
                QCOMPARE(note, comment);
            if (f["tavena.who"] == "КОМП" && note == "ЗАПРОС")
                seen << "keep-alive";
            if (f["tavena.who"] == "Тавена" && note == "Запрос соединения" &&
                f["tavena.ann.text"] == "KpSim adapter")
                seen << "announcement";
            if (f["tavena.message"] == "Запрос конфигурации: Чтение конфигурации" &&
                f["tavena.cfg.offset"] == "8")
                seen << "configuration read";
            if (note == "Конф" && f["tavena.rec.kind"] == "Ответ блока")
                seen << "configuration reply";
            if (note == "ТС+ЦТС" && f["tavena.ts.input"] == "5")
                seen << "telesignal event";
            if (note == "КВТ")
                seen << "receipt";
            if (f["tavena.message"] == "Опрос ТС: ТС блока 0")
                seen << "local query";
        }
        for (const char* what :
             {"keep-alive", "announcement", "configuration read", "configuration reply",
              "telesignal event", "receipt", "local query"})
            QVERIFY2(seen.contains(what), what);
    }
};

QTEST_GUILESS_MAIN(TestCaptureLink)
#include "tst_capturelink.moc"
