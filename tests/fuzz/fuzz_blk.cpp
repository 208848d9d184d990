// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary bytes as an interlock logic file (".blk") and as the block memory
// that "Чтение БЛК" reads from 0x8000 on, 8 bytes a reply. Nothing may read outside the input
// (it is not copied, so the sanitizer sees every byte beyond it), the read may not take more
// than its limit, and a file saved from the lines loaded loads as the same lines.

#include "blocks/interlock.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray file =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));

    const QStringList lines = blk::FileLines(file);
    bool replaced = false;
    const QByteArray saved = blk::FileBytes(lines, &replaced);
    if (!replaced && blk::FileLines(saved) != lines)
        __builtin_trap();
    const QByteArray stream = blk::Stream(lines);
    if (!lines.isEmpty() && stream.size() != saved.size() + blk::TrailingZeros)
        __builtin_trap();

    // The same bytes as the block's replies; the last one may be short.
    blk::LogicReader reader;
    size_t at = 0;
    while (!reader.Ended() && at < size) {
        const size_t n = std::min<size_t>(8, size - at);
        reader.Take(std::span(data + at, n));
        at += n;
    }
    if (reader.Count() > blk::ReadLimit || size_t(reader.Count()) > size)
        __builtin_trap();
    for (const QString& line : reader.Lines)
        if (line.isEmpty())
            __builtin_trap(); // empty lines are never shown
    return 0;
}
