// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary firmware image files through the image check and, for an image
// it accepts, through the walk of the firmware and loader areas that the programming runs send.
// Nothing may be read from beyond the file: the file's bytes lie in a buffer of exactly its
// size, and every byte the walk takes is checked against the file.
//
// Input: [size: 17 bits, little-endian, in 3 bytes][content]. The file holds `size` bytes:
// the content, repeated as often as needed (a file of zeros when there is no content). An
// input shorter than 3 bytes is the file itself.

#include "firmware/image.h"
#include "firmware/programming.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
uint64_t sink = 0;

// Walks the area as a run does, checking the offsets of the bytes it sends.
void Walk(const QByteArray& file, const firmware::Area& area)
{
    int erases = 0, writes = 0, next = area.from;
    const bool whole = firmware::StreamArea(
        file, area, [&] { return ++erases > 0; },
        [&](const blockreq::Chunk& chunk) {
            for (uint8_t b : chunk)
                sink += b;
            return ++writes > 0;
        },
        [&](int position) {
            if (position != ++next || position > file.size())
                std::abort();
        });
    if (whole && (writes != area.size / 8 || erases != (area.size + 511) / 512))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes;
    if (size < 3) {
        bytes.assign(data, data + size);
    } else {
        const size_t fileSize = data[0] | data[1] << 8 | (data[2] & 0x01) << 16;
        const size_t content = size - 3;
        bytes.resize(fileSize);
        for (size_t at = 0; at < fileSize && content > 0; at += content)
            std::memcpy(bytes.data() + at, data + 3, std::min(content, fileSize - at));
    }
    // The file's bytes without a copy: a read past them leaves the buffer.
    const QByteArray file = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                    qsizetype(bytes.size()));
    const firmware::ImageCheck check = firmware::CheckImage(QStringLiteral("fuzz.rom"), file, true);
    sink += uint64_t(check.version.size() + check.text.size());
    if (check.accepted != (bytes.size() >= size_t(firmware::ImageSizeNeeded)))
        std::abort();
    // The walk itself refuses a file that does not hold the area.
    Walk(file, firmware::FirmwareArea);
    Walk(file, firmware::LoaderArea);
    return 0;
}
