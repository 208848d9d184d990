// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Ввод нового значения ТИИ": the counter preset dialog, reused for every preset. It is filled
// from a double click on the integral table and shown without being modal.

#include <QDialog>

class FieldRequests;

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

    // The core that sends the preset. Set by the main window; without it nothing is sent.
    FieldRequests* requests = nullptr;

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
};
