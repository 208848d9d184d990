// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/interlock.h"

#include "blocks/blocktexts.h"

#include "blocks/blockrequests.h"
#include "blocks/blockservice.h"
#include "exchange/linkcore.h"
#include "support/atexit.h"
#include "support/bytespan.h"
#include "support/cp1251.h"
#include "support/errortext.h"
#include "support/operatorio.h"

#include <QFile>
#include <QSaveFile>

namespace
{
const QString Error = QStringLiteral("Ошибка!");
const QString CaptionFileRead = QStringLiteral("Чтение файла");
} // namespace

namespace blk
{

QStringList MemoLines(const QString& plainText)
{
    QStringList lines = plainText.split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString MemoText(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + QLatin1Char('\n');
    return text;
}

QByteArray FileBytes(const QStringList& lines, bool* replaced)
{
    QByteArray bytes;
    bool lost = false;
    for (const QString& line : lines) {
        bool r = false;
        bytes += ToCp1251(line, &r);
        bytes += "\r\n";
        lost = lost || r;
    }
    if (replaced)
        *replaced = lost;
    return bytes;
}

QStringList FileLines(const QByteArray& bytes)
{
    QStringList lines;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const qsizetype start = i;
        while (i < n && bytes[i] != '\r' && bytes[i] != '\n')
            ++i;
        lines << FromCp1251(bytes.mid(start, i - start));
        if (i < n && bytes[i] == '\r')
            ++i;
        if (i < n && bytes[i] == '\n')
            ++i;
    }
    return lines;
}

QByteArray Stream(const QStringList& lines, bool* replaced)
{
    QByteArray bytes = FileBytes(lines, replaced);
    if (bytes.isEmpty())
        return bytes;
    bytes.replace('\r', ' ');
    bytes.replace('\n', '\0');
    bytes.append(TrailingZeros, '\0');
    return bytes;
}

void LogicReader::Take(std::span<const uint8_t> bytes)
{
    for (const uint8_t b : bytes) {
        if (ended_)
            return;
        ++count_;
        if (count_ == 1 && b != Marker) {
            ended_ = true; // no logic in the block: an empty text
            return;
        }
        if (count_ > 1 && b == Marker) {
            Lines << QString(QLatin1Char(char(Marker)));
            ended_ = true;
            return;
        }
        if (b == 0x00) {
            if (!line_.isEmpty())
                Lines << FromCp1251(line_);
            line_.clear();
        } else {
            line_ += char(b);
        }
    }
}

} // namespace blk

InterlockTransfer::InterlockTransfer(LinkCore& link, BlockService& blocks, QObject* parent)
    : QObject(parent), link_(link), blocks_(blocks)
{
}

bool InterlockTransfer::IsTelecontrolBlock(blocks::Ref block, const QString& caption)
{
    if (block.function() == blocks::FunctionTu)
        return true;
    blocks_.Operator().Tell(caption,
                            QStringLiteral("Логика блокировок есть только у блоков ТУ, а не у "
                                           "блока %1.")
                                .arg(blocks::RefText(block)));
    return false;
}

std::optional<QStringList> InterlockTransfer::Read(blocks::Ref block, bool* closed, bool toWindow)
{
    if (!IsTelecontrolBlock(block, QStringLiteral("Чтение БЛК")))
        return std::nullopt;
    const auto operation = link_.Operations.Begin(QStringLiteral("чтение логики блокировок"));
    if (!operation)
        return std::nullopt;
    const uint8_t f = block.function(), a = uint8_t(block.address);
    blk::LogicReader reader;
    const Step step = Bracketed([&] {
        const Step open = Open(f, a);
        return open == Step::Go ? ReadLogic(f, a, reader, toWindow) : open;
    });
    if (closed)
        *closed = reader.Closed();
    if (step != Step::Go)
        return std::nullopt;
    return reader.Lines;
}

InterlockTransfer::Written InterlockTransfer::Write(blocks::Ref block, const QStringList& lines)
{
    const QString caption = QStringLiteral("Запись БЛК");
    if (!IsTelecontrolBlock(block, caption))
        return Written::Failed;
    const auto operation = link_.Operations.Begin(QStringLiteral("запись логики блокировок"));
    if (!operation)
        return Written::Failed;
    OperatorIo& op = blocks_.Operator();
    bool replaced = false;
    const QByteArray stream = blk::Stream(lines, &replaced);
    if (stream.isEmpty()) {
        op.Tell(CaptionFileRead, Error);
        return Written::Failed;
    }
    // More than the read takes back could not be shown again, and would run on into the
    // block's memory beyond the logic.
    if (stream.size() / blockreq::ChunkSize * blockreq::ChunkSize > blk::ReadLimit) {
        op.Tell(caption, QStringLiteral("Текст логики длиннее %1 байт: столько программа не "
                                        "прочитает из блока. Запись отменена.")
                             .arg(blk::ReadLimit));
        return Written::Failed;
    }
    if (replaced)
        TellReplaced(caption);
    const uint8_t f = block.function(), a = uint8_t(block.address);
    doubtful_ = false;
    const Step step = Bracketed([&] {
        const Step open = Open(f, a);
        return open == Step::Go ? WriteLogic(f, a, stream) : open;
    });
    if (step != Step::Go)
        return Written::Failed;
    if (doubtful_) {
        op.Tell(caption, QStringLiteral("Во время записи запрос к блоку %1 пришлось повторить: "
                                        "блок мог выполнить его дважды. Запишите логику "
                                        "блокировок ещё раз.")
                             .arg(blocks::RefText(block)));
        return Written::Doubtful;
    }
    return Written::Done;
}

