// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A byte array's bytes as unsigned bytes, for the record codecs.

#include <QByteArray>
#include <cstdint>
#include <span>

inline std::span<const uint8_t> ByteSpan(const QByteArray& bytes)
{
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
}

inline std::span<uint8_t> WritableByteSpan(QByteArray& bytes)
{
    return {reinterpret_cast<uint8_t*>(bytes.data()), size_t(bytes.size())};
}
