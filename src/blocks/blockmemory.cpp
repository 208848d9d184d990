// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/blockmemory.h"

#include "blocks/blockrequests.h"
#include "blocks/blocktexts.h"
#include "support/operatorio.h"

namespace blockmem
{

Reply ReadArea(LinkCore& link, OperatorIo& op, uint8_t f, uint8_t a, uint16_t pointer, int reads,
               const QString& caption, QByteArray& bytes)
{
    bytes.clear();
    for (int attempt = 0; bytes.size() < reads * blockreq::ChunkSize;) {
        const Reply r = link.SendAndWait(blockreq::MemoryRead(f, a));
        if (r == Reply::Stopped)
            return r;
        if (r == Reply::Answered) {
            bytes += link.ReplyData->left(blockreq::ChunkSize);
            attempt = 0;
            continue;
        }
        // Asked again from the start of the area, until the block takes the pointer.
        for (;;) {
            if (!op.Retry(caption, blocktext::NoAnswer, attempt++))
                return Reply::NoAnswer;
            const Reply set = link.SendAndWait(blockreq::PointerSet(f, a, pointer));
            if (set == Reply::Stopped)
                return set;
            if (set == Reply::Answered)
                break;
        }
        bytes.clear();
    }
    return Reply::Answered;
}

} // namespace blockmem
