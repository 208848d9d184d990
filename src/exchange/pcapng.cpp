// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/pcapng.h"

#include "support/errortext.h"

#include "support/byteorder.h"

#include <chrono>

namespace
{

// pcapng block types and option codes.
constexpr quint32 SectionHeaderBlock = 0x0A0D0D0A;
constexpr quint32 InterfaceDescriptionBlock = 0x00000001;
constexpr quint32 EnhancedPacketBlock = 0x00000006;
constexpr quint32 ByteOrderMagic = 0x1A2B3C4D;
constexpr quint16 OptEndOfOptions = 0;
constexpr quint16 OptComment = 1;
constexpr quint16 ShbUserApplication = 4;
constexpr quint16 IfName = 2;
constexpr quint16 IfDescription = 3;
constexpr quint16 IfTimeResolution = 9;
constexpr int MicrosecondDigits = 6;
// A comment's bytes must fit the option's 16-bit length.
constexpr int MaxCommentChars = 20000;
constexpr quint8 ProtocolUdp = 17;

constexpr int Padded(int length)
{
    return (length + 3) & ~3;
}

void PutLe32(uchar* p, quint32 v)
{
    byteorder::putLe32(p, v);
}

void PutBe32(uchar* p, quint32 v)
{
    byteorder::putBe32(p, v);
}

// The ones' complement sum of 16-bit big-endian words, an odd last byte padded with zero.
quint32 OnesSum(const uchar* p, int length, quint32 sum = 0)
{
    for (int i = 0; i + 1 < length; i += 2)
        sum += byteorder::be16(p + i);
    if (length & 1) {
        const uchar last[] = {p[length - 1], 0};
        sum += byteorder::be16(last);
    }
    return sum;
}

quint16 Folded(quint32 sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

} // namespace

qint64 capture::NowMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

PcapngWriter::PcapngWriter()
{
    buffer_.reserve(4096);
}

uchar* PcapngWriter::Grow(int bytes)
{
    const qsizetype at = buffer_.size();
    buffer_.resize(at + bytes);
    auto* p = reinterpret_cast<uchar*>(buffer_.data()) + at;
    std::memset(p, 0, size_t(bytes));
    return p;
}

void PcapngWriter::PutOption(quint16 code, const char* value, int length)
{
    uchar* p = Grow(4 + Padded(length));
    byteorder::putLe16(p, code);
    byteorder::putLe16(p + 2, quint16(length));
    if (length > 0)
        std::memcpy(p + 4, value, size_t(length));
}

void PcapngWriter::PutComment(const QString& comment)
{
    const QStringView text = QStringView(comment).left(MaxCommentChars);
    const qsizetype at = buffer_.size();
    const qsizetype room = utf8_.requiredSpace(text.size());
    Grow(int(4 + room + 3));
    char* value = buffer_.data() + at + 4;
    const int length = int(utf8_.appendToBuffer(value, text) - value);
    auto* p = reinterpret_cast<uchar*>(buffer_.data()) + at;
    byteorder::putLe16(p, OptComment);
    byteorder::putLe16(p + 2, quint16(length));
    buffer_.resize(at + 4 + Padded(length)); // the padding was zero-filled by Grow
}

qsizetype PcapngWriter::BeginBlock(quint32 type)
{
    const qsizetype start = buffer_.size();
    PutLe32(Grow(8), type); // the length follows when the block is complete
    return start;
}

void PcapngWriter::EndBlock(qsizetype start)
{
    Grow(4);
    const auto total = quint32(buffer_.size() - start);
    auto* p = reinterpret_cast<uchar*>(buffer_.data());
    PutLe32(p + start + 4, total);
    PutLe32(p + buffer_.size() - 4, total);
}

bool PcapngWriter::Open(const QString& path, QString* error)
{
    Close();
    file_.setFileName(path);
    // Unbuffered: each Flush is one write straight to the system, so a crash of the program
    // loses nothing that was flushed.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        if (error)
            *error = FileErrorText(file_);
        return false;
    }
    buffer_.truncate(0);
    ipIdentification_ = 0;

