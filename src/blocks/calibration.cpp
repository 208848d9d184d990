// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/calibration.h"

#include "blocks/blockmemory.h"
#include "blocks/blockservice.h"
#include "blocks/blocktexts.h"
#include "exchange/linkcore.h"
#include "support/byteorder.h"
#include "support/convert.h"
#include "support/operatorio.h"

#include <cmath>

namespace
{
constexpr int RecordWrites = calib::RecordSize / blockreq::ChunkSize;
} // namespace

namespace calib
{

QString RawZeroText()
{
    return QStringLiteral("нет значения (код 0)");
}

std::optional<int32_t> Scaled(int32_t a, int32_t b, int32_t c)
{
    if (b == 0)
        return std::nullopt;
    // The program never leaves the default rounding mode, so nearbyint rounds halfway to even.
    // |a / b × c| stays within |a × c|, which fits.
    return int32_t(std::nearbyint(double(a) / double(b) * double(c)));
}

std::optional<int32_t> RawOfShown(int32_t shown)
{
    const auto raw = Scaled(ScaleShown, shown, ScaleRaw);
    if (raw == 0)
        return std::nullopt;
    return raw;
}

std::array<uint8_t, 2> Field16(int32_t v)
{
    return {uint8_t(v & 0xFF), uint8_t((v / 256) & 0xFF)};
}

namespace
{
QString ShownText(const uint8_t* raw)
{
    const auto shown = ShownOfRaw(int32_t(byteorder::le32(raw)));
    return shown ? QString::number(*shown) : RawZeroText();
}

// A maximum or minimum text as its raw value.
std::optional<int32_t> RawOfText(const QString& text, const QString& field, QString* error)
{
    const auto value = StrToInt(text, field, error);
    if (!value)
        return std::nullopt;
    const auto raw = RawOfShown(*value);
    if (!raw && error)
        *error = QStringLiteral("%1: значение %2 нельзя пересчитать в код АЦП")
                     .arg(field, QString::number(*value));
    return raw;
}

void Put16(Record& r, int offset, int32_t v)
{
    const auto bytes = Field16(v);
    r[size_t(offset)] = bytes[0];
    r[size_t(offset + 1)] = bytes[1];
}
} // namespace

Texts Decode(std::span<const uint8_t, FieldBytes> bytes)
{
    const uint8_t* p = bytes.data();
    return {QString::number(byteorder::le16(p)), ShownText(p + 2), ShownText(p + 6),
            QString::number(byteorder::le16(p + 10))};
}

Texts Decode(const QByteArray& record)
{
    std::array<uint8_t, FieldBytes> bytes{};
    std::copy_n(record.constData(), std::min<qsizetype>(record.size(), FieldBytes), bytes.begin());
    return Decode(bytes);
}

std::optional<Record> Encode(const Texts& texts, QString* error)
{
    const auto zero = StrToInt(texts.zero, QStringLiteral("Значение \"Нуля\""), error);
    if (!zero)
        return std::nullopt;
    const auto maximum = RawOfText(texts.maximum, QStringLiteral("Значение Максимума"), error);
    if (!maximum)
        return std::nullopt;
    const auto minimum = RawOfText(texts.minimum, QStringLiteral("Значение Минимума"), error);
    if (!minimum)
        return std::nullopt;
    const auto zone = StrToInt(texts.zone, QStringLiteral("Зона \"Нуля\""), error);
    if (!zone)
        return std::nullopt;
    Record r;
    r.fill(0x20);
    Put16(r, 0, *zero);
    byteorder::putLe32(r.data() + 2, uint32_t(*maximum));
    byteorder::putLe32(r.data() + 6, uint32_t(*minimum));
    Put16(r, 10, *zone);
    return r;
}

} // namespace calib

AdcCalibration::AdcCalibration(LinkCore& link, BlockService& blocks, QObject* parent)
    : QObject(parent), link_(link), blocks_(blocks)
{
}

bool AdcCalibration::IsMeasurementBlock(blocks::Ref block)
{
    if (block.function() == blocks::FunctionTit)
        return true;
    blocks_.Operator().Tell(QStringLiteral("Калибровка АЦП"),
                            QStringLiteral("Калибровка есть только у блоков ТИТ, а не у блока %1.")
                                .arg(blocks::RefText(block)));
    return false;
}

std::optional<QByteArray> AdcCalibration::Read(blocks::Ref block, int bytes)
{
    if (!IsMeasurementBlock(block))
        return std::nullopt;
    const auto operation = link_.Operations.Begin(QStringLiteral("считывание калибровки"));
    if (!operation)
        return std::nullopt;
    const uint8_t f = block.function(), a = uint8_t(block.address);
    OperatorIo& op = blocks_.Operator();
    const Reply pointer = link_.SendAndWait(blockreq::PointerSet(f, a, calib::Area));
    if (pointer == Reply::Stopped)
        return std::nullopt;
    QByteArray record;
    if (pointer == Reply::Answered) {
        const Reply r = blockmem::ReadArea(link_, op, f, a, calib::Area,
                                           bytes / blockreq::ChunkSize, blocktext::Read, record);
        if (r == Reply::Stopped)
            return std::nullopt;
        if (r == Reply::Answered)
            return record;
    }
    // Half a record decodes into wrong values: nothing is shown of it.
    op.Tell(blocktext::Read,
            QStringLiteral("Калибровка блока %1 не считана.").arg(blocks::RefText(block)));
    return std::nullopt;
}

bool AdcCalibration::Write(blocks::Ref block, const calib::Texts& texts)
{
    QString error;
    const auto record = calib::Encode(texts, &error);
    if (!record) {
        blocks_.Operator().Tell(InputErrorCaption, error);
        return false;
    }
    return WriteRecord(block, *record);
}

bool AdcCalibration::WriteRecord(blocks::Ref block, const calib::Record& record)
{
    if (!IsMeasurementBlock(block))
        return false;
    const auto operation = link_.Operations.Begin(QStringLiteral("запись калибровки"));
    if (!operation)
        return false;
    const uint8_t f = block.function(), a = uint8_t(block.address);
    OperatorIo& op = blocks_.Operator();
    const auto failed = [&op](Reply r) {
        // Without the pointer nothing is written: the engineer must not think it was.
        if (r == Reply::NoAnswer)
            op.Tell(blocktext::WriteConfiguration, blocktext::NoAnswerRepeat);
        return false;
    };
    const Reply pointer = link_.SendAndWait(blockreq::PointerSet(f, a, calib::Area));
    if (pointer != Reply::Answered)
        return failed(pointer);
    if (link_.SendAndWait(blockreq::PageErase(f, a)) == Reply::Stopped)
        return false; // otherwise its outcome does not matter
    for (int chunk = 0; chunk < RecordWrites; ++chunk) {
        const Reply r =
            link_.SendAndWait(blockreq::MemoryWrite(f, a, blockreq::ChunkOf(record, chunk)));
        if (r != Reply::Answered)
            return failed(r);
    }
    return true;
}
