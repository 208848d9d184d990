#include "fielddata/ttiival.h"

TTiiVal::TTiiVal(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TTiiVal"));
    setWindowTitle(QStringLiteral("Ввод нового значения ТИИ"));
    setFixedSize(230, 133);
}
