#include "blocks/ttxtblk.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

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
}
