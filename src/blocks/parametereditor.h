// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parameter grid ConfigBl and the block it shows: a click on a line of bloks selects that
// block and shows its record in the grid; the engineer's edits stay with the block (in its
// image, not in the block) while another is shown, until it is written or a discovery reads
// the blocks again. The grid always shows the block whose line the list highlights: a selection
// that is refused leaves both on the block shown before.

#include "blocks/blockservice.h"
#include "blocks/parameters.h"
#include "support/owned.h"

#include <QObject>
#include <array>
#include <optional>

class ParameterEditor : public QObject
{
    Q_OBJECT
public:
    explicit ParameterEditor(BlockService& blocks, QObject* parent = nullptr);

    ParameterGrid ConfigBl;

    // The block the grid shows (0 / 0 after a discovery), and the work buffer: a copy of the
    // shown image, whose bytes the test bench's writes send where they set none.
    Owned<qint32, ParameterEditor> SelectedBlockFunction{0};
    Owned<qint32, ParameterEditor> SelectedBlockAddress{0};
    Owned<std::array<uint8_t, params::BufferSize>, ParameterEditor> ConfigBuffer;
    // "Кол-во рестартов", "Кол-во повторов передач" of the shown block.
    Owned<QString, ParameterEditor> DiagRest;
    Owned<QString, ParameterEditor> DiagRep;
    // Panel6 "Калибровка АЦП" (a measurement block), and "Чтение БЛК", "Запись БЛК",
    // "из Файла", "в Файл" (a telecontrol block in interlock mode).
    Owned<bool, ParameterEditor> CalibrationShown{false};
    Owned<bool, ParameterEditor> InterlockShown{false};

    // The shown block and its line; nothing / -1 when none.
    std::optional<blocks::Ref> Shown() const;
    int ShownLine() const { return shownLine_; }

    // The selection procedure: the grid's values kept for the shown block, then `line`'s block
    // shown. False, with the shown block kept, when a cell of the shown block is not an
    // integer (the engineer is told which) or the running discovery is still reading `line`.
    bool Select(int line);
    // "Записать параметры блока": the grid's values written into the block it shows.
    void Write();
    // "Размножить": the first input's or output's settings copied to the others, in the grid.
    void Replicate();

signals:
    // The grid now shows the block of this line (-1: none): the list highlights it.
    void shownChanged(int line);
    // One of the control states above changed.
    void controlsChanged();
    // A selection refused without a message box, in the status bar's words.
    void refused(const QString& message);

private:
    bool KeepEdits();
    void Show(int line, blocks::Ref block);
    void Reset();

    BlockService& blocks_;
    int shownLine_ = -1;
    params::Values shownValues_; // as the grid was given them
    std::array<std::optional<params::Image>, BlockService::Lines> edited_;
};
