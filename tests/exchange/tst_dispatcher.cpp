// SPDX-License-Identifier: GPL-3.0-or-later
// The receive dispatcher: classification of every datagram, the record walk with its notes,
// receipts, the waits it releases, and datagrams that lie or come from elsewhere.

#include "linkfixture.h"

class TestDispatcher : public QObject
{
    Q_OBJECT

    static const QHostAddress& adapter()
    {
        static const QHostAddress a(QStringLiteral("127.0.0.1"));
        return a;
    }
    static QByteArray hex(const char* h) { return QByteArray::fromHex(h); }

private slots:
    void classification_data()
    {
        QTest::addColumn<QByteArray>("d");
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("receipt");
        QTest::newRow("receipt 0x82") << hex("820000") << "КВТ" << false;
        QTest::newRow("receipt bit 0x20") << hex("220000") << "КВТ" << false;
        QTest::newRow("stale receipt") << hex("820005") << "ERR КВТ" << false;
        QTest::newRow("transmission report") << hex("830000") << "Передано" << false;
        QTest::newRow("other with bit 0x80") << hex("900707") << "" << true;
        QTest::newRow("four bytes") << hex("00000719") << "" << true;
        QTest::newRow("adapter diagnostics") << hex("00030afd010203") << "Диагн адапт" << true;
        QTest::newRow("unknown type") << hex("00030b18010203") << "ОШ № протокол" << true;
        QTest::newRow("other CAN channel") << hex("01070c19441802000401000000") << "" << true;
        QTest::newRow("data") << hex("00090d19441802000401000000") << "ЦТС" << true;
    }
    void classification()
    {
        QFETCH(QByteArray, d);
        QFETCH(QString, note);
        QFETCH(bool, receipt);
        LinkFixture f;
        f.open();
        f.link.Receive(d, adapter());
        QCOMPARE(f.link.RxCount, 1u);
        QVERIFY(f.cell(1, 0).startsWith("Тавена["));
        QCOMPARE(f.cell(1, TraceLog::ColNote), note);
        QVERIFY(f.link.TimerDisconnect.isActive());
        if (receipt) {
            QTRY_COMPARE(f.sent.size(), 1);
            QCOMPARE(f.sent[0], packet::Bytes({0x82, 0x01, uint8_t(d[2])}));
            QCOMPARE(f.cell(2, 0).left(4), "КОМП");
        } else {
            QTest::qWait(30);
            QVERIFY(f.sent.isEmpty());
        }
    }

    void receiptsMoveTheSequence()
    {
        LinkFixture f;
        f.open();
        f.link.Receive(hex("820000"), adapter());
        QCOMPARE(f.link.TxSequence, 1u);
        QVERIFY(f.link.ReceiptArrived);
        f.link.Receive(hex("220001"), adapter());
        QCOMPARE(f.link.TxSequence, 2u);
        f.link.Receive(hex("8200"), adapter()); // no sequence byte: cannot match
        QCOMPARE(f.link.TxSequence, 2u);
        QCOMPARE(f.trace.NewestNote(), "ERR КВТ");
    }

