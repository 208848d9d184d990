// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/parameters.h"

#include "blocks/blocktypes.h"
#include "support/byteorder.h"
#include "support/convert.h"

#include <algorithm>

namespace params
{

namespace
{
constexpr int SpeedRates[] = {100, 200, 300, 600, 1200, 2400, 4800, 9600, 19200, 57600};
constexpr int DefaultSpeedCode = 7;

// Telesignal block: two cycle times, the counter and interlock masks, 32 filter times.
constexpr int TsInputRow = 3; // input n on grid row n + 2
constexpr int TsCounterMask = 4, TsInterlockMask = 8, TsFilters = 12;
// Measurement block: rows 1..9 are u16 fields at these offsets; the input mask on rows 12..43.
constexpr int TitFieldOffsets[] = {0, 2, 4, 6, 12, 14, 16, 18, 20};
constexpr int TitSpeedRow = 10, TitDelayRow = 11, TitInputRow = 12;
constexpr int TitMask = 8, TitSpeed = 22, TitDelay = 23;
// Telecontrol block: the control type, then hold times and coefficients of 32 outputs.
constexpr int TuOutputRow = 2; // output n on grid row n + 1
constexpr int TuColumns[] = {2, 66, 130};
constexpr int Inputs = 32;

QString Text(qint64 v)
{
    return QString::number(v);
}
QString& At(Texts& g, int row, int col)
{
    return g[size_t(row - 1)][size_t(col - 1)];
}
const QString& At(const Texts& g, int row, int col)
{
    return g[size_t(row - 1)][size_t(col - 1)];
}

// Reads the cells the encoder uses, each as a decimal integer; the first that is not one
// stops it with the conversion error.
struct Reader {
    const Texts& grid;
    std::optional<QString> error;
    qint64 operator()(int row, int col)
    {
        if (error)
            return 0;
        const auto v = StrToInt(At(grid, row, col), nullptr);
        if (!v)
            error = IntConversionError(At(grid, row, col));
        return v.value_or(0);
    }
};

void PutMaskBits(Texts& grid, uint32_t mask, int firstRow, int col)
{
    for (int n = 1; n <= Inputs; ++n)
        At(grid, firstRow + n - 1, col) =
            (mask >> (n - 1)) & 1 ? QStringLiteral("1") : QStringLiteral("0");
}
uint32_t MaskBits(Reader& read, int firstRow, int col)
{
    uint32_t mask = 0;
    for (int n = 1; n <= Inputs; ++n)
        if (read(firstRow + n - 1, col) == 1)
            mask |= uint32_t(1) << (n - 1);
    return mask;
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

void Decode(uint8_t function, std::span<const uint8_t> image, Texts& grid)
{
    if (image.size() < size_t(BufferSize))
        return;
    const uint8_t* p = image.data();
    switch (function) {
    case blocks::FunctionTs:
        At(grid, 1, 1) = Text(byteorder::le16(p));
        At(grid, 2, 1) = Text(byteorder::le16(p + 2));
        PutMaskBits(grid, byteorder::le32(p + TsCounterMask), TsInputRow, 1);
        PutMaskBits(grid, byteorder::le32(p + TsInterlockMask), TsInputRow, 2);
        for (int n = 1; n <= Inputs; ++n) // stored in half milliseconds
            At(grid, TsInputRow + n - 1, 3) =
                Text(byteorder::le16(p + TsFilters + 2 * (n - 1)) >> 1);
        break;
    case blocks::FunctionTit: {
        for (int row = 1; row <= int(std::size(TitFieldOffsets)); ++row)
            At(grid, row, 1) = Text(byteorder::le16(p + TitFieldOffsets[row - 1]));
        const auto speed = SpeedOfCode(p[TitSpeed]);
        At(grid, TitSpeedRow, 1) = speed ? Text(*speed) : QString();
        At(grid, TitDelayRow, 1) = Text(p[TitDelay]);
        PutMaskBits(grid, byteorder::le32(p + TitMask), TitInputRow, 1);
        break;
    }
    case blocks::FunctionTu:
        At(grid, 1, 1) = Text(byteorder::le16(p));
        for (int n = 1; n <= Inputs; ++n)
            for (int col = 1; col <= ValueColumns; ++col)
                At(grid, TuOutputRow + n - 1, col) =
                    Text(byteorder::le16(p + TuColumns[col - 1] + 2 * (n - 1)));
        break;
    default:
        break;
    }
}

std::optional<QString> Encode(uint8_t function, const Texts& grid, std::span<uint8_t> image)
{
    if (image.size() < size_t(BufferSize))
        return std::nullopt;
    std::array<uint8_t, BufferSize> out;
    std::copy_n(image.begin(), BufferSize, out.begin());
    uint8_t* p = out.data();
    Reader read{grid, std::nullopt};
    switch (function) {
    case blocks::FunctionTs:
        byteorder::putLe16(p, uint16_t(read(1, 1)));
        byteorder::putLe16(p + 2, uint16_t(read(2, 1)));
        byteorder::putLe32(p + TsCounterMask, MaskBits(read, TsInputRow, 1));
        byteorder::putLe32(p + TsInterlockMask, MaskBits(read, TsInputRow, 2));
        for (int n = 1; n <= Inputs; ++n)
            byteorder::putLe16(p + TsFilters + 2 * (n - 1),
                               uint16_t(read(TsInputRow + n - 1, 3) * 2));
        break;
    case blocks::FunctionTit:
        for (int row = 1; row <= int(std::size(TitFieldOffsets)); ++row)
            byteorder::putLe16(p + TitFieldOffsets[row - 1], uint16_t(read(row, 1)));
        // A code the grid could not show (outside 0..9) stays as the block holds it.
        if (!At(grid, TitSpeedRow, 1).trimmed().isEmpty() || SpeedOfCode(p[TitSpeed]))
            p[TitSpeed] = uint8_t(SpeedCode(read(TitSpeedRow, 1)));
        p[TitDelay] = uint8_t(read(TitDelayRow, 1));
        byteorder::putLe32(p + TitMask, MaskBits(read, TitInputRow, 1));
        break;
    case blocks::FunctionTu:
        byteorder::putLe16(p, uint16_t(read(1, 1)));
        for (int n = 1; n <= Inputs; ++n)
            for (int col = 1; col <= ValueColumns; ++col)
                byteorder::putLe16(p + TuColumns[col - 1] + 2 * (n - 1),
                                   uint16_t(read(TuOutputRow + n - 1, col)));
        break;
    default:
        return std::nullopt;
    }
    if (read.error)
        return read.error;
    std::copy(out.begin(), out.end(), image.begin());
    return std::nullopt;
}

QList<Field> Fields(uint8_t function)
{
    QList<Field> f;
    auto perChannel = [&f](const char* prefix, int firstRow, QStringList columns) {
        for (int n = 1; n <= Inputs; ++n)
            for (int c = 0; c < columns.size(); ++c)
                f.append(
                    {QStringLiteral("%1%2_%3").arg(QLatin1String(prefix)).arg(n).arg(columns[c]),
                     firstRow + n - 1, c + 1});
    };
    switch (function) {
    case blocks::FunctionTs:
        f = {{QStringLiteral("ts_cycle"), 1, 1}, {QStringLiteral("tii_cycle"), 2, 1}};
        perChannel(
            "in", TsInputRow,
            {QStringLiteral("counter"), QStringLiteral("interlock"), QStringLiteral("filter_ms")});
        break;
    case blocks::FunctionTit: {
        const char* keys[] = {"tit_cycle", "tit_groups", "aperture",    "ts_cycle",
                              "tu_type",   "tu_hold",    "tu_coef_min", "tu_coef_max",
                              "kp_number", "speed",      "delay_ms"};
        for (int row = 1; row <= int(std::size(keys)); ++row)
            f.append({QLatin1String(keys[row - 1]), row, 1});
        perChannel("in", TitInputRow, {QStringLiteral("ts")});
        break;
    }
    case blocks::FunctionTu:
        f = {{QStringLiteral("control_type"), 1, 1}};
        perChannel(
            "out", TuOutputRow,
            {QStringLiteral("hold"), QStringLiteral("coef_min"), QStringLiteral("coef_max")});
        break;
    default:
        break;
    }
    return f;
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
        return gridRow - 1 < Headers.size() ? Headers[gridRow - 1] : QString();
    if (gridCol < 1 || gridCol > params::ValueColumns)
        return {};
    return Values[size_t(gridRow - 1)][size_t(gridCol - 1)];
}

void ParameterGrid::setCell(int gridRow, int gridCol, const QString& text)
{
    if (gridRow < 1 || gridRow >= params::GridRows || gridCol < 1 || gridCol > params::ValueColumns)
        return;
    Values[size_t(gridRow - 1)][size_t(gridCol - 1)] = text;
    const QModelIndex i = index(gridRow - 1, gridCol);
    emit dataChanged(i, i);
}

void ParameterGrid::Show(const QStringList& headers, const params::Texts& values)
{
    beginResetModel();
    Headers = headers;
    Values = values;
    endResetModel();
}

void ParameterGrid::Clear(int lastRow)
{
    beginResetModel();
    Headers.clear();
    for (int row = 1; row <= std::min(lastRow, params::GridRows - 1); ++row)
        for (QString& v : Values[size_t(row - 1)])
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
