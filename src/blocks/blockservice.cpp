// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/blockservice.h"

#include "blocks/blockrequests.h"
#include "blocks/blocktexts.h"
#include "exchange/dispatcher.h"
#include "exchange/linkcore.h"
#include "exchange/tracelog.h"
#include "support/atexit.h"
#include "support/byteorder.h"
#include "support/cp1251.h"
#include "support/eventwait.h"
#include "support/operatorio.h"

BlockService::BlockService(LinkCore& link, ReceiveDispatcher& dispatcher, TraceLog& trace,
                           QObject* parent)
    : QObject(parent), link_(link), dispatcher_(dispatcher), trace_(trace),
      defaultOperator_(std::make_unique<PolicyOperator>())
{
    Operator = defaultOperator_.get();
}

BlockService::~BlockService() = default;

void BlockService::SetOperator(OperatorIo* op)
{
    Operator = op ? op : defaultOperator_.get();
}

void BlockService::SetControls(bool* field, bool value)
{
    if (*field == value)
        return;
    *field = value;
    emit controlsChanged();
}

void BlockService::LinkStarted()
{
    SetControls(&QScanEnabled, true);
}

void BlockService::QScanClick()
{
    Discover(true);
}

void BlockService::BitBtn1Click()
{
    Discover(false);
}

void BlockService::ReadBlock(int slot, int address)
{
    Discover(false, std::pair{slot, address});
}

bool BlockService::Found(uint8_t function, int address) const
{
    for (const auto& [f, a] : dispatcher_.FoundBlocks)
        if (f == function && a == address)
            return true;
    return false;
}

BlockService::DiagCounts BlockService::Counts(int line) const
{
    if (line < 0 || line >= Lines)
        return {};
    const auto& diag = BlockDiag[size_t(line)];
    return {byteorder::le16(diag.data()), byteorder::le16(diag.data() + 2)};
}

QString BlockService::VersionOfLine(int line) const
{
    return line >= 0 && line < versions_.size() ? versions_[line] : QString();
}

void BlockService::Discover(bool announced, std::optional<std::pair<int, int>> only)
{
    const auto operation = link_.Operations.Begin(QStringLiteral("поиск блоков"));
    if (!operation)
        return;
    // The controls come back whichever way the discovery ends.
    AtExit restore{[&] {
        Operator->Progress(0, blocks::MaxBlocks, 0);
        if (announced) {
            SetControls(&QScanEnabled, true);
            Operator->Busy(false);
        }
    }};
    if (announced) {
        Operator->Busy(true);
        dispatcher_.FoundCount = 0;
        dispatcher_.FoundBlocks.clear();
        const Sent query = link_.SendRequest(blockreq::AnnouncementQuery());
        if (query == Sent::Stopped)
            return;
        if (query == Sent::Done)
            trace_.TraceNote(QStringLiteral("QScan"));
        SetControls(&QScanEnabled, false);
    }
    Operator->Progress(0, blocks::MaxBlocks, 0);

    // Nothing the grid shows is saved into an image from here on.
    SelectedBlockFunction = 0;
    SelectedBlockAddress = 0;
    shownLine_ = -1;
    ConfigBl.Clear(announced ? params::GridRows - 1 : 38);
    SetControls(&WriteEnabled, false);
    bloks.Clear();
    versions_.clear();
    RecordRead.fill(false);
    emit discovered();

    if (announced) {
        // The blocks announce themselves meanwhile; the dispatcher collects them.
        link_.Timer2.setInterval(AnnouncementWait);
        link_.Timer2.start();
        eventwait::WaitWhile([this] { return link_.Timer2.isActive(); });
        if (eventwait::Closing())
            return;
    }

    int position = 0;
    for (int slot = 1; slot <= blocks::Slots; ++slot) {
        for (int address = 0; address < blocks::Addresses; ++address) {
            TableEntry(slot, address) = Entry{};
            Operator->Progress(0, blocks::MaxBlocks, ++position);
            if (announced && dispatcher_.FoundCount > 0 &&
                !Found(blocks::FunctionOfSlot(slot), address))
                continue;
            if (only && *only != std::pair{slot, address})
                continue;
            bool abandonSlot = false;
            if (!Probe(slot, address, abandonSlot))
                return;
            if (abandonSlot)
                break; // the rest of the slot is not visited, nor counted
        }
    }
}

