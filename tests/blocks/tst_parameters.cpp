// SPDX-License-Identifier: GPL-3.0-or-later
// The parameter records of the three block types against the grid's texts: what a record
// shows, what the grid writes back, the replication of the first input, the row headers.

#include "blocks/blocktypes.h"
#include "blocks/parameters.h"

#include <QtTest>

namespace
{
params::Image imageOf(std::initializer_list<std::pair<int, uint8_t>> bytes)
{
    params::Image image{};
    for (auto [at, b] : bytes)
        image[size_t(at)] = b;
    return image;
}
QString& cell(params::Texts& g, int row, int col)
{
    return g[size_t(row - 1)][size_t(col - 1)];
}
// The record shown in the grid, as the parameter editor shows it.
void show(uint8_t f, const params::Image& image, params::Texts& grid)
{
    params::ShowValues(f, params::Decode(f, image), grid);
}
// The grid written back into the record; the conversion error, the record untouched, when a
// cell is not an integer.
std::optional<QString> write(uint8_t f, const params::Texts& grid, params::Image& image)
{
    QString error;
    const auto values =
        params::ReadGrid(f, grid, params::RowHeaders(f), params::Decode(f, image), &error);
    if (!values)
        return error;
    params::Encode(f, *values, image);
    return std::nullopt;
}
} // namespace

