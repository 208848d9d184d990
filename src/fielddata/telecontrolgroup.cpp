// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/telecontrolgroup.h"

#include "fielddata/telecontrol.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TelecontrolGroup::TelecontrolGroup(Telecontrol& telecontrol, QWidget* parent)
    : QGroupBox(QStringLiteral(" Телеуправление "), parent), tc_(telecontrol)
{
    setObjectName(QStringLiteral("gbTU"));
    setFixedWidth(289);

    RxCheckListBox1 = new QListWidget(this);
    RxCheckListBox1->setObjectName(QStringLiteral("RxCheckListBox1"));
    RxCheckListBox1->setAccessibleName(QStringLiteral("Блоки ТУ"));
    RxCheckListBox1->setFixedWidth(151);
    QFont font = RxCheckListBox1->font();
    font.setPixelSize(13);
    RxCheckListBox1->setFont(font);
    for (int b = 0; b < Telecontrol::Blocks; ++b) {
        auto* item = new QListWidgetItem(tc_.BlockItems[b], RxCheckListBox1);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setSizeHint(QSize(0, 16));
    }

    BuildPanel();

    TuEvent = new QListWidget(this);
    TuEvent->setObjectName(QStringLiteral("TuEvent"));
    TuEvent->setAccessibleName(QStringLiteral("Ход команды ТУ"));

    auto* top = new QHBoxLayout;
    top->addWidget(RxCheckListBox1);
    top->addWidget(Panel1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(top, 1);
    layout->addWidget(TuEvent);
    ConnectSignals();
}

void TelecontrolGroup::BuildPanel()
{
    // The block and relay chosen, and the two commands.
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* form = new QFormLayout(Panel1);
    form->setContentsMargins(2, 0, 0, 0);
    RxSpinEdit1 = new QSpinBox(Panel1);
    RxSpinEdit1->setObjectName(QStringLiteral("RxSpinEdit1"));
    RxSpinEdit1->setRange(0, 7);
    RxSpinEdit1->setValue(tc_.Address);
    RxSpinEdit2 = new QSpinBox(Panel1);
    RxSpinEdit2->setObjectName(QStringLiteral("RxSpinEdit2"));
    RxSpinEdit2->setRange(1, 256);
    RxSpinEdit2->setValue(tc_.Relay);
    auto* addressLabel = new QLabel(QStringLiteral("Адрес блока"), Panel1);
    addressLabel->setBuddy(RxSpinEdit1);
    auto* relayLabel = new QLabel(QStringLiteral("Номер реле"), Panel1);
    relayLabel->setBuddy(RxSpinEdit2);
    form->addRow(addressLabel, RxSpinEdit1);
    form->addRow(relayLabel, RxSpinEdit2);
    RxSpeedButton1 = new QPushButton(QStringLiteral("Включить"), Panel1);
    RxSpeedButton1->setObjectName(QStringLiteral("RxSpeedButton1"));
    RxSpeedButton1->setEnabled(false);
    RxSpeedButton2 = new QPushButton(QStringLiteral("Включить все"), Panel1);
    RxSpeedButton2->setObjectName(QStringLiteral("RxSpeedButton2"));
    RxSpeedButton2->setEnabled(false);
    form->addRow(RxSpeedButton1);
    form->addRow(RxSpeedButton2);
}

void TelecontrolGroup::ConnectSignals()
{
    connect(RxSpinEdit1, &QSpinBox::valueChanged, this, [this](int v) { tc_.Address = v; });
    connect(RxSpinEdit2, &QSpinBox::valueChanged, this, [this](int v) { tc_.Relay = v; });
    connect(RxSpeedButton1, &QPushButton::clicked, this, &TelecontrolGroup::RxSpeedButton1Click);
    connect(RxSpeedButton2, &QPushButton::clicked, this, &TelecontrolGroup::RxSpeedButton2Click);
    connect(&tc_, &Telecontrol::relayChanged, RxSpinEdit2, &QSpinBox::setValue);
    connect(&tc_, &Telecontrol::tuEventCleared, TuEvent, &QListWidget::clear);
    connect(&tc_, &Telecontrol::tuEventAdded, TuEvent,
            [this](const QString& line) { TuEvent->addItem(line); });
    connect(&tc_, &Telecontrol::blockItemChanged, RxCheckListBox1, [this](int b) {
        QListWidgetItem* item = RxCheckListBox1->item(b);
        item->setText(tc_.BlockItems[b]);
        item->setCheckState(tc_.BlockChecked[b] ? Qt::Checked : Qt::Unchecked);
    });
}

void TelecontrolGroup::LinkStarted()
{
    RxSpeedButton1->setEnabled(true);
    RxSpeedButton2->setEnabled(true);
}

void TelecontrolGroup::mouseDoubleClickEvent(QMouseEvent* event)
{
    QGroupBox::mouseDoubleClickEvent(event);
    emit testWindowRequested();
}

void TelecontrolGroup::RxSpeedButton1Click()
{
    tc_.Operate();
}

void TelecontrolGroup::RxSpeedButton2Click()
{
    tc_.OperateAll();
}
