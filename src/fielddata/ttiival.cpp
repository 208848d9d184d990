// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/ttiival.h"

#include "fielddata/fieldrequests.h"
#include "fielddata/livetables.h"
#include "support/convert.h"
#include "support/messagebox.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace
{
QLineEdit* labelledEdit(QDialog* dialog, QGridLayout* grid, int column, const char* name,
                        const QString& caption)
{
    auto* edit = new QLineEdit(dialog);
    edit->setObjectName(QLatin1String(name));
    auto* label = new QLabel(caption, dialog);
    label->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
    label->setBuddy(edit);
    edit->setProperty("label", QVariant::fromValue(static_cast<QObject*>(label)));
    grid->addWidget(label, 0, column);
    grid->addWidget(edit, 1, column);
    return edit;
}
} // namespace

TTiiVal::TTiiVal(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("TTiiVal"));
    setWindowTitle(QStringLiteral("Ввод нового значения ТИИ"));
    setFixedSize(230, 133);

    auto* grid = new QGridLayout(this);
    Adr = labelledEdit(this, grid, 0, "Adr", QStringLiteral("Адрес"));
    Num = labelledEdit(this, grid, 1, "Num", QStringLiteral("Номер"));
    Val = labelledEdit(this, grid, 2, "Val", QStringLiteral("Значение"));
    grid->setColumnStretch(2, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);

    Write = new QPushButton(QStringLiteral("Записать"), this);
    Write->setObjectName(QStringLiteral("Write"));
    Canc = new QPushButton(QStringLiteral("Отмена"), this);
    Canc->setObjectName(QStringLiteral("Canc"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Write);
    buttons->addWidget(Canc);
    grid->addLayout(buttons, 3, 0, 1, 3);

    connect(Write, &QPushButton::clicked, this, &TTiiVal::WriteClick);
    connect(Canc, &QPushButton::clicked, this, &TTiiVal::CancClick);
}

void TTiiVal::Fill(int adr, int num, const QString& val)
{
    Adr->setText(QString::number(adr));
    Num->setText(QString::number(num));
    Val->setText(val);
}

void TTiiVal::OpenForCell(int row, int col, const QString& cellText)
{
    const LiveTables::PresetFields f = LiveTables::PresetFieldsAt(row, col);
    Fill(f.adr, f.num, cellText);
    show();
    raise();
    activateWindow();
}

void TTiiVal::WriteClick()
{
    QString error;
    const std::optional<int> adr = StrToInt(Adr->text(), QStringLiteral("Адрес"), &error);
    const std::optional<int> num =
        adr ? StrToInt(Num->text(), QStringLiteral("Номер"), &error) : std::nullopt;
    const std::optional<int> val =
        num ? StrToInt(Val->text(), QStringLiteral("Значение"), &error) : std::nullopt;
    if (!val) {
        messagebox::Error(this, error, InputErrorCaption);
        return;
    }
    const Reply reply = requests ? requests->PresetCounter(*adr, *num, *val) : Reply::NoAnswer;
    if (reply == Reply::Stopped)
        return; // refused, or the channel has said why, or the program is closing
    if (reply == Reply::NoAnswer)
        messagebox::Show(this, QMessageBox::Warning, QStringLiteral("Запись параметра"),
                         QStringLiteral("Нет ответа от блока! Повторите!"), QMessageBox::Ok);
    hide();
}

void TTiiVal::CancClick()
{
    hide();
}
