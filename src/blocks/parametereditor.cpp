// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/parametereditor.h"

#include "support/convert.h"
#include "support/operatorio.h"

ParameterEditor::ParameterEditor(BlockService& blocks, QObject* parent)
    : QObject(parent), blocks_(blocks)
{
    connect(&blocks, &BlockService::discoveryStarted, this, &ParameterEditor::Reset);
}

std::optional<blocks::Ref> ParameterEditor::Shown() const
{
    if (SelectedBlockFunction == 0)
        return std::nullopt;
    return blocks::Ref{blocks::SlotOf(uint8_t(SelectedBlockFunction.get())), SelectedBlockAddress};
}

void ParameterEditor::Reset()
{
    // Nothing the grid shows is saved into an image from here on.
    SelectedBlockFunction = 0;
    SelectedBlockAddress = 0;
    shownLine_ = -1;
    shownValues_.clear();
    edited_.fill(std::nullopt);
    ConfigBl.Clear();
    DiagRest = QString();
    DiagRep = QString();
    CalibrationShown = false;
    InterlockShown = false;
    emit shownChanged(-1);
    emit controlsChanged();
}

bool ParameterEditor::KeepEdits()
{
    const auto shown = Shown();
    if (!shown || shownLine_ < 0 || !edited_[size_t(shownLine_)])
        return true; // no record to keep them in: it was not read whole
    const uint8_t f = shown->function();
    QString error;
    const auto values =
        params::ReadGrid(f, ConfigBl.texts(), ConfigBl.headers(), shownValues_, &error);
    if (!values) {
        blocks_.Operator().Tell(InputErrorCaption, error);
        return false;
    }
    params::Image& image = edited_[size_t(shownLine_)].value();
    params::Encode(f, *values, image);
    std::copy_n(image.begin(), params::BufferSize, ConfigBuffer.ref().begin());
    return true;
}

bool ParameterEditor::Select(int line)
{
    const auto refuse = [this] {
        emit shownChanged(shownLine_); // the highlight goes back to the block shown
        return false;
    };
    if (line >= 0 && line == blocks_.ReadingLine()) {
        emit refused(QStringLiteral("Блок ещё считывается: выберите его после поиска"));
        return refuse();
    }
    if (line == shownLine_)
        return true;
    if (!KeepEdits())
        return refuse();
    const auto block = blocks_.BlockOfLine(line);
    if (!block || line >= BlockService::Lines)
        return shownLine_ < 0 || refuse(); // nothing to show: the grid and the highlight stay
    Show(line, *block);
    return true;
}

void ParameterEditor::Show(int line, blocks::Ref block)
{
    const uint8_t f = block.function();
    SelectedBlockFunction = f;
    SelectedBlockAddress = block.address;
    shownLine_ = line;
    const auto counts = blocks_.Counts(line);
    DiagRest = QString::number(counts.restarts);
    DiagRep = QString::number(counts.repeats);

    // The edits kept for the block, or its record as read; a record not read whole shows
    // no values (its bytes may be anyone's).
    auto& edited = edited_[size_t(line)];
    if (!edited && blocks_.RecordRead->at(size_t(line)))
        edited = blocks_.BlockImages->at(size_t(line));
    const params::Image& image = edited ? *edited : blocks_.BlockImages->at(size_t(line));
    std::copy_n(image.begin(), params::BufferSize, ConfigBuffer.ref().begin());
    shownValues_ = edited ? params::Decode(f, *edited) : params::Values{};
    const bool interlock = edited && params::InInterlockMode(f, *edited);
    params::Texts texts{};
    params::ShowValues(f, shownValues_, texts);
    ConfigBl.Show(params::RowHeaders(f, interlock), texts);
    CalibrationShown = f == blocks::FunctionTit;
    InterlockShown = interlock;
    emit shownChanged(line);
    emit controlsChanged();
}

void ParameterEditor::Write()
{
    const auto block = Shown();
    if (!block || !KeepEdits())
        return;
    const auto& edited = edited_[size_t(shownLine_)];
    // Without a record read whole there is nothing to write from: the core says so.
    const params::Values values =
        edited ? params::Decode(block->function(), *edited) : params::Values{};
    (void)blocks_.WriteValues(*block, values);
}

void ParameterEditor::Replicate()
{
    const auto block = Shown();
    if (!block)
        return;
    params::Texts texts = ConfigBl.texts();
    params::Replicate(block->function(), texts);
    ConfigBl.Show(ConfigBl.headers(), texts);
}
