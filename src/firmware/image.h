// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A firmware image file ("*.rom"): a flat byte image from which fixed offset ranges are written
// into the blocks: the application firmware at 0x2000-0x7DBF, with its version text at
// 0x2080-0x20B0, and the block's loader at 0xEA00-0xEBFF. There is no header, record structure
// or checksum; only the length is checked, so that nothing is ever taken from beyond the file.
//
// Loading reads the whole file and keeps it only when it holds both ranges: a file that gives
// nothing, is read only in part or is too short is refused, and the image loaded before stays
// as it was, version included.

#include "blocks/blockrequests.h"
#include "support/owned.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <span>

class BlockService;

namespace firmware
{

// An offset range of the image and where the block takes it.
struct Area {
    int from;         // first offset in the image
    int size;         // bytes
    uint16_t pointer; // the block's memory pointer before the first byte
    constexpr int end() const { return from + size; }
};
constexpr Area FirmwareArea{0x2000, 24000, blockreq::LogicArea};
constexpr Area LoaderArea{0xEA00, 512, blockreq::LoaderArea};
constexpr int VersionFrom = 0x2080;
constexpr int VersionTo = 0x20B0; // inclusive
// A complete image holds both areas: 60,416 bytes.
constexpr int ImageSizeNeeded = LoaderArea.end();

// The version text of image bytes: a space, then every byte of 0x2080-0x20B0 that is neither
// 0x00 nor 0xFF, as code page 1251. Bytes the image does not have are not read.
QString VersionOf(std::span<const uint8_t> image);

// What a file's bytes make. `complete` is false when the file could not be opened or was read
// only in part.
struct ImageCheck {
    bool accepted = false;
    QString version;       // when accepted
    QString caption, text; // the refusal for the operator
};
ImageCheck CheckImage(const QString& fileName, const QByteArray& bytes, bool complete);

// The loaded image: the whole file as read, and its size.
class FirmwareImage
{
public:
    explicit FirmwareImage(BlockService& blocks) : blocks_(blocks) {}

    Owned<QByteArray, FirmwareImage> ImageData;
    Owned<qint32, FirmwareImage> ImageSize{0};
    // A complete image has been loaded: the programming runs may start.
    bool Loaded() const { return ImageSize >= ImageSizeNeeded; }

    // Reads the file. When it makes an image, keeps it, and discovery from now on ticks the
    // blocks whose version differs from the image's (ImageOpened, ImageVersion of the block
    // service). Otherwise tells the operator why and keeps the image loaded before. True when
    // loaded.
    bool Load(const QString& path);

private:
    BlockService& blocks_;
};

} // namespace firmware
