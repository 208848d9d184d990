#pragma once
// "Текст логики блокировок": the interlock logic text window.

#include <QWidget>

class QPlainTextEdit;

class TTxtBLK : public QWidget
{
    Q_OBJECT
public:
    explicit TTxtBLK(QWidget* parent = nullptr);
    QPlainTextEdit* TBLK;
};
