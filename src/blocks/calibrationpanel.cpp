// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/calibrationpanel.h"

#include "blocks/blockservice.h"
#include "blocks/calibration.h"
#include "blocks/parametereditor.h"

#include <QAbstractScrollArea>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{
constexpr int Margin = 8; // from the grid's top left corner

// An edit with its label above it, the label as its buddy.
QLineEdit* labeledEdit(QVBoxLayout* layout, const char* name, const QString& caption,
                       QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setAccessibleName(caption);
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name) + QLatin1String("Label"));
    label->setBuddy(edit);
    layout->addWidget(label);
    layout->addWidget(edit);
    return edit;
}

QToolButton* speedButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(caption);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}
} // namespace

CalibrationPanel::CalibrationPanel(AdcCalibration& core, const ParameterEditor& editor,
                                   BlockService& blocks, QWidget* group, QWidget* grid)
    : QFrame(group), core_(core), editor_(editor), grid_(grid)
{
    setObjectName(QStringLiteral("Panel5"));
    setAccessibleName(QStringLiteral("Калибровка АЦП"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
    setAutoFillBackground(true); // the grid does not show through
    auto* layout = new QVBoxLayout(this);
    LabeledEdit2 = labeledEdit(layout, "LabeledEdit2", QStringLiteral("Значение \"Нуля\""), this);
    LabeledEdit3 = labeledEdit(layout, "LabeledEdit3", QStringLiteral("Значение Максимума"), this);
    LabeledEdit4 = labeledEdit(layout, "LabeledEdit4", QStringLiteral("Значение Минимума"), this);
    LabeledEdit5 = labeledEdit(layout, "LabeledEdit5", QStringLiteral("Зона \"Нуля\""), this);
    SpeedButton1 = speedButton("SpeedButton1", QStringLiteral("Записать"), this);
    SpeedButton3 = speedButton("SpeedButton3", QStringLiteral("Выход"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(SpeedButton3);
    layout->addLayout(buttons);
    hide();

    connect(SpeedButton1, &QToolButton::clicked, this, &CalibrationPanel::SpeedButton1Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &CalibrationPanel::Panel6DblClick);
    // The fields belong to the block they were read from, and to no other.
    connect(&editor, &ParameterEditor::shownChanged, this, [this](int) {
        if (source_ && editor_.Shown() != source_)
            Close();
    });
    connect(&blocks, &BlockService::discoveryStarted, this, &CalibrationPanel::Close);
}

void CalibrationPanel::Panel6DblClick()
{
    if (source_) {
        Close();
        return;
    }
    const auto block = editor_.Shown();
    if (!block || block->function() != blocks::FunctionTit)
        return;
    const auto record = core_.Read(*block);
    // Another block may have been selected while the record was read.
    if (record && editor_.Shown() == block)
        Open(*block, *record);
}

void CalibrationPanel::Open(blocks::Ref block, const QByteArray& record)
{
    const calib::Texts texts = calib::Decode(record);
    LabeledEdit2->setText(texts.zero);
    LabeledEdit3->setText(texts.maximum);
    LabeledEdit4->setText(texts.minimum);
    LabeledEdit5->setText(texts.zone);
    source_ = block;
    // Over the grid's cells, inside the group.
    const auto* area = qobject_cast<QAbstractScrollArea*>(grid_);
    const QWidget* cells = area ? area->viewport() : grid_;
    move(cells->mapTo(parentWidget(), QPoint(Margin, Margin)));
    adjustSize();
    show();
    raise();
    LabeledEdit2->setFocus();
}

void CalibrationPanel::Close()
{
    source_.reset();
    hide();
}

void CalibrationPanel::SpeedButton1Click()
{
    if (!source_)
        return;
    core_.Write(*source_, {LabeledEdit2->text(), LabeledEdit3->text(), LabeledEdit4->text(),
                           LabeledEdit5->text()});
}
