// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parameter records of the blocks and the grid ConfigBl that shows them ("Параметр",
// "Знач." and two more value columns). The codecs are pure functions between a block's
// parameter image and the grid's texts; the grid is an item model whose column 0 holds the row
// headers of the block type (the hidden lists OptTS, OptTIT, OptTU).

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

// The record shown in the grid's value cells; cells the type does not use stay as they are.
void Decode(uint8_t function, std::span<const uint8_t> image, Texts& grid);
// The grid's value cells written into the record; bytes the type does not list keep their
// values. Every cell used must be a decimal integer: otherwise the image is left untouched and
// the conversion error is returned.
std::optional<QString> Encode(uint8_t function, const Texts& grid, std::span<uint8_t> image);
// "Размножить": the first input's or output's settings copied to the others, in the grid only.
void Replicate(uint8_t function, Texts& grid);

// A grid cell that a type's record uses, with a stable ASCII key for scripts ("ts_cycle",
// "in5_filter_ms", "out3_hold_ms", ...).
struct Field {
    QString key;
    int row = 0;
    int col = 0;
};
QList<Field> Fields(uint8_t function);

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

    params::Texts Values;
    QStringList Headers; // row headers from grid row 1 on

    // Grid cell texts by grid coordinates (row 1..119, column 0..3).
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
};
