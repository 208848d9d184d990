// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/blockservice.h"

#include "blocks/blockmemory.h"
#include "blocks/blockrequests.h"
#include "blocks/blocktexts.h"
#include "exchange/tracelog.h"
#include "support/atexit.h"
#include "support/byteorder.h"
#include "support/bytespan.h"
#include "support/cp1251.h"
#include "support/eventwait.h"
#include "support/operatorio.h"

BlockService::BlockService(LinkCore& link, TraceLog& trace, QObject* parent)
    : QObject(parent), link_(link), trace_(trace),
      defaultOperator_(std::make_unique<PolicyOperator>()), operator_(defaultOperator_.get())
{
    AnnouncementTimer.setObjectName(QStringLiteral("AnnouncementTimer"));
    AnnouncementTimer.setInterval(AnnouncementWaitInterval);
    AnnouncementTimer.setSingleShot(true);
}

BlockService::~BlockService() = default;

void BlockService::SetOperator(OperatorIo* op)
{
    operator_ = op ? op : defaultOperator_.get();
}

void BlockService::SetControl(Owned<bool, BlockService>& field, bool value)
{
    if (field == value)
        return;
    field = value;
    emit controlsChanged();
}

void BlockService::SetImage(const QString& version)
{
    ImageOpened = true;
    ImageVersion = version;
}

void BlockService::LinkStarted()
{
    SetControl(QScanEnabled, true);
}

void BlockService::HandleRecord(const CanRecord& record)
{
    if (!packet::IsAnnouncementAnswer(record))
        return;
    FoundBlocks.ref().append({qint32(record.function), qint32(record.address)});
    ++FoundCount.ref();
}

void BlockService::SetTicked(int line, bool ticked)
{
    bloks.SetTicked(line, ticked);
}

void BlockService::SetActive(int line, const QString& note)
{
    bloks.SetActive(line, note);
}

bool BlockService::Discover(Scope scope)
{
    return Run(scope, std::nullopt);
}

bool BlockService::ReadBlock(blocks::Ref block)
{
    return Run(Scope::All, block);
}

int BlockService::LineOf(blocks::Ref block) const
{
    if (block.slot < 1 || block.slot > blocks::Slots || block.address < 0 ||
        block.address >= blocks::Addresses)
        return -1;
    const Entry& e = TableEntry(block.slot, block.address);
    return e.function != 0 ? e.line : -1;
}

std::optional<blocks::Ref> BlockService::BlockOfLine(int line) const
{
    for (int slot = 1; slot <= blocks::Slots; ++slot)
        for (int address = 0; address < blocks::Addresses; ++address) {
            const Entry& e = TableEntry(slot, address);
            if (e.function != 0 && e.line == line)
                return blocks::Ref{slot, address};
        }
    return std::nullopt;
}

std::optional<QByteArray> BlockService::RecordOf(blocks::Ref block) const
{
    const int line = LineOf(block);
    if (line < 0 || line >= Lines || !RecordRead->at(size_t(line)))
        return std::nullopt;
    const params::Image& image = BlockImages->at(size_t(line));
    return QByteArray(reinterpret_cast<const char*>(image.data()),
                      params::RecordSize(block.function()));
}

std::optional<params::Values> BlockService::ValuesOf(blocks::Ref block) const
{
    const auto record = RecordOf(block);
    if (!record)
        return std::nullopt;
    return params::Decode(block.function(), ByteSpan(*record));
}

QString BlockService::VersionOf(blocks::Ref block) const
{
    return VersionOfLine(LineOf(block));
}

QString BlockService::VersionOfLine(int line) const
{
    return line >= 0 && line < versions_.size() ? versions_[line] : QString();
}

BlockService::DiagCounts BlockService::Counts(int line) const
{
    if (line < 0 || line >= Lines)
        return {};
    const auto& diag = BlockDiag->at(size_t(line));
    return {byteorder::le16(diag.data()), byteorder::le16(diag.data() + 2)};
}

