// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/kpconfigdialog.h"

#include "support/named.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

KpConfigDialog::KpConfigDialog(const kpconfig::File& file,
                               const QList<kpconfig::Difference>& differences,
                               const QList<blocks::Ref>& onBus, bool restore, QWidget* parent)
    : QDialog(parent), file_(file), onBus_(onBus)
{
    setObjectName(QStringLiteral("KpConfigDialog"));
    setWindowTitle(restore ? QStringLiteral("Восстановить из файла")
                           : QStringLiteral("Сравнить с файлом"));
    auto* caption = named(new QLabel(QStringLiteral("Отличия"), this), "DifferencesLabel");
    Differences = named(new QTableWidget(0, 5, this), "Differences", QStringLiteral("Отличия"));
    caption->setBuddy(Differences);
    Differences->setHorizontalHeaderLabels({QStringLiteral("Отличие"), QStringLiteral("Блок"),
                                            QStringLiteral("Параметр"), QStringLiteral("В файле"),
                                            QStringLiteral("В блоке")});
    Differences->verticalHeader()->hide();
    Differences->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Differences->horizontalHeader()->setStretchLastSection(true);
    FillDifferences(file, differences);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption);
    layout->addWidget(Differences, 1);
    if (restore)
        layout->addWidget(BuildRestore());
    CloseButton = named(new QPushButton(QStringLiteral("Закрыть"), this), "CloseButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    if (RestoreButton)
        buttons->addWidget(RestoreButton);
    buttons->addWidget(CloseButton);
    layout->addLayout(buttons);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
    resize(760, 560);
}

void KpConfigDialog::FillDifferences(const kpconfig::File& file,
                                     const QList<kpconfig::Difference>& diffs)
{
    // Every difference marked, and each block of the file that holds what the file says.
    QList<QStringList> rows;
    for (const kpconfig::Difference& d : diffs)
        rows.append({QStringLiteral("≠"), blocks::RefText(d.block), d.name, d.inFile, d.inBlock});
    for (const kpconfig::Block& b : file.blocks)
        if (std::none_of(diffs.begin(), diffs.end(),
                         [&](const kpconfig::Difference& d) { return d.block == b.ref; }))
            rows.append({QStringLiteral("="), blocks::RefText(b.ref), QStringLiteral("без отличий"),
                         QString(), QString()});
    Differences->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 5; ++c)
            Differences->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    Differences->resizeColumnsToContents();
}

QWidget* KpConfigDialog::BuildRestore()
{
    auto* box = new QWidget(this);
    auto* form = new QFormLayout(box);
    RestoreBlocks =
        named(new QListWidget(box), "RestoreBlocks", QStringLiteral("Блоки для восстановления"));
    for (const kpconfig::Block& b : file_.blocks) {
        auto* item = new QListWidgetItem(blocks::RefText(b.ref) + QLatin1Char(' ') + b.version,
                                         RestoreBlocks);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(onBus_.contains(b.ref) ? Qt::Checked : Qt::Unchecked);
        targets_ << b.ref;
    }
    RestoreTarget = named(new QComboBox(box), "RestoreTarget");
    RestoreParameters = named(new QCheckBox(QStringLiteral("Параметры"), box), "RestoreParameters");
    RestoreParameters->setChecked(true);
    RestoreCalibration =
        named(new QCheckBox(QStringLiteral("Калибровка (заводская будет заменена)"), box),
              "RestoreCalibration");
    RestoreInterlock =
        named(new QCheckBox(QStringLiteral("Логика блокировок"), box), "RestoreInterlock");
    form->addRow(QStringLiteral("Блоки для восстановления"), RestoreBlocks);
    form->addRow(QStringLiteral("Записать в блок"), RestoreTarget);
    form->addRow(RestoreParameters);
    form->addRow(RestoreCalibration);
    form->addRow(RestoreInterlock);
    RestoreButton = named(new QPushButton(QStringLiteral("Восстановить"), this), "RestoreButton");
    connect(RestoreButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(RestoreBlocks, &QListWidget::currentRowChanged, this, &KpConfigDialog::ShowTarget);
    connect(RestoreTarget, &QComboBox::activated, this, [this](int i) {
        const int row = RestoreBlocks->currentRow();
        const auto target = blocks::ParseRef(RestoreTarget->itemText(i));
        if (row >= 0 && target)
            targets_[row] = *target;
    });
    RestoreBlocks->setCurrentRow(0);
    return box;
}

void KpConfigDialog::ShowTarget(int row)
{
    RestoreTarget->clear();
    if (row < 0 || row >= file_.blocks.size())
        return;
    // Blocks of the same type on the bus; a block of another type is never offered.
    for (const blocks::Ref& b : onBus_)
        if (b.slot == file_.blocks[row].ref.slot)
            RestoreTarget->addItem(blocks::RefText(b));
    RestoreTarget->setCurrentIndex(RestoreTarget->findText(blocks::RefText(targets_[row])));
}

kpconfig::RestoreOptions KpConfigDialog::Options() const
{
    kpconfig::RestoreOptions o;
    if (!RestoreBlocks)
        return o;
    for (int row = 0; row < RestoreBlocks->count(); ++row) {
        const blocks::Ref from = file_.blocks[row].ref;
        if (RestoreBlocks->item(row)->checkState() == Qt::Checked)
            o.blocks << from;
        if (!(targets_[row] == from))
            o.map.append({from, targets_[row]});
    }
    o.parameters = RestoreParameters->isChecked();
    o.calibration = RestoreCalibration->isChecked();
    o.interlock = RestoreInterlock->isChecked();
    return o;
}
