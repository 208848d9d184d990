// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Текст логики блокировок": the interlock logic text window with its memo TBLK. It shows the
// logic that "Чтение БЛК" and "из Файла" bring, and hands the memo's lines to "Запись БЛК" and
// "в Файл"; the four buttons are on the block tab.

#include <QWidget>
#include <functional>

class BlocksPage;
class InterlockTransfer;
class ParameterEditor;
class QPlainTextEdit;

class TTxtBLK : public QWidget
{
    Q_OBJECT
public:
    explicit TTxtBLK(QWidget* parent = nullptr);
    QPlainTextEdit* TBLK;

    // The file chosen in SaveDialog1 (default extension "blk", proposed "default.blk") and in
    // OpenDialog3 ("*.blk"); empty when cancelled. Tests put their own choice here.
    std::function<QString(QWidget* parent)> SaveDialog1;
    std::function<QString(QWidget* parent)> OpenDialog3;

    // Wires the window to the interlock transfer and the block tab's buttons ReadBLK, WriteBLK,
    // SaveToFile and LoadFromFileBLK; the block read and written is the one the grid shows.
    void Attach(InterlockTransfer& transfer, const ParameterEditor& editor, BlocksPage& page);

    // The memo's lines.
    QStringList Lines() const;

    void ReadBLKClick();
    void WriteBLKClick();
    void SaveToFileClick();
    void LoadFromFileBLKClick();

private:
    void ShowWindow();
    void AddLine(const QString& line);

    InterlockTransfer* transfer_ = nullptr;
    const ParameterEditor* editor_ = nullptr;
    QWidget* page_ = nullptr; // the dialogs open over the block tab
};
