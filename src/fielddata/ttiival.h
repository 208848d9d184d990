#pragma once
// "Ввод нового значения ТИИ": the counter preset dialog, reused for every preset.

#include <QDialog>

class TTiiVal : public QDialog
{
    Q_OBJECT
public:
    explicit TTiiVal(QWidget* parent = nullptr);
};
