// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Calibration of a current measurement block's analog-to-digital converter. The block keeps a
// 24-byte record behind its memory pointer 0xFC00: the zero value, the raw values of the maximum
// and the minimum, the zero zone, then spaces. The panel "Калибровка АЦП" shows the maximum and
// minimum as 81492 / R × 5000, and an entered value V is stored as R = 5000 / V × 81492, so that
// 5000 is stored as 81492 and shown as 5000 again.
//
// The codecs are pure functions; AdcCalibration reads and writes the record of a named block.

#include "blocks/blockrequests.h"
#include "blocks/blocktypes.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

class BlockService;
class LinkCore;

namespace calib
{

constexpr uint16_t Area = blockreq::CalibrationArea;
constexpr int RecordSize = 24;  // bytes written: three memory writes
constexpr int FieldBytes = 16;  // bytes read: two memory reads; the fields take the first 12
constexpr int ScaleRaw = 81492; // the raw value that reads ScaleShown
constexpr int ScaleShown = 5000;

using Record = std::array<uint8_t, RecordSize>;

// The four fields as the panel shows and the engineer types them: LabeledEdit2 to LabeledEdit5.
struct Texts {
    QString zero;    // Значение "Нуля"
    QString maximum; // "Значение Максимума"
    QString minimum; // "Значение Минимума"
    QString zone;    // Зона "Нуля"
    bool operator==(const Texts&) const = default;
};

// What a maximum or minimum field shows for a raw value of 0, which converts to nothing.
QString RawZeroText();

// The integer nearest to a / b × c, computed in floating point in that order; halfway goes to
// the even neighbour. Nothing when b is 0.
std::optional<int32_t> Scaled(int32_t a, int32_t b, int32_t c);
// The value shown for a raw value R: 81492 / R × 5000.
inline std::optional<int32_t> ShownOfRaw(int32_t raw)
{
    return Scaled(ScaleRaw, raw, ScaleShown);
}
// The raw value stored for an entered value V: 5000 / V × 81492. Nothing for 0, and for a value
// so large that the raw value would be 0, which the block could not be read back from.
std::optional<int32_t> RawOfShown(int32_t shown);

// A 16-bit field: the low byte is the low 8 bits of v, the high byte the low 8 bits of v / 256
// truncated toward zero (for 0 to 65535 the little-endian form).
std::array<uint8_t, 2> Field16(int32_t v);

// The panel's texts of the 16 bytes read.
Texts Decode(std::span<const uint8_t, FieldBytes> bytes);
// The same of a record as read: its first 16 bytes, a missing byte counted as 0.
Texts Decode(const QByteArray& record);
// The record written for the panel's texts: fields at 0, 2, 6 and 10, spaces from 12 on.
// Nothing, and the message for the engineer in error, when a text is not a decimal integer or a
// maximum or minimum cannot be converted (0, or too large to give a raw value).
std::optional<Record> Encode(const Texts& texts, QString* error);

} // namespace calib

class AdcCalibration : public QObject
{
    Q_OBJECT
public:
    AdcCalibration(LinkCore& link, BlockService& blocks, QObject* parent = nullptr);

    // The first `bytes` bytes of a measurement block's calibration record (16: the panel's
    // fields; 24: the whole record), read with the block's pointer at 0xFC00. Nothing when the
    // block did not take the pointer or the record was not read whole (the engineer is told),
    // when the block is no measurement block, or when another operation runs.
    std::optional<QByteArray> Read(blocks::Ref block, int bytes = calib::FieldBytes);
    // The panel's texts written into the block's record. False when a text does not convert
    // (told with its field), the block is no measurement block, or the block did not answer.
    bool Write(blocks::Ref block, const calib::Texts& texts);
    // A whole record written as it stands.
    bool WriteRecord(blocks::Ref block, const calib::Record& record);

private:
    bool IsMeasurementBlock(blocks::Ref block);

    LinkCore& link_;
    BlockService& blocks_;
};