    void records_data()
    {
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<QString>("note");
        QTest::newRow("R1 TIT time stamp") << hex("48180240"
                                                  "04"
                                                  "01020304")
                                           << "ЗТИТ";
        QTest::newRow("R2 TIT values") << hex("4818010e"
                                              "06"
                                              "010002000300")
                                       << "ЦТИТ";
        QTest::newRow("R3 TIT empty") << hex("48180100"
                                             "00")
                                      << "КВТB";
        QTest::newRow("R4 TII") << hex("44210011"
                                       "08"
                                       "0100000002000000")
                                << "ЦТИИ";
        QTest::newRow("R4 TII empty") << hex("443d0011"
                                             "00")
                                      << "КВТB";
        QTest::newRow("R5 TS states") << hex("44180300"
                                             "05"
                                             "0100008007")
                                      << "ЦТС";
        QTest::newRow("R5 TS empty") << hex("44180300"
                                            "00")
                                     << "КВТB";
        QTest::newRow("R6 interlock") << hex("4218000a"
                                             "05"
                                             "ff01000000")
                                      << "БЛК";
        QTest::newRow("R7 TS event") << hex("44800200"
                                            "03"
                                            "050100")
                                     << "ТС";
        QTest::newRow("R7 TS event empty") << hex("449c0200"
                                                  "00")
                                           << "КВТB";
        QTest::newRow("R9 TU diag") << hex("42180202"
                                           "04"
                                           "05460800")
                                    << "ТУ Диаг";
        QTest::newRow("R10 TU diag") << hex("42180208"
                                            "04"
                                            "05460800")
                                     << "ТУ Диаг";
        QTest::newRow("R11 TU ready") << hex("42180503"
                                             "01"
                                             "00")
                                      << "ТУ готово";
        QTest::newRow("R12 TU OK") << hex("42180501"
                                          "02"
                                          "0100")
                                   << "ТУ OK";
        QTest::newRow("R12 TU error") << hex("42180501"
                                             "02"
                                             "0103")
                                      << "ТУ ошибка";
        QTest::newRow("R12 TU without code") << hex("42180501"
                                                    "01"
                                                    "01")
                                             << "ТУ ошибка";
        QTest::newRow("other function") << hex("50180501"
                                               "01"
                                               "01")
                                        << "";
        QTest::newRow("0x42 other sub") << hex("42180507"
                                               "01"
                                               "01")
                                        << "";
        QTest::newRow("R4 then R5") << hex("44210011"
                                           "08"
                                           "0100000002000000"
                                           "44180300"
                                           "05"
                                           "0100008007")
                                    << "ЦТИИ+ЦТС";
        QTest::newRow("reply then appended") << hex("c4180306"
                                                    "08"
                                                    "3132333435363738"
                                                    "44180300"
                                                    "05"
                                                    "0100008007")
                                             << "Конф+ЦТС";
        QTest::newRow("appended then reply") << hex("44180300"
                                                    "05"
                                                    "0100008007"
                                                    "c2180106"
                                                    "01"
                                                    "00")
                                             << "Конф";
    }
    void records()
    {
        QFETCH(QByteArray, records);
        QFETCH(QString, note);
        LinkFixture f;
        f.open();
        int handled = 0;
        f.dispatcher.RegisterRecordHandler([&](const CanRecord&) { ++handled; });
        QByteArray d = hex("000011") + char(0x19) + records;
        d[1] = char(records.size());
        f.link.Receive(d, adapter());
        QCOMPARE(f.cell(1, TraceLog::ColNote), note);
        QVERIFY(handled >= 1);
        QTRY_COMPARE(f.sent.size(), 1); // one receipt per datagram
        QCOMPARE(f.sent[0], hex("820111"));
    }

    // A waiting request to block c4/3 is released by its block's reply alone: not by an
    // announcement answer (byte 7 0xFF), an ignored record (0x0F) or another block's reply.
    // The reply gives DLC + 1 bytes, the last the byte after the data; higher indexes keep
    // theirs. A reply that comes when nothing waits changes nothing; a record that lies about
    // its length is cut at the datagram's end.
    void blockRepliesReleaseOnlyTheirWait()
    {
        LinkFixture f;
        f.open();
        QList<QByteArray> replies;
        f.onSent = [&](const QByteArray& d) {
            if (d.size() < 4 || d[3] != 0x19)
                return; // the program's receipts
            f.fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
            for (const QByteArray& r : std::exchange(replies, {}))
                f.fromAdapter(r);
        };
        const TPacket request = packet::Request(0xC4, 0x18, 3, 0x06, {});
        replies = {hex("000a0119c41803ff00c818050000"), hex("00060219c418030f01aa"),
                   hex("000d0319c8180306084141414141414141"),
                   hex("000d0419c4180306083132333435363738")};
        QCOMPARE(f.link.SendAndWait(request), Reply::Answered);
        QCOMPARE(f.link.ReplyData->left(9), QByteArray("12345678") + '\0');
        replies = {hex("00080519c418030603010203")};
        QCOMPARE(f.link.SendAndWait(request), Reply::Answered);
        QCOMPARE(f.link.ReplyData->left(5), hex("0102030035"));

        f.link.Receive(hex("00090619c418030602010277"), adapter());
        QCOMPARE(f.link.ReplyData->left(3), hex("010203"));
        // DLC 200 in a datagram that holds two data bytes; the length byte also lies
        replies = {hex("00ff0719c4180306c80102")};
        QCOMPARE(f.link.SendAndWait(request), Reply::Answered);
        QCOMPARE(f.link.ReplyData->left(3), hex("010200"));
        QCOMPARE(f.link.ReplyData->at(100), '\0');
    }

