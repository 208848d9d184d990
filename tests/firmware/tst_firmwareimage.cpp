// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware image file: its version text, and what a load keeps or refuses.

#include "blocks/blockservice.h"
#include "exchange/dispatcher.h"
#include "exchange/linkcore.h"
#include "exchange/tracelog.h"
#include "firmware/image.h"
#include "support/operatorio.h"

#include <QTemporaryDir>
#include <QtTest>

namespace
{
// A complete image of 0xFF with the given bytes at 0x2080.
QByteArray ImageWithVersion(const QByteArray& version, int size = firmware::ImageSizeNeeded)
{
    QByteArray image(size, char(0xFF));
    image.replace(firmware::VersionFrom, version.size(), version);
    return image;
}
} // namespace

class TestFirmwareImage : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString file(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    struct Program {
        TraceLog trace;
        LinkCore link{trace};
        BlockService blocks{link, trace};
        PolicyOperator op;
        firmware::FirmwareImage image{blocks};
        Program() { blocks.SetOperator(&op); }
    };

private slots:
    void versionText_data()
    {
        QTest::addColumn<QByteArray>("area"); // the bytes from 0x2080 on
        QTest::addColumn<QString>("version");
        QTest::newRow("V1.05, 0xFF filler") << QByteArray("V1.05") << " V1.05";
        QTest::newRow("zero and 0xFF skipped, not ends")
            << QByteArray::fromHex("5632006100ff62") << " V2ab";
        QTest::newRow("printable at 0x20B0 is part of it") << QByteArray(48, '\0') + "XY"
                                                           << " X"; // 0x20B1 is past the text
        QTest::newRow("code page 1251") << QByteArray::fromHex("c2e5f0f1e8ff") << " Верси";
        QTest::newRow("only filler") << QByteArray(49, '\0') << " ";
    }
    void versionText()
    {
        QFETCH(QByteArray, area);
        QFETCH(QString, version);
        const QByteArray image = ImageWithVersion(area);
        QCOMPARE(firmware::VersionOf(
                     {reinterpret_cast<const uint8_t*>(image.constData()), size_t(image.size())}),
                 version);
    }

    void goodLoadSetsTheImageAndTheVersion_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("exactly both areas") << firmware::ImageSizeNeeded;
        QTest::newRow("longer: kept whole") << 65536;
    }
    void goodLoadSetsTheImageAndTheVersion()
    {
        QFETCH(int, size);
        Program p;
        const QByteArray bytes = ImageWithVersion("V1.05", size);
        QVERIFY(p.image.Load(file("good.rom", bytes)));
        QCOMPARE(p.image.ImageData.get(), bytes);
        QCOMPARE(p.image.ImageSize.get(), size);
        QVERIFY(p.image.Loaded());
        QVERIFY(p.blocks.ImageOpened);
        QCOMPARE(p.blocks.ImageVersion.get(), QString(" V1.05"));
        QVERIFY(p.op.Messages.isEmpty());
    }

    // A failed load, first or after a good one, tells why and leaves what was loaded whole.
    void failedLoadKeepsWhatWasLoaded_data()
    {
        QTest::addColumn<bool>("loadedBefore");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size"); // -1: no such file
        QTest::addColumn<QString>("message");
        const QString error = "Чтение файла: Ошибка!";
        const QString shortText = "Чтение файла: Файл %1 короче образа прошивки: в нём 60415 байт, "
                                  "а нужно не менее 60416 байт. Образ не загружен.";
        for (const bool before : {false, true}) {
            const char* tag = before ? "after a good load" : "first";
            QTest::addRow("empty, %s", tag) << before << "empty.rom" << 0 << error;
            QTest::addRow("missing, %s", tag) << before << "missing.rom" << -1 << error;
            QTest::addRow("one byte short, %s", tag)
                << before << "short.rom" << firmware::ImageSizeNeeded - 1 << shortText;
        }
        QTest::newRow("a folder") << true << "folder.rom" << -2 << error;
    }
    void failedLoadKeepsWhatWasLoaded()
    {
        QFETCH(bool, loadedBefore);
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(QString, message);
        Program p;
        const QByteArray good = ImageWithVersion("V1.05");
        if (loadedBefore)
            QVERIFY(p.image.Load(file("good.rom", good)));

        QString path = dir.filePath(name);
        if (size >= 0)
            path = file(name, QByteArray(size, char(0x11)));
        else if (size == -2)
            QVERIFY(QDir(dir.path()).mkpath(name));
        else
            QFile::remove(path);
        QVERIFY(!p.image.Load(path));

        QCOMPARE(p.op.Messages,
                 QStringList{message.contains("%1") ? message.arg(QDir::toNativeSeparators(path))
                                                    : message});
        QCOMPARE(p.image.Loaded(), loadedBefore);
        QCOMPARE(p.image.ImageData.get(), loadedBefore ? good : QByteArray());
        QCOMPARE(p.blocks.ImageOpened.get(), loadedBefore);
        QCOMPARE(p.blocks.ImageVersion.get(), QString(loadedBefore ? " V1.05" : ""));
    }
};

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
