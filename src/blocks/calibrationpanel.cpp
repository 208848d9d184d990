// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/calibrationpanel.h"

#include "blocks/calibration.h"

#include <QAbstractScrollArea>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{
constexpr int Margin = 8; // from the grid's top left corner

// An edit with its label above it, the label as its buddy; edits go into `field`.
QLineEdit* labeledEdit(QVBoxLayout* layout, const char* name, const QString& caption,
                       QString calib::Texts::*field, AdcCalibration& core, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name) + QLatin1String("Label"));
    label->setBuddy(edit);
    layout->addWidget(label);
    layout->addWidget(edit);
    QObject::connect(edit, &QLineEdit::textEdited, &core,
                     [&core, field](const QString& text) { core.Fields.*field = text; });
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

CalibrationPanel::CalibrationPanel(AdcCalibration& core, QWidget* grid) : QFrame(grid), core_(core)
{
    setObjectName(QStringLiteral("Panel5"));
    setAccessibleName(QStringLiteral("Калибровка АЦП"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
    setAutoFillBackground(true); // the grid does not show through
    auto* layout = new QVBoxLayout(this);
    using T = calib::Texts;
    LabeledEdit2 = labeledEdit(layout, "LabeledEdit2", QStringLiteral("Значение \"Нуля\""),
                               &T::zero, core, this);
    LabeledEdit3 = labeledEdit(layout, "LabeledEdit3", QStringLiteral("Значение Максимума"),
                               &T::maximum, core, this);
    LabeledEdit4 = labeledEdit(layout, "LabeledEdit4", QStringLiteral("Значение Минимума"),
                               &T::minimum, core, this);
    LabeledEdit5 =
        labeledEdit(layout, "LabeledEdit5", QStringLiteral("Зона \"Нуля\""), &T::zone, core, this);
    SpeedButton1 = speedButton("SpeedButton1", QStringLiteral("Записать"), this);
    SpeedButton3 = speedButton("SpeedButton3", QStringLiteral("Выход"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(SpeedButton3);
    layout->addLayout(buttons);
    hide();

    connect(SpeedButton1, &QToolButton::clicked, &core, &AdcCalibration::SpeedButton1Click);
    connect(SpeedButton3, &QToolButton::clicked, &core, &AdcCalibration::Panel6DblClick);
    connect(&core, &AdcCalibration::panelChanged, this, &CalibrationPanel::ShowState);
    ShowState();
}

void CalibrationPanel::ShowState()
{
    const calib::Texts& f = core_.Fields;
    const std::pair<QLineEdit*, const QString*> fields[] = {{LabeledEdit2, &f.zero},
                                                            {LabeledEdit3, &f.maximum},
                                                            {LabeledEdit4, &f.minimum},
                                                            {LabeledEdit5, &f.zone}};
    for (const auto& [edit, text] : fields)
        if (edit->text() != *text)
            edit->setText(*text);
    if (core_.Panel5Visible == !isHidden())
        return;
    if (!core_.Panel5Visible) {
        hide();
        return;
    }
    const auto* area = qobject_cast<QAbstractScrollArea*>(parentWidget());
    const QPoint corner = area ? area->viewport()->geometry().topLeft() : QPoint();
    move(corner + QPoint(Margin, Margin));
    adjustSize();
    show();
    raise();
    LabeledEdit2->setFocus();
}
