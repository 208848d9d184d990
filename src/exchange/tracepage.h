#pragma once
// The "Трассировка обмена" tab: the trace grid TrassG, the auxiliary list ListBox2 and the popup
// menu Trassmenu.

#include <QWidget>

class QAction;
class QListWidget;
class QMenu;
class QTableView;
class TraceLog;

class TracePage : public QWidget
{
    Q_OBJECT
public:
    TracePage(TraceLog& trace, QWidget* parent = nullptr);

    QTableView* TrassG;
    QListWidget* ListBox2;
    QMenu* Trassmenu;
    QAction* Listen;
    QAction* TrassWriteFile;
    QAction* TrassClear;

private:
    void TrassClearClick();
    TraceLog& trace_;
};