InterlockTransfer::Step InterlockTransfer::Bracketed(const std::function<Step()>& transfer)
{
    if (link_.SendRequest(blockreq::ServiceStart()) == Sent::Stopped)
        return Step::Stop;
    OperatorIo& op = blocks_.Operator();
    op.Busy(true);
    AtExit hide{[&op] { op.Busy(false); }};
    const Step step = transfer();
    if (step != Step::Stop)
        (void)link_.SendRequest(blockreq::ServiceEnd());
    return step;
}

InterlockTransfer::Step InterlockTransfer::Await(const TPacket& request, const QString& caption)
{
    switch (link_.SendAndWait(request)) {
    case Reply::Answered:
        return Step::Go;
    case Reply::NoAnswer:
        blocks_.Operator().Tell(caption, blocktext::NoAnswer);
        return Step::End;
    case Reply::Stopped:
        break;
    }
    return Step::Stop;
}

InterlockTransfer::Step InterlockTransfer::AwaitChange(const TPacket& request,
                                                       const QString& caption)
{
    const Step step = Await(request, caption);
    doubtful_ = doubtful_ || link_.LastRequestRepeated;
    return step;
}

InterlockTransfer::Step InterlockTransfer::Open(uint8_t f, uint8_t a)
{
    const Step prepared = AwaitChange(blockreq::Prepare(f, a), blocktext::Prepare);
    if (prepared != Step::Go)
        return prepared;
    return Await(blockreq::PointerSet(f, a, blockreq::LogicArea), blocktext::SetPointer);
}

InterlockTransfer::Step InterlockTransfer::ReadLogic(uint8_t f, uint8_t a, blk::LogicReader& reader,
                                                     bool toWindow)
{
    if (toWindow) {
        emit memoCleared();
        emit windowRequested();
    }
    while (!reader.Ended()) {
        const Step read = Await(blockreq::MemoryRead(f, a), QStringLiteral("Чтение"));
        if (read != Step::Go)
            return read;
        const qsizetype before = reader.Lines.size();
        reader.Take(std::span(reinterpret_cast<const uint8_t*>(link_.ReplyData->constData()),
                              blockreq::ChunkSize));
        for (qsizetype i = before; toWindow && i < reader.Lines.size(); ++i)
            emit lineAdded(reader.Lines[i]);
    }
    return Step::Go;
}

InterlockTransfer::Step InterlockTransfer::WriteLogic(uint8_t f, uint8_t a,
                                                      const QByteArray& stream)
{
    const std::span bytes = ByteSpan(stream);
    // Each page is erased before its first chunk; a last part under 8 bytes is not sent.
    for (qsizetype at = 0; at < stream.size(); at += blockreq::ChunkSize) {
        if (at % blockreq::PageSize == 0) {
            const Step erased = AwaitChange(blockreq::PageErase(f, a), blocktext::Erase);
            if (erased != Step::Go)
                return erased;
        }
        if (at + blockreq::ChunkSize > stream.size())
            break;
        const Step written = AwaitChange(
            blockreq::MemoryWrite(f, a, blockreq::ChunkOf(bytes, int(at / blockreq::ChunkSize))),
            blocktext::Transfer);
        if (written != Step::Go)
            return written;
    }
    return Step::Go;
}

void InterlockTransfer::TellReplaced(const QString& caption)
{
    blocks_.Operator().Tell(caption,
                            QStringLiteral("В тексте есть символы, которых нет в кодовой "
                                           "странице 1251: они будут записаны как \"?\"."));
}

bool InterlockTransfer::SaveToFile(const QString& path, const QStringList& memo)
{
    bool replaced = false;
    const QByteArray bytes = blk::FileBytes(memo, &replaced);
    if (replaced)
        TellReplaced(QStringLiteral("в Файл"));
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    blocks_.Operator().Tell(QStringLiteral("Запись файла"), Error + QLatin1Char('\n') + path +
                                                                QStringLiteral(": ") +
                                                                FileErrorText(file));
    return false;
}

bool InterlockTransfer::LoadFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        blocks_.Operator().Tell(CaptionFileRead, Error);
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        blocks_.Operator().Tell(CaptionFileRead, Error);
        return false;
    }
    for (const QString& line : blk::FileLines(bytes))
        emit lineAdded(line);
    return true;
}
