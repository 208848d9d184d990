// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmware/programming.h"

#include "blocks/blocktexts.h"

#include "blocks/blockservice.h"
#include "exchange/linkcore.h"
#include "support/atexit.h"
#include "support/operatorio.h"

namespace firmware
{

namespace
{
const QString CloseQuestion =
    QStringLiteral("Идёт программирование блоков. Прервать и закрыть программу?");
} // namespace

// The bar shows nothing between blocks of a firmware run (a position below its range); a
// loader run leaves it at the start of its range.
const Run FirmwareProgramming::Firmware{.area = FirmwareArea,
                                        .name = QStringLiteral("программирование блоков"),
                                        .prepareCaption = blocktext::Prepare,
                                        .notices = true,
                                        .firmwareCompletion = true,
                                        .idlePosition = 2000};
const Run FirmwareProgramming::Loader{.area = LoaderArea,
                                      .name = QStringLiteral("перезапись загрузчика"),
                                      .prepareCaption = blocktext::Transfer,
                                      .notices = false,
                                      .firmwareCompletion = false,
                                      .idlePosition = LoaderArea.from};

FirmwareProgramming::FirmwareProgramming(LinkCore& link, BlockService& blocks,
                                         const FirmwareImage& image)
    : link_(link), blocks_(blocks), image_(image)
{
}

bool FirmwareProgramming::MayClose()
{
    return !running_ || blocks_.Operator->Confirm(QString(), CloseQuestion);
}

void FirmwareProgramming::Program(const Run& run)
{
    if (!image_.Loaded())
        return;
    const auto operation = link_.Operations.Begin(run.name);
    if (!operation)
        return;
    running_ = true;
    AtExit stopped{[this] { running_ = false; }};
    // What is written is fixed now: an image loaded during the run changes nothing of it.
    const QByteArray image = image_.ImageData;
    OperatorIo& op = *blocks_.Operator;

    if (run.notices) {
        if (link_.SendRequest(blockreq::ServiceStart()) == Sent::Stopped)
            return;
        op.Busy(true);
    }
    AtExit hide{[&] {
        if (run.notices)
            op.Busy(false);
    }};

    for (int slot = 1; slot <= blocks::Slots; ++slot) {
        for (int address = 0; address < blocks::Addresses; ++address) {
            const BlockService::Entry& e = blocks_.TableEntry(slot, address);
            if (e.function == 0 || !blocks_.bloks.ticked(e.line))
                continue;
            const Outcome outcome =
                ProgramBlock(run, image, uint8_t(e.function), uint8_t(address), e.line);
            if (outcome == Outcome::Stopped)
                return;
            if (outcome == Outcome::Failed) {
                if (run.notices)
                    (void)link_.SendRequest(blockreq::ServiceEnd());
                return;
            }
        }
    }
    if (run.notices)
        (void)link_.SendRequest(blockreq::ServiceEnd());
    else
        op.Progress(1, 100, 1);
}

FirmwareProgramming::Outcome FirmwareProgramming::ProgramBlock(const Run& run,
                                                               const QByteArray& image, uint8_t f,
                                                               uint8_t a, int line)
{
    OperatorIo& op = *blocks_.Operator;
    Outcome outcome = Outcome::Done;
    // One awaited request: on a missing reply the message names the stage and the run ends.
    const auto awaited = [&](const TPacket& request, const QString& caption) {
        const Reply r = link_.SendAndWait(request);
        if (r == Reply::Answered)
            return true;
        outcome = r == Reply::Stopped ? Outcome::Stopped : Outcome::Failed;
        if (r == Reply::NoAnswer)
            op.Tell(caption, blocktext::NoAnswer);
        return false;
    };

    blocks_.bloks.SetSelected(line);
    if (!awaited(blockreq::Prepare(f, a), run.prepareCaption) ||
        !awaited(blockreq::PointerSet(f, a, run.area.pointer), blocktext::SetPointer))
        return outcome;
    const int from = run.area.from, to = run.area.end();
    op.Progress(from, to, from);
    const bool streamed = StreamArea(
        image, run.area, [&] { return awaited(blockreq::PageErase(f, a), blocktext::Erase); },
        [&](const blockreq::Chunk& chunk) {
            return awaited(blockreq::MemoryWrite(f, a, chunk), blocktext::Transfer);
        },
        [&](int position) { op.Progress(from, to, position); });
    if (!streamed)
        return outcome;

    // The completion's outcome does not matter, unless the program is closing.
    const Reply done = link_.SendAndWait(run.firmwareCompletion ? blockreq::FirmwareCompletion(f, a)
                                                                : blockreq::Completion(f, a));
    if (done == Reply::Stopped)
        return Outcome::Stopped;
    blocks_.bloks.SetTicked(line, false);
    op.Progress(from, to, run.idlePosition);
    return Outcome::Done;
}

} // namespace firmware
