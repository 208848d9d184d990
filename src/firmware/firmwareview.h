// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The firmware commands of the "Конфигурация и прошивка ФБ" tab: "Загрузить образ" (BitBtn4,
// with OpenDialog1), "Перепрограммировать" (BitBtn3) and the engineering "Перезапись
// загрузчика" (BitBtn55). It shows the loaded image's version on BitBtn4 and enables the
// programming buttons from the first good load on; the runs are the core's.

#include <QObject>
#include <QString>
#include <functional>

class BlockService;
class BlocksPage;
class QPushButton;

namespace firmware
{
class FirmwareImage;
class FirmwareProgramming;

class FirmwareView : public QObject
{
    Q_OBJECT
public:
    // Takes the page's buttons: BitBtn4 and BitBtn3 are shown; BitBtn55 stays as the main
    // window's engineering switch leaves it.
    FirmwareView(FirmwareImage& image, FirmwareProgramming& programming, const BlockService& blocks,
                 BlocksPage& page);

    // OpenDialog1 ("*.rom"): the file chosen, or nothing when cancelled. Tests replace it.
    std::function<QString()> OpenDialog1;

    void BitBtn4Click();
    void BitBtn3Click();
    void BitBtn55Click();

private:
    void ShowImage();

    FirmwareImage& image_;
    FirmwareProgramming& programming_;
    const BlockService& blocks_;
    QPushButton* BitBtn4;
    QPushButton* BitBtn3;
    QPushButton* BitBtn55;
};

} // namespace firmware
