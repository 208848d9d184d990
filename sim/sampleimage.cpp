// SPDX-License-Identifier: GPL-3.0-or-later
#include "sampleimage.h"

#include <QFile>

namespace kpsim::image
{

namespace
{

void Fill(QByteArray& image, int from, int size)
{
    for (int p = from; p < from + size; ++p)
        image[p] = char((p ^ (p >> 8)) & 0xFF);
}

void Put(QByteArray& image, int at, const QByteArray& text)
{
    image.replace(at, text.size(), text);
}

} // namespace

QByteArray SampleImage(const QByteArray& versionText)
{
    QByteArray image(Size, char(0xFF));
    Fill(image, Firmware, FirmwareSize);
    Put(image, Firmware, "KP-SIM SAMPLE FIRMWARE, NOT FOR REAL BLOCKS");
    QByteArray version = versionText.left(48);
    version.append(VersionAreaSize - version.size(), '\0');
    Put(image, Version, version);
    Fill(image, Loader, LoaderSize);
    Put(image, Loader, "KP-SIM SAMPLE LOADER");
    return image;
}

bool WriteSampleImage(const QString& path, const QByteArray& versionText, QString* error)
{
    QFile file(path);
    const QByteArray image = SampleImage(versionText);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(image) != image.size() || !file.flush()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace kpsim::image
