// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The calibration panel Panel5: the four fields of a measurement block's converter calibration
// with "Записать" and "Выход", lying over the parameter grid while it is open. It shows the
// calibration core's state and forwards the engineer's actions.

#include <QFrame>

class AdcCalibration;
class QLineEdit;
class QToolButton;

class CalibrationPanel : public QFrame
{
    Q_OBJECT
public:
    // The panel lies over `grid` (ConfigBl) when it opens.
    CalibrationPanel(AdcCalibration& core, QWidget* grid);

    QLineEdit* LabeledEdit2;   // Значение "Нуля"
    QLineEdit* LabeledEdit3;   // "Значение Максимума"
    QLineEdit* LabeledEdit4;   // "Значение Минимума"
    QLineEdit* LabeledEdit5;   // Зона "Нуля"
    QToolButton* SpeedButton1; // "Записать"
    QToolButton* SpeedButton3; // "Выход"

private:
    void ShowState();

    AdcCalibration& core_;
};
