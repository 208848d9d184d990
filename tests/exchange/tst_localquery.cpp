// SPDX-License-Identifier: GPL-3.0-or-later
// The local telesignal query service: answers from the table's cells, over loopback.

#include "exchange/localquery.h"

#include <QNetworkDatagram>
#include <QtTest>

namespace
{
// The telesignal table as the service sees it: 17 rows below the header, 32 columns.
class Cells : public QAbstractTableModel
{
public:
    QString cells[17][32];
    int rowCount(const QModelIndex& = {}) const override { return 17; }
    int columnCount(const QModelIndex& = {}) const override { return 32; }
    QVariant data(const QModelIndex& i, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(cells[i.row()][i.column()]) : QVariant();
    }
};
} // namespace

class TestLocalQuery : public QObject
{
    Q_OBJECT

private slots:
    void answers()
    {
        Cells table;
        for (int c = 0; c < 32; ++c)
            table.cells[0][c] = (c == 0 || c == 31) ? "1" : "0"; // block 0: inputs 1 and 32
        table.cells[8][4] = "1";                                 // interlock row of block 0
        table.cells[15][0] = "0";                                // interlock row of block 7
        table.cells[15][31] = "1";
        LocalQueryService service(table);
        QCOMPARE(service.Answer("R0"), "r0=1" + QByteArray(30, '0') + "1");
        QCOMPARE(service.Answer("R3extra"), "r3=" + QByteArray(32, 'X'));
        QCOMPARE(service.Answer("R8"), "r8=XXXX1" + QByteArray(27, 'X'));
        QCOMPARE(service.Answer("R?"), "r?=0" + QByteArray(30, 'X') + "1");
        for (const char* ignored : {"r0", "X0", "R", "", "R/", "R@", "R\xff"})
            QVERIFY2(service.Answer(ignored).isEmpty(), ignored);
    }

    void overLoopback()
    {
        Cells table;
        table.cells[1][31] = "0";
        LocalQueryService service(table);
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        service.answerPort = client.localPort();
        QCOMPARE(service.Bind(0), QString());
        client.writeDatagram("r1", QHostAddress::LocalHost, service.LocalSender.localPort());
        client.writeDatagram("R1", QHostAddress::LocalHost, service.LocalSender.localPort());
        QTRY_VERIFY(client.hasPendingDatagrams());
        const QNetworkDatagram answer = client.receiveDatagram();
        QCOMPARE(answer.data(), "r1=" + QByteArray(31, 'X') + "0");
        QCOMPARE(answer.senderPort(), int(service.LocalSender.localPort()));
        QTest::qWait(50);
        QVERIFY(!client.hasPendingDatagrams()); // nothing for the lower-case query
    }

    void occupiedPortIsReported()
    {
        Cells table;
        QUdpSocket squatter;
        QVERIFY(squatter.bind(QHostAddress::LocalHost, 0));
        LocalQueryService service(table);
        QVERIFY(!service.Bind(squatter.localPort()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLocalQuery)
#include "tst_localquery.moc"
