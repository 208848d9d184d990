// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmware/programming.h"

#include "blocks/blockservice.h"
#include "blocks/blocktexts.h"
#include "exchange/linkcore.h"
#include "support/atexit.h"
#include "support/operatorio.h"

#include <algorithm>

namespace firmware
{

namespace
{
const QString CloseQuestion =
    QStringLiteral("Идёт программирование блоков. Прервать и закрыть программу?");

// Slot, then address: the order of a run.
bool RunOrder(const blocks::Ref& x, const blocks::Ref& y)
{
    return std::pair{x.slot, x.address} < std::pair{y.slot, y.address};
}
} // namespace

// The bar shows nothing between blocks of a firmware run (a position below its range); a
// loader run leaves it at the start of its range.
const Run FirmwareProgramming::Firmware{.area = FirmwareArea,
                                        .name = QStringLiteral("программирование блоков"),
                                        .caption = QStringLiteral("Перепрограммировать"),
                                        .prepareCaption = blocktext::Prepare,
                                        .notices = true,
                                        .firmwareCompletion = true,
                                        .idlePosition = 2000};
const Run FirmwareProgramming::Loader{.area = LoaderArea,
                                      .name = QStringLiteral("перезапись загрузчика"),
                                      .caption = QStringLiteral("Перезапись загрузчика"),
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
    return !running_ || blocks_.Operator().Confirm(QString(), CloseQuestion);
}

QList<blocks::Ref> FirmwareProgramming::Ticked() const
{
    QList<blocks::Ref> ticked;
    for (int slot = 1; slot <= blocks::Slots; ++slot)
        for (int address = 0; address < blocks::Addresses; ++address) {
            const blocks::Ref block{slot, address};
            const int line = blocks_.LineOf(block);
            if (line >= 0 && blocks_.bloks.ticked(line))
                ticked << block;
        }
    return ticked;
}

Outcome FirmwareProgramming::Program(const Run& run, QList<blocks::Ref> targets)
{
    Outcome outcome;
    std::sort(targets.begin(), targets.end(), RunOrder);
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    outcome.untouched = targets;
    outcome.stopped = true;
    if (!image_.Loaded())
        return outcome;
    const auto operation = link_.Operations.Begin(run.name);
    if (!operation)
        return outcome;
    running_ = true;
    // What is written is fixed now: an image loaded during the run changes nothing of it.
    const QByteArray image = image_.ImageData;
    OperatorIo& op = blocks_.Operator();
    // The line stays marked where the run stopped.
    AtExit stopped{[&] {
        running_ = false;
        if (outcome.failed)
            blocks_.SetActive(blocks_.LineOf(*outcome.failed),
                              QStringLiteral("не запрограммирован"));
        else
            blocks_.SetActive(-1);
    }};

    if (run.notices) {
        if (link_.SendRequest(blockreq::ServiceStart()) == Sent::Stopped)
            return outcome;
        op.Busy(true);
    }
    AtExit hide{[&] {
        if (run.notices)
            op.Busy(false);
    }};

    for (const blocks::Ref& block : targets) {
        const int line = blocks_.LineOf(block);
        if (line < 0)
            continue; // not found by the latest discovery: nothing is sent to it
        outcome.untouched.removeOne(block);
        const Result result = ProgramBlock(run, image, block, line);
        if (result == Result::Stopped) {
            outcome.failed = block;
            return outcome;
        }
        if (result == Result::Failed) {
            outcome.failed = block;
            break;
        }
        (result == Result::Done ? outcome.done : outcome.doubtful) << block;
    }
    outcome.stopped = false;
    if (run.notices)
        (void)link_.SendRequest(blockreq::ServiceEnd());
    else if (!outcome.failed)
        op.Progress(1, 100, 1);
    if (!outcome.doubtful.isEmpty())
        TellDoubtful(run, outcome.doubtful);
    return outcome;
}

void FirmwareProgramming::TellDoubtful(const Run& run, const QList<blocks::Ref>& doubtful)
{
    blocks_.Operator().Tell(
        run.caption,
        QStringLiteral("Адаптер не подтвердил запрос к блокам %1, и его пришлось повторить: "
                       "блок мог выполнить его дважды, и записанное в нём может быть сдвинуто. "
                       "Эти блоки остались отмеченными: запрограммируйте их ещё раз.")
            .arg(blocks::RefListText(doubtful)));
}

FirmwareProgramming::Result FirmwareProgramming::ProgramBlock(const Run& run,
                                                              const QByteArray& image,
                                                              blocks::Ref block, int line)
{
    OperatorIo& op = blocks_.Operator();
    const uint8_t f = block.function(), a = uint8_t(block.address);
    Result result = Result::Done;
    bool repeated = false;
    // One awaited request: on a missing reply the message names the stage and the run ends.
    // One that changes the block's memory and had to be sent again makes the block doubtful.
    const auto awaited = [&](const TPacket& request, const QString& caption, bool changes) {
        const Reply r = link_.SendAndWait(request);
        repeated = repeated || (changes && link_.LastRequestRepeated);
        if (r == Reply::Answered)
            return true;
        result = r == Reply::Stopped ? Result::Stopped : Result::Failed;
        if (r == Reply::NoAnswer)
            op.Tell(caption, blocktext::NoAnswer);
        return false;
    };

    blocks_.SetActive(line, QStringLiteral("программируется"));
    if (!awaited(blockreq::Prepare(f, a), run.prepareCaption, true) ||
        !awaited(blockreq::PointerSet(f, a, run.area.pointer), blocktext::SetPointer, false))
        return result;
    const int from = run.area.from, to = run.area.end();
    op.Progress(from, to, from);
    const bool streamed = StreamArea(
        image, run.area, [&] { return awaited(blockreq::PageErase(f, a), blocktext::Erase, true); },
        [&](const blockreq::Chunk& chunk) {
            return awaited(blockreq::MemoryWrite(f, a, chunk), blocktext::Transfer, true);
        },
        [&](int position) { op.Progress(from, to, position); });
    if (!streamed)
        return result;

    // The completion's outcome does not matter, unless the program is closing.
    const Reply done = link_.SendAndWait(run.firmwareCompletion ? blockreq::FirmwareCompletion(f, a)
                                                                : blockreq::Completion(f, a));
    if (done == Reply::Stopped)
        return Result::Stopped;
    op.Progress(from, to, run.idlePosition);
    if (repeated)
        return Result::Doubtful; // keeps its tick
    blocks_.SetTicked(line, false);
    return Result::Done;
}

} // namespace firmware
