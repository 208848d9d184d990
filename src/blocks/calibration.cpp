// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/calibration.h"

#include "blocks/blocktexts.h"

#include "blocks/blockservice.h"
#include "exchange/linkcore.h"
#include "support/byteorder.h"
#include "support/convert.h"
#include "support/operatorio.h"

#include <cmath>

namespace
{
const QString NotRead =
    QStringLiteral("Калибровка не считана из блока, значения на панели не изменены.");
constexpr int FieldReads = calib::FieldBytes / blockreq::ChunkSize;
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
    const auto value = StrToInt(text, error);
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

std::optional<Record> Encode(const Texts& texts, QString* error)
{
    const auto zero = StrToInt(texts.zero, error);
    if (!zero)
        return std::nullopt;
    const auto maximum = RawOfText(texts.maximum, QStringLiteral("Значение Максимума"), error);
    if (!maximum)
        return std::nullopt;
    const auto minimum = RawOfText(texts.minimum, QStringLiteral("Значение Минимума"), error);
    if (!minimum)
        return std::nullopt;
    const auto zone = StrToInt(texts.zone, error);
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

void AdcCalibration::Panel6DblClick()
{
    if (blocks_.SelectedBlockFunction == 0)
        return;
    if (Panel5Visible) {
        Panel5Visible = false;
        emit panelChanged();
        return;
    }
    const auto operation = link_.Operations.Begin(QStringLiteral("считывание калибровки"));
    if (!operation)
        return;
    Read(uint8_t(blocks_.SelectedBlockFunction), uint8_t(blocks_.SelectedBlockAddress));
}

void AdcCalibration::Read(uint8_t f, uint8_t a)
{
    OperatorIo& op = *blocks_.Operator;
    const Reply pointer = link_.SendAndWait(blockreq::PointerSet(f, a, calib::Area));
    if (pointer == Reply::Stopped)
        return;
    std::array<uint8_t, calib::FieldBytes> bytes{};
    int answered = 0;
    if (pointer == Reply::Answered) {
        for (int attempt = 0; answered < FieldReads;) {
            const Reply r = link_.SendAndWait(blockreq::MemoryRead(f, a));
            if (r == Reply::Stopped)
                return;
            if (r == Reply::Answered) {
                for (int i = 0; i < blockreq::ChunkSize; ++i)
                    bytes[size_t(blockreq::ChunkSize * answered + i)] = uint8_t(link_.ReplyData[i]);
                ++answered;
                attempt = 0;
            } else if (!op.Retry(blocktext::Read, blocktext::NoAnswer, attempt++)) {
                break;
            }
        }
    }
    // Half a record decodes into wrong values: the fields then keep what they showed.
    if (answered == FieldReads)
        Fields = calib::Decode(bytes);
    else
        op.Tell(blocktext::Read, NotRead);
    Panel5Visible = true;
    emit panelChanged();
}

void AdcCalibration::SpeedButton1Click()
{
    // After a discovery the panel may still be open with no block selected: nothing to write to.
    if (blocks_.SelectedBlockFunction == 0)
        return;
    const auto operation = link_.Operations.Begin(QStringLiteral("запись калибровки"));
    if (!operation)
        return;
    const uint8_t f = uint8_t(blocks_.SelectedBlockFunction);
    const uint8_t a = uint8_t(blocks_.SelectedBlockAddress);
    OperatorIo& op = *blocks_.Operator;
    QString error;
    const auto record = calib::Encode(Fields, &error);
    if (!record)
        return op.Tell(QString(), error);

    const Reply pointer = link_.SendAndWait(blockreq::PointerSet(f, a, calib::Area));
    if (pointer == Reply::Stopped)
        return;
    // Without the pointer nothing is written: the engineer must not think it was.
    if (pointer == Reply::NoAnswer)
        return op.Tell(blocktext::WriteConfiguration, blocktext::NoAnswerRepeat);
    if (link_.SendAndWait(blockreq::PageErase(f, a)) == Reply::Stopped)
        return; // otherwise its outcome does not matter
    for (int chunk = 0; chunk < RecordWrites; ++chunk) {
        const Reply r =
            link_.SendAndWait(blockreq::MemoryWrite(f, a, blockreq::ChunkOf(*record, chunk)));
        if (r == Reply::Stopped)
            return;
        if (r == Reply::NoAnswer)
            return op.Tell(blocktext::WriteConfiguration, blocktext::NoAnswerRepeat);
    }
}