void BlockService::Clear()
{
    // Nothing of the previous discovery survives, whichever way this one ends.
    BlockTable = Table{};
    BlockImages.ref().fill({});
    RecordRead.ref().fill(false);
    BlockDiag.ref().fill({});
    bloks.Clear();
    versions_.clear();
    SetControl(WriteEnabled, false);
    emit discoveryStarted();
}

bool BlockService::Admitted(Scope scope, int slot, int address) const
{
    if (scope != Scope::Announced || FoundCount == 0)
        return true;
    const std::pair<qint32, qint32> wanted{blocks::FunctionOfSlot(slot), address};
    return FoundBlocks->contains(wanted);
}

bool BlockService::Run(Scope scope, std::optional<blocks::Ref> only)
{
    const auto operation = link_.Operations.Begin(QStringLiteral("поиск блоков"));
    if (!operation)
        return false;
    OperatorIo& op = Operator();
    const bool announced = scope == Scope::Announced;
    discovering_ = true;
    // The controls come back whichever way the discovery ends.
    AtExit restore{[&] {
        discovering_ = false;
        readingLine_ = -1;
        op.Progress(0, blocks::MaxBlocks, 0);
        if (announced) {
            SetControl(QScanEnabled, true);
            op.Busy(false);
        }
        emit discovered();
    }};
    if (announced) {
        op.Busy(true);
        FoundBlocks.ref().clear();
        FoundCount = 0;
        const Sent query = link_.SendRequest(blockreq::AnnouncementQuery());
        if (query == Sent::Stopped)
            return false;
        if (query == Sent::Done)
            trace_.TraceNote(QStringLiteral("QScan"));
        SetControl(QScanEnabled, false);
    }
    op.Progress(0, blocks::MaxBlocks, 0);
    Clear();

    if (announced) {
        // The blocks announce themselves meanwhile; the dispatcher hands their answers here.
        AnnouncementTimer.start();
        eventwait::WaitWhile([this] { return AnnouncementTimer.isActive(); });
        if (eventwait::Closing())
            return false;
    }

    int position = 0;
    for (int slot = 1; slot <= blocks::Slots; ++slot) {
        for (int address = 0; address < blocks::Addresses; ++address) {
            op.Progress(0, blocks::MaxBlocks, ++position);
            if (!Admitted(scope, slot, address) || (only && *only != blocks::Ref{slot, address}))
                continue;
            bool abandonSlot = false;
            if (!Probe(slot, address, abandonSlot))
                return false;
            if (abandonSlot)
                break; // the rest of the slot is not visited, nor counted
        }
    }
    return true;
}

bool BlockService::Probe(int slot, int address, bool& abandonSlot)
{
    const uint8_t f = blocks::FunctionOfSlot(slot);
    const uint8_t a = uint8_t(address);

    // Presence: the block takes the pointer to its version area.
    Reply r = link_.SendAndWait(blockreq::PointerSet(f, a, blockreq::VersionArea));
    if (r != Reply::Answered)
        return r != Reply::Stopped;

    SetControl(WriteEnabled, true);
    const QString head = QStringLiteral("Блок ") + blocks::LabelOfSlot(slot) + QLatin1Char(' ') +
                         QString::number(address);
    // The line is known as being read before it shows, so that it cannot be selected yet.
    const int line = bloks.count();
    readingLine_ = line;
    BlockTable.ref()[size_t(address)][size_t(slot - 1)] = Entry{f, line};
    versions_.resize(line + 1);
    bloks.Add(head);

    if (ReadVersion(f, a, line, head) == Reply::Stopped || ReadRecord(f, a, line) == Reply::Stopped)
        return false;

    // Diagnostics: Retry goes on without asking again, Cancel leaves the rest of the slot.
    r = link_.SendAndWait(blockreq::DiagnosticsRead(f, a));
    if (r == Reply::Stopped)
        return false;
    if (r == Reply::Answered)
        for (int i = 0; i < blockreq::ChunkSize; ++i)
            BlockDiag.ref()[size_t(line)][size_t(i)] = uint8_t(link_.ReplyData->at(i));
    else if (!Operator().Retry(blocktext::ReadDiagnostics, blocktext::NoAnswer))
        abandonSlot = true;
    readingLine_ = -1;
    return true;
}

