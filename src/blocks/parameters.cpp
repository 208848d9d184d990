// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/parameters.h"

#include "blocks/blocktypes.h"
#include "support/byteorder.h"
#include "support/convert.h"

#include <algorithm>
#include <limits>

namespace params
{

namespace
{
constexpr int SpeedRates[] = {100, 200, 300, 600, 1200, 2400, 4800, 9600, 19200, 57600};
constexpr int DefaultSpeedCode = 7;
constexpr int Inputs = 32;

// Telesignal block: two cycle times, the counter and interlock masks, 32 filter times.
constexpr int TsInputRow = 3; // input n on grid row n + 2
constexpr int TsCounterMask = 4, TsInterlockMask = 8, TsFilters = 12;
// Measurement block: rows 1..9 are u16 fields at these offsets; the input mask on rows 12..43.
constexpr int TitFieldOffsets[] = {0, 2, 4, 6, 12, 14, 16, 18, 20};
constexpr int TitInputRow = 12;
constexpr int TitMask = 8, TitSpeed = 22, TitDelay = 23;
// Telecontrol block: the control type, then hold times and coefficients of 32 outputs.
constexpr int TuOutputRow = 2; // output n on grid row n + 1
constexpr int TuColumns[] = {2, 66, 130};

QString& At(Texts& g, int row, int col)
{
    return g[size_t(row - 1)][size_t(col - 1)];
}
const QString& At(const Texts& g, int row, int col)
{
    return g[size_t(row - 1)][size_t(col - 1)];
}

QList<Field> TsFields()
{
    QList<Field> f{{QStringLiteral("ts_cycle"), 1, 1, Codec::U16, 0},
                   {QStringLiteral("tii_cycle"), 2, 1, Codec::U16, 2}};
    for (int n = 1; n <= Inputs; ++n) {
        const int row = TsInputRow + n - 1;
        f.append(
            {QStringLiteral("in%1_counter").arg(n), row, 1, Codec::MaskBit, TsCounterMask, n - 1});
        f.append({QStringLiteral("in%1_interlock").arg(n), row, 2, Codec::MaskBit, TsInterlockMask,
                  n - 1});
        f.append({QStringLiteral("in%1_filter_ms").arg(n), row, 3, Codec::HalfMs,
                  TsFilters + 2 * (n - 1)});
    }
    return f;
}

QList<Field> TitFields()
{
    const char* keys[] = {"tit_cycle", "tit_groups",  "aperture",    "ts_cycle", "tu_type",
                          "tu_hold",   "tu_coef_min", "tu_coef_max", "kp_number"};
    QList<Field> f;
    for (int row = 1; row <= int(std::size(keys)); ++row)
        f.append({QLatin1String(keys[row - 1]), row, 1, Codec::U16, TitFieldOffsets[row - 1]});
    f.append({QStringLiteral("speed"), 10, 1, Codec::Speed, TitSpeed});
    f.append({QStringLiteral("delay_ms"), 11, 1, Codec::U8, TitDelay});
    for (int n = 1; n <= Inputs; ++n)
        f.append({QStringLiteral("in%1_ts").arg(n), TitInputRow + n - 1, 1, Codec::MaskBit, TitMask,
                  n - 1});
    return f;
}

QList<Field> TuFields()
{
    QList<Field> f{{QStringLiteral("control_type"), 1, 1, Codec::U16, 0}};
    const char* columns[] = {"hold", "coef_min", "coef_max"};
    for (int n = 1; n <= Inputs; ++n)
        for (int c = 1; c <= ValueColumns; ++c)
            f.append({QStringLiteral("out%1_%2").arg(n).arg(QLatin1String(columns[c - 1])),
                      TuOutputRow + n - 1, c, Codec::U16, TuColumns[c - 1] + 2 * (n - 1)});
    return f;
}

std::optional<qint64> DecodeField(const Field& f, const uint8_t* p)
{
    switch (f.codec) {
    case Codec::U16:
        return byteorder::le16(p + f.offset);
    case Codec::U8:
        return p[f.offset];
    case Codec::MaskBit:
        return (byteorder::le32(p + f.offset) >> f.bit) & 1;
    case Codec::HalfMs:
        return byteorder::le16(p + f.offset) >> 1;
    case Codec::Speed: {
        const auto speed = SpeedOfCode(p[f.offset]);
        return speed ? std::optional<qint64>(*speed) : std::nullopt;
    }
    }
    return std::nullopt;
}

void EncodeField(const Field& f, qint64 v, uint8_t* p)
{
    switch (f.codec) {
    case Codec::U16:
        byteorder::putLe16(p + f.offset, uint16_t(v));
        break;
    case Codec::U8:
        p[f.offset] = uint8_t(v);
        break;
    case Codec::MaskBit: {
        const uint32_t bit = uint32_t(1) << f.bit;
        const uint32_t mask = byteorder::le32(p + f.offset);
        byteorder::putLe32(p + f.offset, v == 1 ? mask | bit : mask & ~bit);
        break;
    }
    case Codec::HalfMs:
        byteorder::putLe16(p + f.offset, uint16_t(v * 2));
        break;
    case Codec::Speed:
        p[f.offset] = uint8_t(SpeedCode(v));
        break;
    }
}
} // namespace

int SpeedCode(qint64 rate)
{
    for (int code = 0; code < int(std::size(SpeedRates)); ++code)
        if (SpeedRates[code] == rate)
            return code;
    return DefaultSpeedCode;
}

std::optional<int> SpeedOfCode(int code)
{
    if (code < 0 || code >= int(std::size(SpeedRates)))
        return std::nullopt;
    return SpeedRates[code];
}

uint16_t ControlType(std::span<const uint8_t> image)
{
    return image.size() >= 2 ? byteorder::le16(image.data()) : 0;
}

bool InInterlockMode(uint8_t function, std::span<const uint8_t> record)
{
    return function == blocks::FunctionTu && ControlType(record) == InterlockMode;
}

QStringList RowHeadersOf(uint8_t function, std::span<const uint8_t> record)
{
    return RowHeaders(function, InInterlockMode(function, record));
}

int RecordSize(uint8_t function)
{
    return blocks::ChunksOf(function) * 8;
}

QStringList RowHeaders(uint8_t function, bool interlockMode)
{
    QStringList h;
    switch (function) {
    case blocks::FunctionTs:
        h << QStringLiteral("Время цикла ТС    (sec)") << QStringLiteral("Время цикла ТИИ (sec)")
          << QStringLiteral("Вх 1  (ТИИ/БЛОКИР/msec)");
        for (int n = 2; n <= Inputs; ++n)
            h << QStringLiteral("Вх %1").arg(n);
        for (int i = 0; i < 15; ++i)
            h << QString();
        break;
    case blocks::FunctionTit:
        h << QStringLiteral("Время цикла ТИТ(sec)") << QStringLiteral("Кол-во групп ТИТ (1-8)")
          << QStringLiteral("Уставка передачи(Аппертура)") << QStringLiteral("Время цикла ТС(sec)")
          << QStringLiteral("Тип ТУ") << QStringLiteral("Удержание ТУ(*0.1sec)")
          << QStringLiteral("КоэфРеле ТУ мин") << QStringLiteral("КоэфРеле ТУ макс")
          << QStringLiteral("Ном КП(Микро)") << QStringLiteral("Скорость(Микро)")
          << QStringLiteral("Задержка(Микро)msec");
        for (int n = 1; n <= Inputs; ++n)
            h << QStringLiteral("%1вх ТИТ/ТС (0/1)").arg(n);
        for (int i = 0; i < 6; ++i)
            h << QString();
        break;
    case blocks::FunctionTu:
        h << QStringLiteral("Тип управления (0-1)")
          << (interlockMode ? QStringLiteral("Вых1(№ ТУ/0/Удерж,сек)")
                            : QStringLiteral("Вых 1 (Уд.msec/Кmin/Кmax)"));
        for (int n = 2; n <= Inputs; ++n)
            h << QStringLiteral("Вых %1").arg(n);
        for (int i = 0; i < 21; ++i)
            h << QString();
        break;
    default:
        break;
    }
    return h;
}

const QList<Field>& Fields(uint8_t function)
{
    static const QList<Field> ts = TsFields(), tit = TitFields(), tu = TuFields(), none;
    switch (function) {
    case blocks::FunctionTs:
        return ts;
    case blocks::FunctionTit:
        return tit;
    case blocks::FunctionTu:
        return tu;
    default:
        return none;
    }
}

QString FieldName(const QStringList& headers, const Field& field)
{
    const QString header = headers.value(field.row - 1).trimmed();
    return field.col > 1 ? QStringLiteral("%1 [%2]").arg(header).arg(field.col) : header;
}

bool InRange(const Field& field, qint64 value)
{
    switch (field.codec) {
    case Codec::U16:
        return value >= 0 && value <= 0xFFFF;
    case Codec::U8:
        return value >= 0 && value <= 0xFF;
    case Codec::MaskBit:
        return value == 0 || value == 1;
    case Codec::HalfMs:
        return value >= 0 && value <= 0x7FFF;
    case Codec::Speed:
        return std::find(std::begin(SpeedRates), std::end(SpeedRates), value) !=
               std::end(SpeedRates);
    }
    return false;
}

Values Decode(uint8_t function, std::span<const uint8_t> record)
{
    Values values;
    if (record.size() < size_t(RecordSize(function)))
        return values;
    for (const Field& f : Fields(function))
        values.append(DecodeField(f, record.data()));
    return values;
}

void Encode(uint8_t function, const Values& values, std::span<uint8_t> record)
{
    const QList<Field>& fields = Fields(function);
    if (record.size() < size_t(RecordSize(function)) || values.size() != fields.size())
        return;
    for (qsizetype i = 0; i < fields.size(); ++i)
        if (values[i])
            EncodeField(fields[i], *values[i], record.data());
}

void ShowValues(uint8_t function, const Values& values, Texts& grid)
{
    const QList<Field>& fields = Fields(function);
    for (qsizetype i = 0; i < fields.size() && i < values.size(); ++i)
        At(grid, fields[i].row, fields[i].col) =
            values[i] ? QString::number(*values[i]) : QString();
}

std::optional<Values> ReadGrid(uint8_t function, const Texts& grid, const QStringList& headers,
                               const Values& shown, QString* error)
{
    const QList<Field>& fields = Fields(function);
    Values values;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        const QString& text = At(grid, f.row, f.col);
        if (text.trimmed().isEmpty() && i < shown.size() && !shown[i]) {
            values.append(std::nullopt); // a value the grid could not show stays as it is
            continue;
        }
        bool ok = false;
        const qint64 v = text.trimmed().toLongLong(&ok, 10);
        if (!ok || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) {
            if (error)
                *error = IntConversionError(QStringLiteral("Строка «%1», столбец %2")
                                                .arg(headers.value(f.row - 1).trimmed())
                                                .arg(f.col),
                                            text);
            return std::nullopt;
        }
        values.append(v);
    }
    return values;
}

