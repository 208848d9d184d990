// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/ttxtblk.h"

#include "blocks/blockspage.h"
#include "blocks/interlock.h"
#include "blocks/parametereditor.h"

#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
QString RunDialog(QWidget* parent, const char* name, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent);
    dialog.setObjectName(QLatin1String(name));
    dialog.setAcceptMode(mode);
    dialog.setDefaultSuffix(QStringLiteral("blk"));
    if (mode == QFileDialog::AcceptSave) {
        dialog.selectFile(QStringLiteral("default.blk"));
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(QStringLiteral("*.blk (*.blk)"));
    }
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().constFirst()
               : QString();
}
} // namespace

TTxtBLK::TTxtBLK(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("TTxtBLK"));
    setWindowTitle(QStringLiteral("Текст логики блокировок"));
    resize(491, 462);
    TBLK = new QPlainTextEdit(this);
    TBLK->setObjectName(QStringLiteral("TBLK"));
    TBLK->setAccessibleName(windowTitle());
    TBLK->setLineWrapMode(QPlainTextEdit::NoWrap);
    TBLK->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TBLK->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(TBLK);
    SaveDialog1 = [](QWidget* p) { return RunDialog(p, "SaveDialog1", QFileDialog::AcceptSave); };
    OpenDialog3 = [](QWidget* p) { return RunDialog(p, "OpenDialog3", QFileDialog::AcceptOpen); };
}

void TTxtBLK::Attach(InterlockTransfer& transfer, const ParameterEditor& editor, BlocksPage& page)
{
    transfer_ = &transfer;
    editor_ = &editor;
    page_ = &page;
    connect(&transfer, &InterlockTransfer::memoCleared, TBLK, &QPlainTextEdit::clear);
    connect(&transfer, &InterlockTransfer::lineAdded, this, &TTxtBLK::AddLine);
    connect(&transfer, &InterlockTransfer::windowRequested, this, &TTxtBLK::ShowWindow);
    connect(page.ReadBLK, &QPushButton::clicked, this, &TTxtBLK::ReadBLKClick);
    connect(page.WriteBLK, &QPushButton::clicked, this, &TTxtBLK::WriteBLKClick);
    connect(page.SaveToFile, &QPushButton::clicked, this, &TTxtBLK::SaveToFileClick);
    connect(page.LoadFromFileBLK, &QPushButton::clicked, this, &TTxtBLK::LoadFromFileBLKClick);
}

QStringList TTxtBLK::Lines() const
{
    return blk::MemoLines(TBLK->toPlainText());
}

void TTxtBLK::ReadBLKClick()
{
    if (const auto block = editor_->Shown())
        transfer_->Read(*block);
}

void TTxtBLK::WriteBLKClick()
{
    if (const auto block = editor_->Shown())
        transfer_->Write(*block, Lines());
}

void TTxtBLK::SaveToFileClick()
{
    const QString path = SaveDialog1(page_);
    if (!path.isEmpty())
        transfer_->SaveToFile(path, Lines());
}

void TTxtBLK::LoadFromFileBLKClick()
{
    TBLK->clear();
    ShowWindow();
    const QString path = OpenDialog3(page_);
    if (!path.isEmpty())
        transfer_->LoadFromFile(path);
}

void TTxtBLK::ShowWindow()
{
    show();
    raise();
}

void TTxtBLK::AddLine(const QString& line)
{
    // Every line keeps its end, as the memo holds lines, so that an empty last line stays one.
    TBLK->moveCursor(QTextCursor::End);
    TBLK->insertPlainText(blk::MemoText({line}));
}
