// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The exchange core wired as the main window wires it, bound to loopback, facing a stand-in
// adapter socket that records what the program sends and sends what a test tells it to.

#include "exchange/announcements.h"
#include "exchange/dispatcher.h"
#include "exchange/linkcore.h"
#include "exchange/tracelog.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

struct LinkFixture {
    TraceLog trace;
    LinkCore link{trace};
    ReceiveDispatcher dispatcher{link, trace};
    AdapterAnnouncements announcements{link, trace};

    QUdpSocket adapter;     // the stand-in adapter
    QList<QByteArray> sent; // what the program sent to it
    QList<qint64> sentAt;   // when, in ms since the fixture started
    QElapsedTimer clock;
    std::function<void(const QByteArray&)> onSent;

    LinkFixture()
    {
        clock.start();
        adapter.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&adapter, &QUdpSocket::readyRead, [this] {
            while (adapter.hasPendingDatagrams()) {
                const QByteArray d = adapter.receiveDatagram().data();
                sent << d;
                sentAt << clock.elapsed();
                if (onSent)
                    onSent(d);
            }
        });
        link.settings.BaseIP = QStringLiteral("127.0.0.1");
        link.settings.BaseIPadapter = QStringLiteral("127.0.0.1");
        link.settings.BasePortD = QString::number(adapter.localPort());
        link.onDatagram = [this](const TPacket& d, const QHostAddress& from) {
            dispatcher.Dispatch(d, from);
        };
        dispatcher.onAnnouncement = [this](const TPacket& d, const QHostAddress& from) {
            announcements.Handle(d, from);
        };
        link.Timer4.setInterval(3600 * 1000); // keep-alives would only clutter what is sent
        const QString error = link.Enable(true);
        if (!error.isEmpty())
            qFatal("bind: %s", qPrintable(error));
    }

    // The link as the adapter's connection request leaves it, on the given CAN channel.
    void open(int channel = 0) { link.StartLink({}, channel); }

    // The sequence number moved on by n requests the adapter receipts; what they sent is
    // forgotten.
    void advanceSequence(int n)
    {
        const auto keep = std::exchange(onSent, [this](const QByteArray& d) {
            if (d.size() >= 4)
                fromAdapter(packet::Bytes({0x82, 0x00, uint8_t(d[2])}));
        });
        for (int i = 0; i < n; ++i) {
            link.TransmissionReported();
            (void)link.SendRequest(packet::Request(0x01, 0x18, 0x80, 0x06, {}));
        }
        onSent = keep;
        sent.clear();
        sentAt.clear();
    }

    // A datagram from the adapter to the program.
    void fromAdapter(const QByteArray& d)
    {
        adapter.writeDatagram(d, QHostAddress::LocalHost, link.SocketData.localPort());
    }

    // Waits until the program has received n datagrams in all.
    bool received(quint32 n, int ms = 2000)
    {
        QElapsedTimer t;
        t.start();
        while (link.RxCount < n && t.elapsed() < ms)
            QTest::qWait(5);
        return link.RxCount >= n;
    }

    QString cell(int row, int col) const
    {
        return trace.data(trace.index(row, col), Qt::DisplayRole).toString();
    }
    QStringList notes() const
    {
        QStringList all;
        for (int r = 0; r < trace.rowCount(); ++r)
            all << cell(r, TraceLog::ColNote);
        return all;
    }
};
