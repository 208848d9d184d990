#include "testbench/ttestconf.h"

TTestconf::TTestconf(QWidget* parent) : QWidget(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("TTestconf"));
    setWindowTitle(QStringLiteral("Проверка модулей"));
    resize(760, 720);
}
