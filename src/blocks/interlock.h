// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The interlock logic of a telecontrol block in interlock mode: a text of lines that the block
// keeps from its memory pointer 0x8000 on, read and written through the block memory protocol
// and kept in ".blk" files. The program does not interpret the text.
//
// The byte streams and the file format are pure functions: the memo's lines as the bytes sent,
// the bytes read back as lines, the file's bytes and lines. InterlockTransfer runs the read and
// the write for a named block, each bracketed by the service start and end notices.

#include "blocks/blocktypes.h"
#include "exchange/packet.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

class BlockService;
class LinkCore;

namespace blk
{

constexpr int TrailingZeros = 10; // zero bytes after the text; the last part under 8 is not sent
constexpr int ReadLimit = 24000;  // bytes read at most when the closing marker does not come
constexpr uint8_t Marker = 0x40;  // "@": the first byte of the text, and its end after that

// The lines of a memo's plain text ('\n' between lines): a last empty line is not a line, so
// an empty memo has none.
QStringList MemoLines(const QString& plainText);
// The memo's plain text of lines, every line ended by '\n' (MemoLines gives them back).
QString MemoText(const QStringList& lines);

// A logic file: every line in code page 1251, ended by CR LF. `replaced` tells whether a
// character outside the code page was written as '?'.
QByteArray FileBytes(const QStringList& lines, bool* replaced = nullptr);
// The lines of a logic file: CR, LF and CR LF each end a line; a last line without its end
// counts when it is not empty.
QStringList FileLines(const QByteArray& bytes);

// The logic as written into the block: the file's bytes with every CR made a space and every
// LF a 0x00, then ten zero bytes. Empty when there are no lines. Of these, the whole 8-byte
// chunks are sent: 8 × floor(size / 8) bytes.
QByteArray Stream(const QStringList& lines, bool* replaced = nullptr);

// The logic as read from the block, 8 bytes a reply. The text must begin with the marker; a
// 0x00 ends a line, an empty line is not shown; the next marker is the last line, alone, and
// ends the text; without it reading stops after ReadLimit bytes, dropping the unfinished line.
class LogicReader
{
public:
    // Takes the bytes of one reply, in order, until the text ends.
    void Take(std::span<const uint8_t> bytes);
    // No more bytes are wanted: the text has ended, or ReadLimit bytes were taken.
    bool Ended() const { return ended_ || count_ >= ReadLimit; }
    // The text ended as it should: its closing line came, or the block holds no logic.
    bool Closed() const { return ended_; }
    int Count() const { return count_; }

    QStringList Lines; // the lines completed so far

private:
    QByteArray line_;
    int count_ = 0;
    bool ended_ = false;
};

} // namespace blk

class InterlockTransfer : public QObject
{
    Q_OBJECT
public:
    InterlockTransfer(LinkCore& link, BlockService& blocks, QObject* parent = nullptr);

    // "Чтение БЛК": the block's logic, line by line as it comes (memoCleared and
    // windowRequested once the block has taken the pointer, then lineAdded). The lines read,
    // or nothing when a reply was missing (the engineer was told), the operation was refused
    // or stopped. `closed` tells whether the text ended as it should (its closing line, or no
    // logic at all), not at the read limit.
    // `toWindow` false reads without a word to the window (a configuration saved or compared).
    std::optional<QStringList> Read(blocks::Ref block, bool* closed = nullptr,
                                    bool toWindow = true);

    // How a write ended.
    enum class Written : uint8_t {
        Done,
        Failed,   // refused or not answered (the engineer was told), or stopped
        Doubtful, // a request had to be sent again: the block may have taken it twice
    };
    // "Запись БЛК": the lines into the block. A write during which a prepare, erase or memory
    // write had to be sent again for lack of a receipt is Doubtful: the engineer is told to
    // write it again.
    Written Write(blocks::Ref block, const QStringList& lines);

    // "в Файл" with the file chosen: false when it could not be written (the engineer is told).
    bool SaveToFile(const QString& path, const QStringList& memo);
    // "из Файла" with the file chosen, into the memo the window has just cleared; false when it
    // could not be read (the engineer is told).
    bool LoadFromFile(const QString& path);

signals:
    void memoCleared();
    void lineAdded(const QString& line);
    // The window "Текст логики блокировок" is to be shown.
    void windowRequested();

private:
    enum class Step : uint8_t { Go, End, Stop };
    // The transfer between the service start and end notices, with the wait panel shown; the
    // end notice goes unless the request channel stopped the operation.
    Step Bracketed(const std::function<Step()>& transfer);
    // One awaited request; without an answer the engineer is told, with the step's caption.
    Step Await(const TPacket& request, const QString& caption);
    // The same for a request that changes the block's memory (prepare, erase, write): one
    // that had to be sent again makes the write doubtful.
    Step AwaitChange(const TPacket& request, const QString& caption);
    // Prepare, then the pointer to the logic.
    Step Open(uint8_t f, uint8_t a);
    Step ReadLogic(uint8_t f, uint8_t a, blk::LogicReader& reader, bool toWindow);
    Step WriteLogic(uint8_t f, uint8_t a, const QByteArray& stream);
    // A telecontrol block; otherwise the engineer is told and false.
    bool IsTelecontrolBlock(blocks::Ref block, const QString& caption);
    // Tells the engineer that characters outside code page 1251 go as '?'.
    void TellReplaced(const QString& caption);

    LinkCore& link_;
    BlockService& blocks_;
    bool doubtful_ = false;
};
