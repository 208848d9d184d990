#pragma once
// "Проверка модулей": the module test bench window.

#include <QWidget>

class TTestconf : public QWidget
{
    Q_OBJECT
public:
    explicit TTestconf(QWidget* parent = nullptr);
};
