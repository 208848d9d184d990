// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Трассировка обмена" tab: the trace grid TrassG, the auxiliary list ListBox2 and the popup
// menu Trassmenu, whose "Запись в файл" records the exchange to a capture file.

#include <QWidget>

class QAction;
class QListWidget;
class QMenu;
class QTableView;
class CaptureRecorder;
class TraceLog;

class TracePage : public QWidget
{
    Q_OBJECT
public:
    TracePage(TraceLog& trace, CaptureRecorder& capture, QWidget* parent = nullptr);

    QTableView* TrassG;
    QListWidget* ListBox2;
    QMenu* Trassmenu;
    QAction* Listen;
    QAction* TrassWriteFile;
    QAction* TrassClear;

private:
    void TrassClearClick();
    void TrassWriteFileClick(bool checked);
    TraceLog& trace_;
    CaptureRecorder& capture_;
    QString folder_; // where the last recording went
};
