// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The pcapng capture file: a section header, one interface description (link type IPv4, so no
// link-layer header is made up; time stamps in microseconds), then one enhanced packet block
// per datagram, each an IPv4/UDP packet with its real addresses and ports and an optional
// comment. The program's recorder and the simulated controlled point both write it.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringEncoder>

namespace capture
{

// The addresses and ports of one datagram, IPv4 addresses as numbers (127.0.0.1 = 0x7F000001).
struct UdpEnds {
    quint32 sourceAddress = 0;
    quint16 sourcePort = 0;
    quint32 destinationAddress = 0;
    quint16 destinationPort = 0;
};

// Microseconds since 1970-01-01 00:00:00 UTC, now.
qint64 NowMicroseconds();

} // namespace capture

class PcapngWriter
{
public:
    static constexpr quint16 LinkTypeIpv4 = 228;
    static constexpr int IpHeaderSize = 20;
    static constexpr int UdpHeaderSize = 8;

    PcapngWriter();

    // Creates (or empties) the file and writes the section header and the interface
    // description. False with the file system's message when that fails.
    bool Open(const QString& path, QString* error);
    void Close();
    bool IsOpen() const { return file_.isOpen(); }
    QString FileName() const { return file_.fileName(); }

    // Adds one packet to what the next Flush writes: the datagram as an IPv4/UDP packet between
    // the given ends, at the given time, with the comment (none when empty).
    void Append(qint64 microseconds, const capture::UdpEnds& ends, const QByteArray& datagram,
                const QString& comment);
    // Writes what was appended, in one write. False with the message when the file refuses.
    bool Flush(QString* error);

private:
    uchar* Grow(int bytes); // room for bytes more at the end of the buffer, zero-filled
    qsizetype BeginBlock(quint32 type);
    void EndBlock(qsizetype start); // both lengths of the block that began at start
    void PutOption(quint16 code, const char* value, int length);
    void PutComment(const QString& comment);
    bool WriteAll(QString* error);

    QFile file_;
    QByteArray buffer_;
    QStringEncoder utf8_{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    quint16 ipIdentification_ = 0;
};
