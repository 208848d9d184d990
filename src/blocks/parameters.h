// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parameter records of the blocks and the grid ConfigBl that shows them ("Параметр",
// "Знач." and two more value columns). The codecs are pure functions: a record's bytes and its
// typed values (one integer per field), and the values and the grid's texts. The grid is an
// item model whose column 0 holds the row headers of the block type (the hidden lists OptTS,
// OptTIT, OptTU).

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace params
{

constexpr int GridRows = 120;   // the header row included
constexpr int ValueColumns = 3; // grid columns 1..3
constexpr int ImageSize = 257;  // a stored parameter image
constexpr int BufferSize = 256; // ConfigBuffer

// The value cells of grid rows 1..119: Texts[row - 1][col - 1].
using Texts = std::array<std::array<QString, ValueColumns>, GridRows - 1>;
using Image = std::array<uint8_t, ImageSize>;

// The row headers of a block type, from grid row 1 on (OptTS, OptTIT or OptTU). A telecontrol
// block whose control type is 5 (interlock mode) has the alternate header of row 2.
QStringList RowHeaders(uint8_t function, bool interlockMode = false);
// The control type of a telecontrol block's record: 5 is interlock mode.
uint16_t ControlType(std::span<const uint8_t> image);
constexpr uint16_t InterlockMode = 5;
// Whether a record is that of a telecontrol block in interlock mode.
bool InInterlockMode(uint8_t function, std::span<const uint8_t> record);
// The row headers of a record's type: those of interlock mode for a record in it.
QStringList RowHeadersOf(uint8_t function, std::span<const uint8_t> record);
// Bytes of a type's parameter record: 80, 24, 200 (0 for no type).
int RecordSize(uint8_t function);

// How a field lies in the record.
enum class Codec : uint8_t {
    U16,     // 16 bits at the offset; the low 16 bits of the value are stored
    U8,      // 8 bits at the offset; the low 8 bits are stored
    MaskBit, // one bit of the 32-bit mask at the offset: set for 1, clear for any other value
    HalfMs,  // 16 bits holding twice the value (half milliseconds); shown halved
    Speed,   // a speed code 0..9 at the offset holding a rate; any other rate is stored as 7
};

// A grid cell that a type's record uses, with a stable ASCII key for scripts ("ts_cycle",
// "in5_filter_ms", "out3_hold_ms", ...) and where the value lies in the record.
struct Field {
    QString key;
    int row = 0;
    int col = 0;
    Codec codec = Codec::U16;
    int offset = 0;
    int bit = 0; // MaskBit: 0..31
};
// The fields of a type, row by row and column by column.
const QList<Field>& Fields(uint8_t function);
// A field's name as the engineer sees it: its row header, and the column when it is not the
// first ("Вх 5 [3]").
QString FieldName(const QStringList& headers, const Field& field);
// Whether a value is one the field gives back when read: 0..65535 (u16), 0..255 (u8), 0 or 1
// (a mask bit), 0..32767 (half milliseconds), one of the rates (speed).
bool InRange(const Field& field, qint64 value);

// A record's values, one per field of the type in the order of Fields(); a field whose stored
// value has no meaning (a speed code outside 0..9) has none.
using Values = QList<std::optional<qint64>>;

// The values of a record (at least RecordSize bytes; none for a shorter one).
Values Decode(uint8_t function, std::span<const uint8_t> record);
// The values written into the record; a field without a value, and every byte that no field
// lists, keep what the record holds.
void Encode(uint8_t function, const Values& values, std::span<uint8_t> record);

// The values shown in the grid's cells; cells the type does not use stay as they are.
void ShowValues(uint8_t function, const Values& values, Texts& grid);
// The values the grid's cells hold. Every cell used must be a decimal integer, but an empty
// cell where `shown` has no value keeps it without one. Otherwise nothing, and in `error`
// the message that names the cell (its row header from `headers`, and its column) and text.
std::optional<Values> ReadGrid(uint8_t function, const Texts& grid, const QStringList& headers,
                               const Values& shown, QString* error);
// "Размножить": the first input's or output's settings copied to the others, in the grid only.
void Replicate(uint8_t function, Texts& grid);

// The measurement block's speed codes 0..9 and their rates; any other rate is stored as 7.
int SpeedCode(qint64 rate);
std::optional<int> SpeedOfCode(int code);

} // namespace params

// The grid ConfigBl: grid rows 1..119 as model rows 0..118; column 0 holds the row headers,
// columns 1..3 the values, which the engineer edits.
class ParameterGrid : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // The value cells and the row headers (from grid row 1 on).
    const params::Texts& texts() const { return values_; }
    const QStringList& headers() const { return headers_; }

    // Grid cell texts by grid coordinates (row 1..119, column 0..3). setCell is the
    // engineer's edit of a value cell.
    QString cell(int gridRow, int gridCol) const;
    void setCell(int gridRow, int gridCol, const QString& text);
    // Row headers and values replaced as a whole (the views are told once).
    void Show(const QStringList& headers, const params::Texts& values);
    // Columns 1..3 of grid rows 1..lastRow emptied, and the row headers with them.
    void Clear(int lastRow = params::GridRows - 1);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    params::Texts values_;
    QStringList headers_;
};