class TestParameters : public QObject
{
    Q_OBJECT

private slots:
    // One decoded cell per row: the function, the record bytes set (all others 0), the grid
    // cell and its text.
    void decode_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<QByteArray>("bytes"); // pairs of offset, value
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("text");
        auto row = [](const char* name, int f, QByteArray b, int r, int c, const char* t) {
            QTest::newRow(name) << f << b << r << c << QString(t);
        };
        const int ts = blocks::FunctionTs, tit = blocks::FunctionTit, tu = blocks::FunctionTu;
        row("ts cycle", ts, QByteArray::fromHex("00e80103"), 1, 1, "1000");
        row("ts mask 5: input 1", ts, QByteArray::fromHex("0405"), 3, 1, "1");
        row("ts mask 5: input 2", ts, QByteArray::fromHex("0405"), 4, 1, "0");
        row("ts mask 5: input 3", ts, QByteArray::fromHex("0405"), 5, 1, "1");
        row("ts interlock mask: input 32", ts, QByteArray::fromHex("0b80"), 34, 2, "1");
        row("ts time 14 shown 7", ts, QByteArray::fromHex("0c0e"), 3, 3, "7");
        row("ts time 15 shown 7", ts, QByteArray::fromHex("0c0f"), 3, 3, "7");
        row("ts time of input 32", ts, QByteArray::fromHex("4a10"), 34, 3, "8");
        row("tit field at 20 on row 9", tit, QByteArray::fromHex("14ff15ff"), 9, 1, "65535");
        row("tit speed 7", tit, QByteArray::fromHex("1607"), 10, 1, "9600");
        row("tit speed 9", tit, QByteArray::fromHex("1609"), 10, 1, "57600");
        row("tit speed 10 empty", tit, QByteArray::fromHex("160a"), 10, 1, "");
        row("tit delay", tit, QByteArray::fromHex("17c8"), 11, 1, "200");
        row("tit input 32", tit, QByteArray::fromHex("0b80"), 43, 1, "1");
        row("tu type", tu, QByteArray::fromHex("0005"), 1, 1, "5");
        row("tu hold of output 1", tu, QByteArray::fromHex("02c8"), 2, 1, "200");
        row("tu min of output 32", tu, QByteArray::fromHex("8007"), 33, 2, "7");
        row("tu max of output 1", tu, QByteArray::fromHex("82ff83ff"), 2, 3, "65535");
    }
    void decode()
    {
        QFETCH(int, function);
        QFETCH(QByteArray, bytes);
        QFETCH(int, row);
        QFETCH(int, col);
        QFETCH(QString, text);
        params::Image image{};
        for (int i = 0; i + 1 < bytes.size(); i += 2)
            image[uint8_t(bytes[i])] = uint8_t(bytes[i + 1]);
        params::Texts grid{};
        show(uint8_t(function), image, grid);
        QCOMPARE(cell(grid, row, col), text);
    }

    // Entered texts and the bytes they store, with the bytes no field lists carried unchanged.
    void encode_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("stored");
        auto row = [](const char* name, int f, int r, int c, const char* t, int at,
                      const char* hex) {
            QTest::newRow(name) << f << r << c << QString(t) << at << QByteArray::fromHex(hex);
        };
        const int ts = blocks::FunctionTs, tit = blocks::FunctionTit, tu = blocks::FunctionTu;
        row("ts time 7 stored 14", ts, 3, 3, "7", 12, "0e00");
        row("ts time low 16 bits of twice", ts, 34, 3, "40000", 74, "8038");
        row("ts counter flag 2 is not set", ts, 3, 1, "2", 4, "00000000");
        row("ts interlock flag of input 32", ts, 34, 2, "1", 8, "00000080");
        row("ts bytes 76-79 kept", ts, 1, 1, "0", 76, "a5a5a5a5");
        row("tit 9600 is code 7", tit, 10, 1, "9600", 22, "07");
        row("tit 14400 is code 7", tit, 10, 1, "14400", 22, "07");
        row("tit 100 is code 0", tit, 10, 1, "100", 22, "00");
        row("tit 300 on row 11 stores 44", tit, 11, 1, "300", 23, "2c");
        row("tit row 5 at offset 12", tit, 5, 1, "-1", 12, "ffff");
        row("tit input 2 in the mask", tit, 13, 1, "1", 8, "02000000");
        row("tu hold of output 2", tu, 3, 1, "513", 4, "0102");
        row("tu max of output 32", tu, 33, 3, "65536", 192, "0000");
        row("tu bytes 194-199 kept", tu, 1, 1, "0", 194, "a5a5a5a5a5a5");
    }
    void encode()
    {
        QFETCH(int, function);
        QFETCH(int, row);
        QFETCH(int, col);
        QFETCH(QString, text);
        QFETCH(int, offset);
        QFETCH(QByteArray, stored);
        // Zeros, but for the bytes that no field of a type lists.
        params::Image image = imageOf({{76, 0xA5}, {77, 0xA5}, {78, 0xA5}, {79, 0xA5}});
        if (function == blocks::FunctionTu)
            image = imageOf(
                {{194, 0xA5}, {195, 0xA5}, {196, 0xA5}, {197, 0xA5}, {198, 0xA5}, {199, 0xA5}});
        params::Texts grid{};
        show(uint8_t(function), image, grid);
        cell(grid, row, col) = text;
        QCOMPARE(write(uint8_t(function), grid, image), std::nullopt);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.data()) + offset, stored.size()),
                 stored);
    }

    // Shown and written back unchanged: every byte a type lists survives the round trip.
    void roundTripKeepsTheRecord_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("length");
        QTest::newRow("telesignal") << int(blocks::FunctionTs) << 80;
        QTest::newRow("measurement") << int(blocks::FunctionTit) << 24;
        QTest::newRow("telecontrol") << int(blocks::FunctionTu) << 200;
    }
    void roundTripKeepsTheRecord()
    {
        QFETCH(int, function);
        QFETCH(int, length);
        params::Image image{};
        for (int i = 0; i < params::ImageSize; ++i)
            image[size_t(i)] = uint8_t(i * 37 + 11);
        if (function == blocks::FunctionTs) // the time column holds even values only
            for (int i = 12; i < 76; i += 2)
                image[size_t(i)] &= 0xFE;
        if (function == blocks::FunctionTit)
            image[22] = 4; // a speed code the grid shows
        params::Texts grid{};
        show(uint8_t(function), image, grid);
        const params::Image before = image;
        QCOMPARE(write(uint8_t(function), grid, image), std::nullopt);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.data()), length),
                 QByteArray(reinterpret_cast<const char*>(before.data()), length));
    }

    // A stored speed code outside 0..9 shows an empty cell and stays as the block holds it;
    // any other cell that is not an integer stops the write and leaves the image untouched.
    void emptyAndWrongCells()
    {
        params::Image image = imageOf({{22, 12}});
        params::Texts grid{};
        show(blocks::FunctionTit, image, grid);
        QCOMPARE(write(blocks::FunctionTit, grid, image), std::nullopt);
        QCOMPARE(image[22], 12);

        cell(grid, 7, 1) = QStringLiteral("12a");
        cell(grid, 1, 1) = QStringLiteral("99");
        const params::Image before = image;
        QCOMPARE(write(blocks::FunctionTit, grid, image),
                 std::optional<QString>("Строка «КоэфРеле ТУ мин», столбец 1: «12a» — не целое "
                                        "число."));
        QVERIFY(image == before);
    }

    void replicateCopiesTheFirstChannel_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("columns");
        QTest::newRow("telesignal: row 3, three columns") << int(blocks::FunctionTs) << 3 << 3;
        QTest::newRow("measurement: row 12, one column") << int(blocks::FunctionTit) << 12 << 1;
        QTest::newRow("telecontrol: row 2, three columns") << int(blocks::FunctionTu) << 2 << 3;
    }
    void replicateCopiesTheFirstChannel()
    {
        QFETCH(int, function);
        QFETCH(int, first);
        QFETCH(int, columns);
        params::Texts grid{};
        for (int c = 1; c <= 3; ++c)
            cell(grid, first, c) = QString::number(c);
        cell(grid, first - 1, 1) = QStringLiteral("x");
        cell(grid, first + 32, 1) = QStringLiteral("y");
        params::Replicate(uint8_t(function), grid);
        for (int r = first + 1; r < first + 32; ++r)
            for (int c = 1; c <= 3; ++c)
                QCOMPARE(cell(grid, r, c), c <= columns ? QString::number(c) : QString());
        QCOMPARE(cell(grid, first - 1, 1), "x");
        QCOMPARE(cell(grid, first + 32, 1), "y");
    }

    void rowHeaders()
    {
        const QStringList ts = params::RowHeaders(blocks::FunctionTs);
        QCOMPARE(ts.size(), 49);
        QCOMPARE(ts[0], "Время цикла ТС    (sec)");
        QCOMPARE(ts[2], "Вх 1  (ТИИ/БЛОКИР/msec)");
        QCOMPARE(ts[33], "Вх 32");
        const QStringList tit = params::RowHeaders(blocks::FunctionTit);
        QCOMPARE(tit.size(), 49);
        QCOMPARE(tit[9], "Скорость(Микро)");
        QCOMPARE(tit[11], "1вх ТИТ/ТС (0/1)");
        QCOMPARE(tit[42], "32вх ТИТ/ТС (0/1)");
        const QStringList tu = params::RowHeaders(blocks::FunctionTu);
        QCOMPARE(tu.size(), 54);
        QCOMPARE(tu[1], "Вых 1 (Уд.msec/Кmin/Кmax)");
        QCOMPARE(tu[32], "Вых 32");
        QCOMPARE(params::RowHeaders(blocks::FunctionTu, true)[1], "Вых1(№ ТУ/0/Удерж,сек)");
    }
};

QTEST_GUILESS_MAIN(TestParameters)
#include "tst_parameters.moc"
