#pragma once
// "Ввод нового значения ТИИ": the counter preset dialog, reused for every preset. It is filled
// from a double click on the integral table and shown without being modal.

#include "exchange/packet.h"

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

    // Sends a request and waits for the block's reply; true if it came. Set by the main window.
    std::function<bool(const TPacket&)> sendAndWait;

    // Overwrites the three fields.
    void Fill(int adr, int num, const QString& val);
    // The fields for a double click on grid cell (row, col) of the integral table with the
    // cell's text; then the dialog is shown, not modal.
    void OpenForCell(int row, int col, const QString& cellText);

    // "Записать": reads the fields as integers, sends the counter preset and closes; a field
    // that is not an integer stops with the conversion error and the dialog stays open.
    void WriteClick();
    // "Отмена": closes without sending.
    void CancClick();

private:
    bool writing_ = false;
};
