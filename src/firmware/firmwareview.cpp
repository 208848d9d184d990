// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmware/firmwareview.h"

#include "blocks/blockservice.h"
#include "blocks/blockspage.h"
#include "firmware/image.h"
#include "firmware/programming.h"

#include <QFileDialog>
#include <QPushButton>

namespace firmware
{

FirmwareView::FirmwareView(FirmwareImage& image, FirmwareProgramming& programming,
                           const BlockService& blocks, BlocksPage& page)
    : QObject(&page), image_(image), programming_(programming), blocks_(blocks),
      BitBtn4(page.BitBtn4), BitBtn3(page.BitBtn3), BitBtn55(page.BitBtn55)
{
    OpenDialog1 = [&page] {
        QFileDialog dialog(&page);
        dialog.setObjectName(QStringLiteral("OpenDialog1"));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(QStringLiteral("*.rom (*.rom)"));
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
    BitBtn4->show();
    BitBtn3->show();
    connect(BitBtn4, &QPushButton::clicked, this, &FirmwareView::BitBtn4Click);
    connect(BitBtn3, &QPushButton::clicked, this, &FirmwareView::BitBtn3Click);
    connect(BitBtn55, &QPushButton::clicked, this, &FirmwareView::BitBtn55Click);
}

void FirmwareView::BitBtn4Click()
{
    const QString path = OpenDialog1();
    if (!path.isEmpty() && image_.Load(path))
        ShowImage();
}

void FirmwareView::BitBtn3Click()
{
    programming_.Program(FirmwareProgramming::Firmware, programming_.Ticked());
}

void FirmwareView::BitBtn55Click()
{
    programming_.Program(FirmwareProgramming::Loader, programming_.Ticked());
}

void FirmwareView::ShowImage()
{
    BitBtn4->setText(QStringLiteral("Загружен образ ") + blocks_.ImageVersion.get());
    BitBtn3->setEnabled(true);
    BitBtn55->setEnabled(true);
}

} // namespace firmware