    // Section header: byte-order magic, version 1.0, section length not given.
    qsizetype start = BeginBlock(SectionHeaderBlock);
    uchar* p = Grow(16);
    PutLe32(p, ByteOrderMagic);
    byteorder::putLe16(p + 4, 1);
    byteorder::putLe16(p + 6, 0);
    std::memset(p + 8, 0xFF, 8);
    static const char application[] = "tavena-configurator";
    PutOption(ShbUserApplication, application, int(sizeof application - 1));
    PutOption(OptEndOfOptions, nullptr, 0);
    EndBlock(start);

    // Interface description: raw IPv4, no snapshot limit, microsecond time stamps.
    start = BeginBlock(InterfaceDescriptionBlock);
    p = Grow(8);
    byteorder::putLe16(p, LinkTypeIpv4);
    PutLe32(p + 4, 0);
    static const char name[] = "tavena";
    PutOption(IfName, name, int(sizeof name - 1));
    const QByteArray description =
        QStringLiteral("Обмен с адаптером КП Тавена и служба опроса ТС").toUtf8();
    PutOption(IfDescription, description.constData(), int(description.size()));
    const char resolution = char(MicrosecondDigits);
    PutOption(IfTimeResolution, &resolution, 1);
    PutOption(OptEndOfOptions, nullptr, 0);
    EndBlock(start);

    if (!WriteAll(error)) {
        Close();
        return false;
    }
    return true;
}

void PcapngWriter::Close()
{
    if (file_.isOpen())
        file_.close();
    buffer_.truncate(0);
}

void PcapngWriter::Append(qint64 microseconds, const capture::UdpEnds& ends,
                          const QByteArray& datagram, const QString& comment)
{
    const int udpLength = UdpHeaderSize + int(datagram.size());
    const int ipLength = IpHeaderSize + udpLength;
    const qsizetype start = BeginBlock(EnhancedPacketBlock);
    uchar* p = Grow(20 + Padded(ipLength));
    const auto stamp = quint64(microseconds);
    PutLe32(p, 0); // the one interface
    PutLe32(p + 4, quint32(stamp >> 32));
    PutLe32(p + 8, quint32(stamp));
    PutLe32(p + 12, quint32(ipLength));
    PutLe32(p + 16, quint32(ipLength));

    uchar* ip = p + 20;
    ip[0] = 0x45; // version 4, five words of header
    byteorder::putBe16(ip + 2, quint16(ipLength));
    byteorder::putBe16(ip + 4, ipIdentification_++);
    byteorder::putBe16(ip + 6, 0x4000); // do not fragment
    ip[8] = 64;                         // time to live
    ip[9] = ProtocolUdp;
    PutBe32(ip + 12, ends.sourceAddress);
    PutBe32(ip + 16, ends.destinationAddress);
    byteorder::putBe16(ip + 10, Folded(OnesSum(ip, IpHeaderSize)));

    uchar* udp = ip + IpHeaderSize;
    byteorder::putBe16(udp, ends.sourcePort);
    byteorder::putBe16(udp + 2, ends.destinationPort);
    byteorder::putBe16(udp + 4, quint16(udpLength));
    if (!datagram.isEmpty())
        std::memcpy(udp + UdpHeaderSize, datagram.constData(), size_t(datagram.size()));
    // The checksum over the pseudo header (addresses, protocol, length) and the UDP packet.
    quint32 sum = OnesSum(ip + 12, 8, ProtocolUdp + quint32(udpLength));
    quint16 check = Folded(OnesSum(udp, udpLength, sum));
    byteorder::putBe16(udp + 6, check ? check : 0xFFFF);

    if (!comment.isEmpty()) {
        PutComment(comment);
        PutOption(OptEndOfOptions, nullptr, 0);
    }
    EndBlock(start);
}

bool PcapngWriter::Flush(QString* error)
{
    if (buffer_.isEmpty())
        return true;
    return WriteAll(error);
}

bool PcapngWriter::WriteAll(QString* error)
{
    const qint64 before = file_.pos();
    const bool ok = file_.isOpen() && file_.write(buffer_) == buffer_.size();
    if (!ok) {
        if (error)
            *error = FileErrorText(file_);
        // A block cut short would end the file in the middle; what was whole stays readable.
        file_.resize(before);
    }
    buffer_.truncate(0);
    return ok;
}