bool BlockService::Probe(int slot, int address, bool& abandonSlot)
{
    const uint8_t f = blocks::FunctionOfSlot(slot);
    const uint8_t a = uint8_t(address);
    const QByteArray& reply = link_.ReplyData;

    // Presence: the block takes the pointer to its version area.
    Reply r = link_.SendAndWait(blockreq::PointerSet(f, a, blockreq::VersionArea));
    if (r == Reply::Stopped)
        return false;
    if (r == Reply::NoAnswer)
        return true;

    SetControls(&WriteEnabled, true);
    const QString head = QStringLiteral("Блок ") + blocks::LabelOfSlot(slot) + QLatin1Char(' ') +
                         QString::number(address);
    const int line = bloks.Add(head);
    TableEntry(slot, address) = Entry{f, line};

    // Version: six reads of 8 bytes, 0x00 and 0xFF left out.
    QByteArray version;
    for (int answered = 0, attempt = 0; answered < VersionReads;) {
        r = link_.SendAndWait(blockreq::MemoryRead(f, a));
        if (r == Reply::Stopped)
            return false;
        if (r == Reply::Answered) {
            for (int i = 0; i < blockreq::ChunkSize; ++i) {
                const uint8_t b = uint8_t(reply[i]);
                if (b != 0x00 && b != 0xFF)
                    version += char(b);
            }
            ++answered;
            attempt = 0;
        } else if (!Operator->Retry(blocktext::ReadVersion, blocktext::NoAnswer, attempt++)) {
            break;
        }
    }
    const QString versionText = QLatin1Char(' ') + FromCp1251(version);
    versions_.resize(line + 1);
    versions_[line] = versionText;
    bloks.SetLine(line, head + versionText);
    if (ImageOpened && versionText != ImageVersion)
        bloks.SetTicked(line, true);

    // The parameter record, chunk by chunk.
    params::Image& image = BlockImages[size_t(line)];
    bool complete = true;
    for (int chunk = 0; chunk < blocks::ChunksOf(f) && complete; ++chunk) {
        for (int attempt = 0;; ++attempt) {
            r = link_.SendAndWait(blockreq::ConfigRead(f, a, chunk));
            if (r == Reply::Stopped)
                return false;
            if (r == Reply::Answered) {
                for (int i = 0; i < blockreq::ChunkSize; ++i)
                    image[size_t(blockreq::ChunkSize * chunk + i)] = uint8_t(reply[i]);
                break;
            }
            if (!Operator->Retry(blocktext::ReadVersion, blocktext::NoAnswer, attempt)) {
                complete = false;
                break;
            }
        }
    }
    RecordRead[size_t(line)] = complete;

    // Diagnostics: Retry goes on without asking again, Cancel leaves the rest of the slot.
    r = link_.SendAndWait(blockreq::DiagnosticsRead(f, a));
    if (r == Reply::Stopped)
        return false;
    if (r == Reply::Answered) {
        for (int i = 0; i < blockreq::ChunkSize; ++i)
            BlockDiag[size_t(line)][size_t(i)] = uint8_t(reply[i]);
    } else if (!Operator->Retry(blocktext::ReadDiagnostics, blocktext::NoAnswer)) {
        abandonSlot = true;
    }
    return true;
}

bool BlockService::SelectionProcedure()
{
    SetControls(&CalibrationShown, false);
    SetControls(&InterlockShown, false);

    if (SelectedBlockFunction != 0 && shownLine_ >= 0) {
        if (const auto error = params::Encode(uint8_t(SelectedBlockFunction), ConfigBl.Values,
                                              BlockImages[size_t(shownLine_)])) {
            Operator->Tell(QString(), *error);
            return false;
        }
    }

    const int selected = bloks.selected();
    for (int slot = 1; slot <= blocks::Slots; ++slot) {
        for (int address = 0; address < blocks::Addresses; ++address) {
            const Entry& e = TableEntry(slot, address);
            if (e.function == 0 || e.line != selected || e.line >= Lines)
                continue;
            SelectedBlockFunction = e.function;
            SelectedBlockAddress = address;
            shownLine_ = e.line;
            const params::Image& image = BlockImages[size_t(e.line)];
            const DiagCounts counts = Counts(e.line);
            DiagRest = QString::number(counts.restarts);
            DiagRep = QString::number(counts.repeats);
            std::copy_n(image.begin(), ConfigBuffer.size(), ConfigBuffer.begin());

            const uint8_t f = uint8_t(e.function);
            const bool interlock =
                f == blocks::FunctionTu && params::ControlType(image) == params::InterlockMode;
            params::Texts values{};
            params::Decode(f, image, values);
            ConfigBl.Show(params::RowHeaders(f, interlock), values);
            SetControls(&CalibrationShown, f == blocks::FunctionTit);
            SetControls(&InterlockShown, interlock);
            emit controlsChanged(); // the diagnostics fields
            return true;
        }
    }
    return true; // nothing selected: the grid and the selection stay
}

void BlockService::bloksClick(int line)
{
    bloks.SetSelected(line);
    SelectionProcedure();
}

void BlockService::BitBtn6Click()
{
    if (SelectedBlockFunction == 0)
        return;
    const auto operation = link_.Operations.Begin(QStringLiteral("запись параметров блока"));
    if (!operation)
        return;
    Operator->Busy(true);
    AtExit hide{[this] { Operator->Busy(false); }};
    if (!SelectionProcedure() || shownLine_ < 0)
        return;
    if (!RecordRead[size_t(shownLine_)]) {
        // Part of the image may hold another block's bytes from an earlier discovery.
        Operator->Tell(blocktext::WriteConfiguration,
                       QStringLiteral("Параметры этого блока были прочитаны не полностью, запись "
                                      "отменена. Выполните поиск блоков заново."));
        return;
    }

    // What is written is fixed now: a click on another line during the write changes nothing.
    const uint8_t f = uint8_t(SelectedBlockFunction);
    const uint8_t a = uint8_t(SelectedBlockAddress);
    const auto record = ConfigBuffer;
    (void)WriteRecord(*Operator, f, a, record);
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

void BlockService::MenuItem2Click()
{
    if (SelectedBlockFunction == 0)
        return;
    params::Texts values = ConfigBl.Values;
    params::Replicate(uint8_t(SelectedBlockFunction), values);
    ConfigBl.Show(ConfigBl.Headers, values);
}