Reply BlockService::ReadVersion(uint8_t f, uint8_t a, int line, const QString& head)
{
    // Six reads of 8 bytes, 0x00 and 0xFF left out.
    QByteArray bytes;
    const Reply r = blockmem::ReadArea(link_, Operator(), f, a, blockreq::VersionArea, VersionReads,
                                       blocktext::ReadVersion, bytes);
    if (r == Reply::Stopped)
        return r;
    bytes.removeIf([](char b) { return b == '\0' || b == '\xFF'; });
    const QString version = QLatin1Char(' ') + FromCp1251(bytes);
    versions_[line] = version;
    bloks.SetLine(line, head + version);
    if (ImageOpened && version != ImageVersion.get())
        bloks.SetTicked(line, true);
    return r;
}

Reply BlockService::ReadRecord(uint8_t f, uint8_t a, int line)
{
    params::Image& image = BlockImages.ref()[size_t(line)];
    for (int chunk = 0; chunk < blocks::ChunksOf(f); ++chunk) {
        for (int attempt = 0;; ++attempt) {
            const Reply r = link_.SendAndWait(blockreq::ConfigRead(f, a, chunk));
            if (r == Reply::Stopped)
                return r;
            if (r == Reply::Answered) {
                for (int i = 0; i < blockreq::ChunkSize; ++i)
                    image[size_t(blockreq::ChunkSize * chunk + i)] =
                        uint8_t(link_.ReplyData->at(i));
                break;
            }
            if (!Operator().Retry(blocktext::ReadVersion, blocktext::NoAnswer, attempt))
                return Reply::NoAnswer;
        }
    }
    RecordRead.ref()[size_t(line)] = true;
    return Reply::Answered;
}

Reply BlockService::WriteValues(blocks::Ref block, const params::Values& values)
{
    const auto operation = link_.Operations.Begin(QStringLiteral("запись параметров блока"));
    if (!operation)
        return Reply::Stopped;
    OperatorIo& op = Operator();
    auto record = RecordOf(block);
    if (!record) {
        // Its bytes that no field lists are not known: they would be written wrong.
        op.Tell(blocktext::WriteConfiguration,
                QStringLiteral("Параметры блока %1 не были прочитаны полностью, запись отменена. "
                               "Выполните поиск блоков заново.")
                    .arg(blocks::RefText(block)));
        return Reply::NoAnswer;
    }
    const std::span bytes = WritableByteSpan(*record);
    params::Encode(block.function(), values, bytes);
    op.Busy(true);
    AtExit hide{[&op] { op.Busy(false); }};
    return WriteRecord(op, block.function(), uint8_t(block.address), bytes);
}

Reply BlockService::WriteRecord(OperatorIo& op, uint8_t f, uint8_t a,
                                std::span<const uint8_t> record)
{
    const auto told = [&op](Reply r) {
        if (r == Reply::NoAnswer)
            op.Tell(blocktext::WriteConfiguration, blocktext::NoAnswerRepeat);
        return r;
    };
    for (int chunk = 0; chunk < blocks::ChunksOf(f); ++chunk) {
        const Reply r = link_.SendAndWait(
            blockreq::ConfigWrite(f, a, chunk == 0, blockreq::ChunkOf(record, chunk)));
        if (r != Reply::Answered)
            return told(r);
    }
    const Reply end = link_.SendAndWait(blockreq::ConfigWriteEnd(f, a));
    if (end != Reply::Answered)
        return told(end);
    (void)link_.SendAndWait(blockreq::Completion(f, a)); // its outcome does not matter
    return Reply::Answered;
}
