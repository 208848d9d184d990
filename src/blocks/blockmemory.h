// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading an area of a block's memory: after the pointer set, memory reads of 8 bytes, each
// advancing the block's pointer. A read whose reply is lost may still have advanced it, so a
// read asked again would return the bytes after the lost ones: a Retry therefore sets the
// pointer again and reads the area from its start.

#include "exchange/linkcore.h"

#include <QByteArray>
#include <cstdint>

class OperatorIo;

namespace blockmem
{

// After the pointer set that opened the area at `pointer`: `reads` memory reads, their bytes
// in `bytes` (emptied first). A read without an answer asks `op` Retry/Cancel with `caption`
// and "Нет ответа от блока!". Answered when the whole area was read; NoAnswer when cancelled
// (`bytes` holds what came before); Stopped when the channel stopped the operation.
Reply ReadArea(LinkCore& link, OperatorIo& op, uint8_t f, uint8_t a, uint16_t pointer, int reads,
               const QString& caption, QByteArray& bytes);

} // namespace blockmem
