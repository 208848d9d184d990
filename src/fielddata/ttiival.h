// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Ввод нового значения ТИИ": the counter preset dialog, reused for every preset. It is filled
// from a double click on the integral table and shown without being modal.

#include "exchange/linkcore.h"

#include <QDialog>
#include <functional>

class QLineEdit;
class QPushButton;

class TTiiVal : public QDialog
{
    Q_OBJECT
public:
    explicit TTiiVal(QWidget* parent = nullptr);

    QLineEdit* Adr; // "Адрес": block address
    QLineEdit* Num; // "Номер": counter number, from 0
    QLineEdit* Val; // "Значение": the new value
    QPushButton* Write;
    QPushButton* Canc;

    // Sends a request and waits for the block's reply. Set by the main window.
    std::function<Reply(const TPacket&)> sendAndWait;
    // The guard that lets one operation at a time talk to the blocks; the main window points it
    // at the request channel's.
    OperationGuard* operations = &ownOperations_;

    // Overwrites the three fields.
    void Fill(int adr, int num, const QString& val);
    // The fields for a double click on grid cell (row, col) of the integral table with the
    // cell's text; then the dialog is shown, not modal.
    void OpenForCell(int row, int col, const QString& cellText);

    // "Записать": reads the fields as integers, sends the counter preset and closes. A field
    // that is not an integer, or a write the request channel refused, stops with the one
    // error message and the dialog stays open with its values.
    void WriteClick();
    // "Отмена": closes without sending.
    void CancClick();

private:
    OperationGuard ownOperations_;
};