    void lyingRecordsAreCutAtTheDatagramsEnd()
    {
        LinkFixture f;
        f.open();
        // a record header that does not fit ends the walk
        f.link.Receive(hex("00"
                           "20"
                           "06"
                           "19"
                           "44180300"
                           "05"
                           "01"
                           "4418"),
                       adapter());
        QCOMPARE(f.cell(f.trace.NewestRow() - 1, TraceLog::ColNote), "ЦТС");
        f.link.Receive(QByteArray(), adapter());
        f.link.Receive(hex("80"), adapter());
        f.link.Receive(hex("8000"), adapter());
        QCOMPARE(f.link.RxCount, 4u);
    }

    void listenNotesStampDifferences()
    {
        LinkFixture f;
        f.open();
        f.trace.Listen = true;
        // stamp at record offset 13 (little-endian): 65530, then 4
        const QByteArray first = hex("0012011944180300"
                                     "08"
                                     "0000000000000000"
                                     "faff"
                                     "000000");
        f.link.Receive(first, adapter());
        QCOMPARE(f.dispatcher.LastStamp, 65530u);
        f.link.Receive(hex("0012021944180300"
                           "08"
                           "0000000000000000"
                           "0400"
                           "000000"),
                       adapter());
        QVERIFY2(f.notes().join('|').contains("{10}"), qPrintable(f.notes().join('|')));
        QCOMPARE(f.dispatcher.LastStamp, 4u);
        // a record too short to hold the stamp leaves it alone
        f.link.Receive(hex("000a031944180300"
                           "05"
                           "0100000000"),
                       adapter());
        QCOMPARE(f.dispatcher.LastStamp, 4u);
    }

    void announcementsDoNotRestartTheInactivityTimer()
    {
        LinkFixture f;
        f.open();
        f.link.TimerDisconnect.stop();
        f.link.settings.Connect = false; // listed only, no link start
        f.link.Receive(hex("8000010302"
                           "4b"),
                       adapter());
        QVERIFY(!f.link.TimerDisconnect.isActive());
        QTest::qWait(30);
        QVERIFY(f.sent.isEmpty()); // no receipt for an announcement
    }

    void foreignSenderIsCountedAndTracedOnly()
    {
        LinkFixture f;
        f.open();
        f.link.TimerDisconnect.stop();
        int handled = 0;
        f.dispatcher.RegisterRecordHandler([&](const CanRecord&) { ++handled; });
        const QHostAddress stranger(QStringLiteral("127.0.0.9"));
        f.link.Receive(hex("820000"), stranger);
        f.link.Receive(hex("00"
                           "0d"
                           "01"
                           "19"
                           "c4180306"
                           "08"
                           "3132333435363738"),
                       stranger);
        QCOMPARE(f.link.RxCount, 2u);
        QCOMPARE(f.link.TxSequence, 0u);
        QCOMPARE(handled, 0);
        QVERIFY(!f.link.TimerDisconnect.isActive());
        QCOMPARE(f.trace.NewestNote(), "Чужой адрес");
        QTest::qWait(30);
        QVERIFY(f.sent.isEmpty());
    }

    void sequenceOverTheSocket()
    {
        // The same path through a real datagram: the sender address comes from the socket.
        LinkFixture f;
        f.open();
        f.fromAdapter(hex("00090d19441802000401000000"));
        QVERIFY(f.received(1));
        QTRY_COMPARE(f.sent.size(), 1);
        QCOMPARE(f.sent[0], hex("82010d"));
    }
};

QTEST_GUILESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
