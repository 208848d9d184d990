// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmware/image.h"

#include "blocks/blockservice.h"
#include "support/cp1251.h"
#include "support/operatorio.h"

#include <QDir>
#include <QFile>
#include <limits>

namespace firmware
{

namespace
{
const QString CaptionRead = QStringLiteral("Чтение файла");
} // namespace

QString VersionOf(std::span<const uint8_t> image)
{
    QByteArray text;
    const size_t to = std::min<size_t>(image.size(), size_t(VersionTo) + 1);
    for (size_t p = VersionFrom; p < to; ++p)
        if (image[p] != 0x00 && image[p] != 0xFF)
            text += char(image[p]);
    return QLatin1Char(' ') + FromCp1251(text);
}

ImageCheck CheckImage(const QString& fileName, const QByteArray& bytes, bool complete)
{
    if (!complete || bytes.isEmpty())
        return {false, {}, CaptionRead, QStringLiteral("Ошибка!")};
    if (bytes.size() < ImageSizeNeeded)
        return {false,
                {},
                CaptionRead,
                QStringLiteral("Файл %1 короче образа прошивки: в нём %2 байт, а нужно не менее "
                               "%3 байт. Образ не загружен.")
                    .arg(QDir::toNativeSeparators(fileName))
                    .arg(bytes.size())
                    .arg(ImageSizeNeeded)};
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    return {true, VersionOf({data, size_t(bytes.size())}), {}, {}};
}

bool FirmwareImage::Load(const QString& path)
{
    QFile file(path);
    QByteArray bytes;
    bool complete = file.open(QIODevice::ReadOnly);
    if (complete) {
        // The whole file, or nothing: a read cut short is not an image.
        const qint64 size = file.size();
        complete = size <= std::numeric_limits<qint32>::max();
        if (complete) {
            bytes = file.read(size);
            complete = bytes.size() == size && file.error() == QFileDevice::NoError;
        }
    }
    const ImageCheck check = CheckImage(path, bytes, complete);
    if (!check.accepted) {
        blocks_.Operator().Tell(check.caption, check.text);
        return false;
    }
    ImageData = bytes;
    ImageSize = qint32(bytes.size());
    blocks_.SetImage(check.version);
    return true;
}

} // namespace firmware