void Replicate(uint8_t function, Texts& grid)
{
    int first = 0, columns = 0;
    switch (function) {
    case blocks::FunctionTs:
        first = TsInputRow, columns = 3;
        break;
    case blocks::FunctionTit:
        first = TitInputRow, columns = 1;
        break;
    case blocks::FunctionTu:
        first = TuOutputRow, columns = 3;
        break;
    default:
        return;
    }
    for (int row = first + 1; row < first + Inputs; ++row)
        for (int col = 1; col <= columns; ++col)
            At(grid, row, col) = At(grid, first, col);
}

} // namespace params

QString ParameterGrid::cell(int gridRow, int gridCol) const
{
    if (gridRow < 1 || gridRow >= params::GridRows)
        return {};
    if (gridCol == 0)
        return gridRow - 1 < headers_.size() ? headers_[gridRow - 1] : QString();
    if (gridCol < 1 || gridCol > params::ValueColumns)
        return {};
    return values_[size_t(gridRow - 1)][size_t(gridCol - 1)];
}

void ParameterGrid::setCell(int gridRow, int gridCol, const QString& text)
{
    if (gridRow < 1 || gridRow >= params::GridRows || gridCol < 1 || gridCol > params::ValueColumns)
        return;
    values_[size_t(gridRow - 1)][size_t(gridCol - 1)] = text;
    const QModelIndex i = index(gridRow - 1, gridCol);
    emit dataChanged(i, i);
}

void ParameterGrid::Show(const QStringList& headers, const params::Texts& values)
{
    beginResetModel();
    headers_ = headers;
    values_ = values;
    endResetModel();
}

void ParameterGrid::Clear(int lastRow)
{
    beginResetModel();
    headers_.clear();
    for (int row = 1; row <= std::min(lastRow, params::GridRows - 1); ++row)
        for (QString& v : values_[size_t(row - 1)])
            v.clear();
    endResetModel();
}

int ParameterGrid::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : params::GridRows - 1;
}

int ParameterGrid::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : params::ValueColumns + 1;
}

QVariant ParameterGrid::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return cell(index.row() + 1, index.column());
}

bool ParameterGrid::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.column() < 1)
        return false;
    setCell(index.row() + 1, index.column(), value.toString());
    return true;
}

QVariant ParameterGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section == 0   ? QStringLiteral("Параметр")
               : section == 1 ? QStringLiteral("Знач.")
                              : QString();
    return QString::number(section + 1);
}

Qt::ItemFlags ParameterGrid::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags base = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return index.column() == 0 ? base : base | Qt::ItemIsEditable;
}
