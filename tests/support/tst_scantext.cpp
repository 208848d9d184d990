// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/scantext.h"

#include <QTest>
#include <memory>
#include <vector>

namespace
{
// Value a target holds before the scan; seen afterwards it means "not written".
constexpr int32_t K = 0x5A5A5A5A;
} // namespace

class ScanTextTest : public QObject
{
    Q_OBJECT

private slots:
    void scan_data();
    void scan();
    void readsOnlyInsideTheBuffers();
};

void ScanTextTest::scan_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QList<int32_t>>("expected"); // one entry per target
    QTest::addColumn<int>("result");

    const QByteArray mac = "%2x:%2x:%2x:%2x:%2x:%2x";
    const QByteArray ip = "%u.%u.%u.%u";

    // Adapter address texts.
    QTest::newRow("mac") << QByteArray("0A:1B:2c:3D:4e:5F") << mac
                         << QList<int32_t>{10, 27, 44, 61, 78, 95} << 6;
    QTest::newRow("width splits groups")
        << QByteArray("0A1B") << QByteArray("%2x%2x") << QList<int32_t>{10, 27} << 2;
    QTest::newRow("ip") << QByteArray("192.168.0.1") << ip << QList<int32_t>{192, 168, 0, 1} << 4;
    QTest::newRow("ip leading space")
        << QByteArray(" 192.168.0.1") << ip << QList<int32_t>{192, 168, 0, 1} << 4;
    QTest::newRow("ip short") << QByteArray("192.168.1") << ip << QList<int32_t>{192, 168, 1, K}
                              << 3;
    QTest::newRow("ip field over 255")
        << QByteArray("10.0.0.300") << ip << QList<int32_t>{10, 0, 0, 300} << 4;

    // Result: 0 when stopped inside the text, -1 when nothing stored and the text ran out.
    QTest::newRow("no digits") << QByteArray("abc") << QByteArray("%d") << QList<int32_t>{K} << 0;
    QTest::newRow("empty text") << QByteArray("") << QByteArray("%d") << QList<int32_t>{K} << -1;
    QTest::newRow("blank text") << QByteArray("   ") << QByteArray("%d") << QList<int32_t>{K} << -1;
    QTest::newRow("lone sign") << QByteArray("-") << QByteArray("%d") << QList<int32_t>{K} << -1;
    QTest::newRow("stored then text ran out")
        << QByteArray("12") << QByteArray("%d.%d") << QList<int32_t>{12, K} << 1;
    QTest::newRow("only suppressed, text used up")
        << QByteArray("12") << QByteArray("%*d") << QList<int32_t>{} << -1;

    // Prefixes and bases.
    QTest::newRow("x stops at letter x")
        << QByteArray("0x1F") << QByteArray("%x") << QList<int32_t>{0} << 1;
    QTest::newRow("i 0x") << QByteArray("0x1F") << QByteArray("%i") << QList<int32_t>{31} << 1;
    QTest::newRow("i 0X") << QByteArray("0X1f") << QByteArray("%i") << QList<int32_t>{31} << 1;
    QTest::newRow("i dollar") << QByteArray("$ff") << QByteArray("%i") << QList<int32_t>{255} << 1;
    QTest::newRow("x takes no dollar")
        << QByteArray("$ff") << QByteArray("%x") << QList<int32_t>{K} << 0;
    QTest::newRow("i octal stops at 8")
        << QByteArray("018") << QByteArray("%i%d") << QList<int32_t>{1, 8} << 2;
    QTest::newRow("i decimal") << QByteArray("17") << QByteArray("%i") << QList<int32_t>{17} << 1;
    QTest::newRow("o") << QByteArray("7778") << QByteArray("%o") << QList<int32_t>{511} << 1;
    QTest::newRow("i prefix without digits")
        << QByteArray("0xg") << QByteArray("%i") << QList<int32_t>{K} << 0;
    QTest::newRow("i width 1 reads the zero")
        << QByteArray("0x1F") << QByteArray("%1i") << QList<int32_t>{0} << 1;
    QTest::newRow("i prefix counts against width")
        << QByteArray("0x1F") << QByteArray("%3i%x") << QList<int32_t>{1, 15} << 2;
    QTest::newRow("letters any case") << QByteArray("ff 10 1f 17") << QByteArray("%X %D %P %O")
                                      << QList<int32_t>{255, 10, 31, 15} << 4;

    // Signs and widths.
    QTest::newRow("u negative") << QByteArray("-5") << QByteArray("%u") << QList<int32_t>{-5} << 1;
    QTest::newRow("plus") << QByteArray("+7") << QByteArray("%d") << QList<int32_t>{7} << 1;
    QTest::newRow("x negative") << QByteArray("-ff") << QByteArray("%x") << QList<int32_t>{-255}
                                << 1;
    QTest::newRow("sign counts against width")
        << QByteArray("-123") << QByteArray("%2d%d") << QList<int32_t>{-1, 23} << 2;
    QTest::newRow("sign fills width")
        << QByteArray("-1") << QByteArray("%1d") << QList<int32_t>{K} << 0;
    QTest::newRow("widths") << QByteArray("12345") << QByteArray("%02d%3d")
                            << QList<int32_t>{12, 345} << 2;
    // A zero-width character field would read nothing and let the %d store 12.
    QTest::newRow("width 0 invalid")
        << QByteArray("12") << QByteArray("%0c%d") << QList<int32_t>{K} << 0;

    // 64-bit accumulation, low 32 bits stored.
    QTest::newRow("2^32+1") << QByteArray("4294967297") << QByteArray("%u") << QList<int32_t>{1}
                            << 1;
    QTest::newRow("hex 36 bits") << QByteArray("123456789") << QByteArray("%x")
                                 << QList<int32_t>{0x23456789} << 1;
    QTest::newRow("negative 2^32-1")
        << QByteArray("-4294967295") << QByteArray("%d") << QList<int32_t>{1} << 1;
    QTest::newRow("2^64+1 wraps") << QByteArray("18446744073709551617") << QByteArray("%u")
                                  << QList<int32_t>{1} << 1;
    QTest::newRow("int32 min") << QByteArray("2147483648") << QByteArray("%u")
                               << QList<int32_t>{INT32_MIN} << 1;

    // Targets and suppression.
    QTest::newRow("suppressed uses no target")
        << QByteArray("1 2 3") << QByteArray("%d %*d %d") << QList<int32_t>{1, 3} << 2;
    QTest::newRow("targets used up")
        << QByteArray("1 2 3") << QByteArray("%d %d %d") << QList<int32_t>{1, 2} << 2;
    QTest::newRow("no targets") << QByteArray("1") << QByteArray("%d") << QList<int32_t>{} << 0;

    // Literals and white space.
    QTest::newRow("percent") << QByteArray("50%7") << QByteArray("%d%%%d") << QList<int32_t>{50, 7}
                             << 2;
    QTest::newRow("percent mismatch")
        << QByteArray("50 %7") << QByteArray("%d%%%d") << QList<int32_t>{50, K} << 1;
    QTest::newRow("literal case exact")
        << QByteArray("A1") << QByteArray("a%d") << QList<int32_t>{K} << 0;
    QTest::newRow("format blank matches none")
        << QByteArray("1,2") << QByteArray("%d , %d") << QList<int32_t>{1, 2} << 2;
    QTest::newRow("control bytes are blanks")
        << QByteArray("\x01\t1\n\x1f 2") << QByteArray("%d\x02%d") << QList<int32_t>{1, 2} << 2;
    QTest::newRow("! is not blank")
        << QByteArray("!5") << QByteArray("%d") << QList<int32_t>{K} << 0;
    QTest::newRow("zero byte ends text")
        << QByteArray("12\0 34", 6) << QByteArray("%d %d") << QList<int32_t>{12, K} << 1;
    QTest::newRow("zero byte ends format")
        << QByteArray("1 2") << QByteArray("%d\0%d", 5) << QList<int32_t>{1, K} << 1;

    // Invalid conversions end the scan.
    QTest::newRow("format ends after %")
        << QByteArray("1 2") << QByteArray("%d %") << QList<int32_t>{1, K} << 1;
    QTest::newRow("format ends after width")
        << QByteArray("1 2") << QByteArray("%d %2") << QList<int32_t>{1, K} << 1;
    QTest::newRow("format ends after size")
        << QByteArray("1 2") << QByteArray("%d %l") << QList<int32_t>{1, K} << 1;
    QTest::newRow("unknown letter")
        << QByteArray("1 2") << QByteArray("%d %y") << QList<int32_t>{1, K} << 1;
    QTest::newRow("size letters ignored")
        << QByteArray("1 2 3 4 5") << QByteArray("%hd %ld %lld %l64d %Hd")
        << QList<int32_t>{1, 2, 3, 4, 5} << 5;

    // Conversions with no integer target read their field and move on.
    QTest::newRow("s") << QByteArray("id 42") << QByteArray("%s%d") << QList<int32_t>{42} << 1;
    QTest::newRow("c") << QByteArray("a 7") << QByteArray("%2c%d") << QList<int32_t>{7} << 1;
    QTest::newRow("c past text") << QByteArray("ab") << QByteArray("%3c") << QList<int32_t>{} << -1;
    QTest::newRow("scan set") << QByteArray("a-b:5") << QByteArray("%[^:]:%d") << QList<int32_t>{5}
                              << 1;
    QTest::newRow("scan set range")
        << QByteArray("abz]9") << QByteArray("%[]a-z]%d") << QList<int32_t>{9} << 1;
    QTest::newRow("scan set unclosed")
        << QByteArray("ab") << QByteArray("%[ab") << QList<int32_t>{} << 0;
    QTest::newRow("real") << QByteArray("-1.5e+3,7") << QByteArray("%f,%d") << QList<int32_t>{7}
                          << 1;
    QTest::newRow("real stops before bare e")
        << QByteArray(".5e,7") << QByteArray("%ge,%d") << QList<int32_t>{7} << 1;
    QTest::newRow("n") << QByteArray(" 123 45") << QByteArray("%d%n%d")
                       << QList<int32_t>{123, 4, 45} << 2;
}

void ScanTextTest::scan()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, format);
    QFETCH(QList<int32_t>, expected);
    QFETCH(int, result);

    // One guard entry past the targets handed over must stay untouched.
    std::vector<int32_t> targets(expected.size() + 1, K);
    QCOMPARE(ScanText(text, format, std::span(targets).first(expected.size())), result);
    QCOMPARE(targets.back(), K);
    targets.pop_back();
    QCOMPARE(QList<int32_t>(targets.begin(), targets.end()), expected);
}

void ScanTextTest::readsOnlyInsideTheBuffers()
{
    // Heap buffers without a terminating zero: the scan must stop at the array sizes.
    const std::unique_ptr<char[]> text(new char[3]{'1', '2', '3'});
    const std::unique_ptr<char[]> format(new char[4]{'%', 'd', '%', '2'});
    int32_t targets[2] = {K, K};
    QCOMPARE(ScanText(QByteArray::fromRawData(text.get(), 2),
                      QByteArray::fromRawData(format.get(), 4), targets),
             1);
    QCOMPARE(targets[0], 12);
    QCOMPARE(targets[1], K);
}

QTEST_APPLESS_MAIN(ScanTextTest)
#include "tst_scantext.moc"
