// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The calibration panel Panel5: the four fields of a measurement block's converter calibration
// with "Записать" and "Выход", lying over the parameter grid while it is open. It is a child of
// the grid's group, so that its fields and buttons are reachable like the group's other
// controls. It remembers the block it was read from and writes into that block only; it closes
// when another block is selected and when a discovery starts.

#include "blocks/blocktypes.h"

#include <QFrame>
#include <optional>

class AdcCalibration;
class BlockService;
class ParameterEditor;
class QLineEdit;
class QToolButton;

class CalibrationPanel : public QFrame
{
    Q_OBJECT
public:
    // The panel lies in `group` over `grid` (ConfigBl) when it opens.
    CalibrationPanel(AdcCalibration& core, const ParameterEditor& editor, BlockService& blocks,
                     QWidget* group, QWidget* grid);

    QLineEdit* LabeledEdit2;   // Значение "Нуля"
    QLineEdit* LabeledEdit3;   // "Значение Максимума"
    QLineEdit* LabeledEdit4;   // "Значение Минимума"
    QLineEdit* LabeledEdit5;   // Зона "Нуля"
    QToolButton* SpeedButton1; // "Записать"
    QToolButton* SpeedButton3; // "Выход"

    // The block whose record the fields show; nothing while the panel is closed.
    std::optional<blocks::Ref> Source() const { return source_; }

    // Double click on Panel6 "Калибровка АЦП", and "Выход": closes an open panel, otherwise
    // reads the shown measurement block's record into the fields and opens the panel. A record
    // not read whole leaves the panel closed (the engineer is told).
    void Panel6DblClick();
    // "Записать": the fields into the block they were read from.
    void SpeedButton1Click();

private:
    void Open(blocks::Ref block, const QByteArray& record);
    void Close();

    AdcCalibration& core_;
    const ParameterEditor& editor_;
    QWidget* grid_;
    std::optional<blocks::Ref> source_;
};
