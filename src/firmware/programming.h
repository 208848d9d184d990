// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Firmware and loader programming of named blocks, in slot-then-address order: for each block
// the line marked as the one being worked on, prepare, the pointer set, a page erase before
// every 512 bytes and the memory writes of 8 image bytes each, then the completion, and the
// line unticked. The firmware run is bracketed by the service start and end notices and shows
// the wait panel. A missing reply ends the whole run with a message naming the stage; the block
// that failed keeps its tick, so a second click retries only the blocks that did not finish.
//
// A prepare, erase or memory write that had to be sent again for lack of a receipt may have
// reached the block twice (only its receipt was lost), and everything after it would then lie
// 8 bytes late: such a block is not reported done, keeps its tick, and the engineer is told at
// the end of the run to program it again.

#include "blocks/blockrequests.h"
#include "blocks/blocktypes.h"
#include "firmware/image.h"

#include <QList>
#include <QString>

class BlockService;
class LinkCore;

namespace firmware
{

// How a run goes: the image area it writes, and what differs between the firmware and the
// loader.
struct Run {
    Area area;
    QString name;            // the operation, in the status bar's words
    QString caption;         // its button, the caption of what it tells at the end
    QString prepareCaption;  // the message caption of a failed prepare
    bool notices;            // service start and end notices, and the wait panel
    bool firmwareCompletion; // 0x0A, otherwise the completion 0x03
    int idlePosition;        // the progress position once a block is done
};

// Walks an area of the image as the block takes it, from its first byte up: erase() before
// every 512 bytes, write(chunk) after every 8, advance(offset + 1) after each byte. Stops at
// the first step that returns false; false then, or when the image does not hold the area.
template <typename Erase, typename Write, typename Advance>
bool StreamArea(const QByteArray& image, const Area& area, Erase&& erase, Write&& write,
                Advance&& advance)
{
    if (image.size() < area.end())
        return false;
    blockreq::Chunk chunk{};
    for (int n = 0; n < area.size; ++n) {
        const int p = area.from + n;
        if (n % blockreq::PageSize == 0 && !erase())
            return false;
        chunk[size_t(p % blockreq::ChunkSize)] = uint8_t(image.at(p));
        if (p % blockreq::ChunkSize == blockreq::ChunkSize - 1 && !write(chunk))
            return false;
        advance(p + 1);
    }
    return true;
}

// What became of each block of a run.
struct Outcome {
    QList<blocks::Ref> done;
    QList<blocks::Ref> doubtful;       // programmed, but a request may have been taken twice
    std::optional<blocks::Ref> failed; // the block that did not answer; the run ended there
    QList<blocks::Ref> untouched;      // after it, or all when the run did not start
    bool stopped = false;              // refused, or the program is closing
};

class FirmwareProgramming
{
public:
    FirmwareProgramming(LinkCore& link, BlockService& blocks, const FirmwareImage& image);

    static const Run Firmware; // "Перепрограммировать"
    static const Run Loader;   // "Перезапись загрузчика"

    // The area of the loaded image into the named blocks that discovery found, in slot, then
    // address order.
    Outcome Program(const Run& run, QList<blocks::Ref> targets);
    // The blocks whose lines are ticked, in the order a run takes them.
    QList<blocks::Ref> Ticked() const;

    // A programming run is in progress.
    bool Running() const { return running_; }
    // The main window may close: no run is in progress, or the engineer agrees to end it.
    bool MayClose();

private:
    enum class Result { Done, Doubtful, Failed, Stopped };
    Result ProgramBlock(const Run& run, const QByteArray& image, blocks::Ref block, int line);
    void TellDoubtful(const Run& run, const QList<blocks::Ref>& doubtful);

    LinkCore& link_;
    BlockService& blocks_;
    const FirmwareImage& image_;
    bool running_ = false;
};

} // namespace firmware
