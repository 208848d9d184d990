// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The differences between a configuration file and the controlled point, in a table: block,
// parameter, in the file, in the block, each difference marked "≠" (not by colour alone). To
// restore, the engineer also ticks the file's blocks, chooses where each goes (a block of the
// same type) and what is written: parameters, calibration, interlock logic.

#include "blocks/kpconfigservice.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QTableWidget;

class KpConfigDialog : public QDialog
{
    Q_OBJECT
public:
    // `onBus`: the blocks the latest discovery found, where a file block may go. Without a
    // restore the dialog only shows the differences.
    KpConfigDialog(const kpconfig::File& file, const QList<kpconfig::Difference>& differences,
                   const QList<blocks::Ref>& onBus, bool restore, QWidget* parent = nullptr);

    QTableWidget* Differences;
    QListWidget* RestoreBlocks = nullptr; // the file's blocks, ticked to be written
    QComboBox* RestoreTarget = nullptr;   // where the current one goes
    QCheckBox* RestoreParameters = nullptr;
    QCheckBox* RestoreCalibration = nullptr;
    QCheckBox* RestoreInterlock = nullptr;
    QPushButton* RestoreButton = nullptr;
    QPushButton* CloseButton;

    // What the engineer chose.
    kpconfig::RestoreOptions Options() const;

private:
    void FillDifferences(const kpconfig::File& file, const QList<kpconfig::Difference>& diffs);
    QWidget* BuildRestore();
    void ShowTarget(int row);

    kpconfig::File file_;
    QList<blocks::Ref> onBus_;
    QList<blocks::Ref> targets_; // per file block
};
