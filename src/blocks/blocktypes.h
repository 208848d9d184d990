// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The three kinds of function block the block service finds and serves, in the order they are
// probed (the "slot"), with their configuration function bytes, list labels and the length of
// their parameter records.

#include <QString>
#include <cstdint>
#include <optional>

namespace blocks
{

constexpr int Slots = 3;     // slot 1 telesignal, 2 current measurement, 3 telecontrol
constexpr int Addresses = 8; // bus addresses 0..7
constexpr int MaxBlocks = Slots * Addresses;

constexpr uint8_t FunctionTs = 0xC4;
constexpr uint8_t FunctionTit = 0xC8;
constexpr uint8_t FunctionTu = 0xC2;

// The configuration function byte of slot 1..3.
constexpr uint8_t FunctionOfSlot(int slot)
{
    return slot == 1 ? FunctionTs : slot == 2 ? FunctionTit : slot == 3 ? FunctionTu : 0;
}
// Slot 1..3 of a configuration function byte, 0 for any other byte.
constexpr int SlotOf(uint8_t function)
{
    return function == FunctionTs    ? 1
           : function == FunctionTit ? 2
           : function == FunctionTu  ? 3
                                     : 0;
}
// Chunks of 8 bytes in the parameter record: 10 (80 bytes), 3 (24), 25 (200); 0 otherwise.
constexpr int ChunksOf(uint8_t function)
{
    return function == FunctionTs    ? 10
           : function == FunctionTit ? 3
           : function == FunctionTu  ? 25
                                     : 0;
}
// The label of the block's line in the list: "ТСМ77  Адр=", "ТИТМ77 Адр=", "ТУМ77  Адр=".
QString LabelOfSlot(int slot);

// A block as scripts write it: "ts:0", "tit:2", "tu:3".
struct Ref {
    int slot = 0;
    int address = 0;
    uint8_t function() const { return FunctionOfSlot(slot); }
    bool operator==(const Ref&) const = default;
};
std::optional<Ref> ParseRef(const QString& text);
QString RefText(int slot, int address);
QString RefText(Ref block);
// "ts:1, tu:0"; "—" for none.
QString RefListText(const QList<Ref>& list);
// "ts", "tit", "tu" for slot 1..3.
QString TypeName(int slot);

} // namespace blocks
