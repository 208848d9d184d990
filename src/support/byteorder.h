// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Little- and big-endian field access on byte strings. Every read is bounds-checked by the
// caller's view; these helpers only assemble and split the bytes.

#include <array>
#include <cstdint>
#include <span>

namespace byteorder
{

inline uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t be16(const uint8_t* p)
{
    return uint16_t((p[0] << 8) | p[1]);
}

inline void putLe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void putBe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void putBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * (3 - i)));
}
// The two bytes of a 16-bit value, low first.
inline std::array<uint8_t, 2> le16Bytes(uint16_t v)
{
    return {uint8_t(v), uint8_t(v >> 8)};
}

} // namespace byteorder
