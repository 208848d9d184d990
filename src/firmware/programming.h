// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Firmware and loader programming of the blocks ticked in the list: for each ticked block, in
// slot-then-address order, the line selected, prepare, the pointer set, a page erase before
// every 512 bytes and the memory writes of 8 image bytes each, then the completion, and the
// line unticked. The firmware run is bracketed by the service start and end notices and shows
// the wait panel. A missing reply ends the whole run with a message naming the stage; the block
// that failed keeps its tick, so a second click retries only the blocks that did not finish.

#include "blocks/blockrequests.h"
#include "firmware/image.h"

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

class FirmwareProgramming
{
public:
    FirmwareProgramming(LinkCore& link, BlockService& blocks, const FirmwareImage& image);

    static const Run Firmware; // "Перепрограммировать"
    static const Run Loader;   // "Перезапись загрузчика"

    // "Перепрограммировать": the firmware range into every ticked block.
    void BitBtn3Click() { Program(Firmware); }
    // "Перезапись загрузчика": the loader range into every ticked block.
    void BitBtn55Click() { Program(Loader); }

    // A programming run is in progress.
    bool Running() const { return running_; }
    // The main window may close: no run is in progress, or the engineer agrees to end it.
    bool MayClose();

private:
    enum class Outcome { Done, Failed, Stopped };
    void Program(const Run& run);
    Outcome ProgramBlock(const Run& run, const QByteArray& image, uint8_t f, uint8_t a, int line);

    LinkCore& link_;
    BlockService& blocks_;
    const FirmwareImage& image_;
    bool running_ = false;
};

} // namespace firmware
