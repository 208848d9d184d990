// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielddata/livetables.h"

#include <QMetaMethod>

#include "support/byteorder.h"
#include "support/localtext.h"

#include <QLocale>

namespace
{
constexpr uint8_t SubCounterPreset = 0x0C;

constexpr int LastDataRow = 16;  // rows 1-16 carry data; the last grid row stays empty
constexpr int TimeColumn = 17;   // "Время" of the measurement tables
constexpr int InterlockRow0 = 9; // "Б0"

QStringList telesignalColumns()
{
    QStringList h{QStringLiteral("№")};
    for (int c = 1; c <= 32; ++c)
        h << QString::number(c);
    return h;
}

QStringList telesignalRows()
{
    QStringList h{QStringLiteral("№")};
    for (int b = 0; b < LiveTables::Blocks; ++b)
        h << QString::number(b);
    for (int b = 0; b < LiveTables::Blocks; ++b)
        h << QStringLiteral("Б%1").arg(b);
    h << QString();
    return h;
}

QStringList measurementColumns()
{
    QStringList h{QStringLiteral("№")};
    for (int c = 1; c <= 16; ++c)
        h << QStringLiteral("%1/%2").arg(c).arg(c + 16);
    h << QStringLiteral("Время");
    return h;
}

QStringList measurementRows()
{
    QStringList h{QStringLiteral("№")};
    for (int b = 0; b < LiveTables::Blocks; ++b)
        h << QStringLiteral("%1-01").arg(b) << QStringLiteral("%1-17").arg(b);
    h << QString();
    return h;
}

// Grid cell of channel index i (from 0) of block b in a measurement table; row 0 when the
// block or the channel has no cell there.
struct ChannelCell {
    int row = 0, col = 0;
};
ChannelCell channelCell(int block, int i)
{
    if (block >= LiveTables::Blocks || i < 0)
        return {};
    const int row = 2 * block + 1 + i / 16;
    if (row > LastDataRow)
        return {};
    return {row, i % 16 + 1};
}

// A measurement as shown: quanta without decimals, volts and milliamperes with three, at most
// five significant digits, the locale's decimal separator and no digit grouping.
QString readingText(double value, bool quanta)
{
    return FixedText(value, 5, quanta ? 0 : 3);
}
} // namespace

// ---------------------------------------------------------------------------------------------

GridTableModel::GridTableModel(const QStringList& columnHeaders, const QStringList& rowHeaders,
                               QObject* parent)
    : QAbstractTableModel(parent), columns_(int(columnHeaders.size())),
      rows_(int(rowHeaders.size())), text_(columns_ * rows_), fontSize_(columns_ * rows_, 0)
{
    for (int c = 0; c < columns_; ++c)
        text_[at(0, c)] = columnHeaders[c];
    for (int r = 1; r < rows_; ++r)
        text_[at(r, 0)] = rowHeaders[r];
}

bool GridTableModel::inside(int gridRow, int gridCol) const
{
    return gridRow >= 0 && gridRow < rows_ && gridCol >= 0 && gridCol < columns_;
}

QString GridTableModel::cell(int gridRow, int gridCol) const
{
    return inside(gridRow, gridCol) ? text_[at(gridRow, gridCol)] : QString();
}

void GridTableModel::changed(int gridRow, int gridCol)
{
    if (gridRow == 0 && gridCol > 0)
        emit headerDataChanged(Qt::Horizontal, gridCol - 1, gridCol - 1);
    else if (gridCol == 0 && gridRow > 0)
        emit headerDataChanged(Qt::Vertical, gridRow - 1, gridRow - 1);
    else if (gridRow > 0 && gridCol > 0)
        batch_.add(gridRow - 1, gridCol - 1);
}

void GridTableModel::setCell(int gridRow, int gridCol, const QString& text)
{
    if (!inside(gridRow, gridCol))
        return;
    QString& cur = text_[at(gridRow, gridCol)];
    if (cur == text)
        return;
    cur = text;
    changed(gridRow, gridCol);
}

int GridTableModel::cellFontSize(int gridRow, int gridCol) const
{
    return inside(gridRow, gridCol) ? fontSize_[at(gridRow, gridCol)] : 0;
}

void GridTableModel::setCellFontSize(int gridRow, int gridCol, int points)
{
    if (!inside(gridRow, gridCol) || points < 0 || points > 255)
        return;
    quint8& cur = fontSize_[at(gridRow, gridCol)];
    if (cur == points)
        return;
    cur = quint8(points);
    changed(gridRow, gridCol);
}

void GridTableModel::clearCells(int firstRow, int lastRow, int firstCol, int lastCol)
{
    firstRow = std::max(firstRow, 1);
    firstCol = std::max(firstCol, 1);
    lastRow = std::min(lastRow, rows_ - 1);
    lastCol = std::min(lastCol, columns_ - 1);
    if (firstRow > lastRow || firstCol > lastCol)
        return;
    for (int r = firstRow; r <= lastRow; ++r)
        for (int c = firstCol; c <= lastCol; ++c)
            text_[at(r, c)].clear();
    batch_.add(firstRow - 1, firstCol - 1, lastRow - 1, lastCol - 1);
}

int GridTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_ - 1;
}

int GridTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns_ - 1;
}

QVariant GridTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int r = index.row() + 1, c = index.column() + 1;
    if (!inside(r, c))
        return {};
    if (role == Qt::DisplayRole)
        return text_[at(r, c)];
    if (role == FontSizeRole && fontSize_[at(r, c)] != 0)
        return int(fontSize_[at(r, c)]);
    return {};
}

QVariant GridTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || section < 0)
        return {};
    return orientation == Qt::Horizontal ? cell(0, section + 1) : cell(section + 1, 0);
}

Qt::ItemFlags GridTableModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---------------------------------------------------------------------------------------------

LiveTables::LiveTables(QObject* parent)
    : QObject(parent), Telesignals(telesignalColumns(), telesignalRows()),
      Measurements(measurementColumns(), measurementRows()),
      Integrals(measurementColumns(), measurementRows())
{
}

void LiveTables::setUnit(int unit)
{
    if (unit < Volts || unit > Quanta || unit == unit_)
        return;
    unit_ = unit;
    emit unitChanged(unit);
}

double LiveTables::unitFactor() const
{
    switch (unit_) {
    case Volts:
        return 1 / 1608.4;
    case Milliamps:
        return 1 / 804.2;
    default:
        return 1;
    }
}

void LiveTables::HandleRecord(const CanRecord& rec)
{
    // A record with DLC 0 only acknowledges; its data span is empty and nothing below reads.
    switch (packet::KindOf(rec)) {
    case packet::RecordKind::TitStamp:
        TitStamp(rec);
        break;
    case packet::RecordKind::TitValues:
        TitValues(rec);
        break;
    case packet::RecordKind::TiiCounter:
        TiiCounter(rec);
        break;
    case packet::RecordKind::TsState:
        TsState(rec);
        break;
    case packet::RecordKind::Interlock:
        InterlockState(rec);
        break;
    case packet::RecordKind::TsEvent:
        TsEvent(rec);
        break;
    default:
        break;
    }
}

void LiveTables::connectNotify(const QMetaMethod& signal)
{
    if (signal == QMetaMethod::fromSignal(&LiveTables::readingsReceived))
        ++readingWatchers_;
}

void LiveTables::disconnectNotify(const QMetaMethod& signal)
{
    if (signal == QMetaMethod::fromSignal(&LiveTables::readingsReceived))
        --readingWatchers_;
}

void LiveTables::TitStamp(const CanRecord& rec)
{
    if (rec.address >= Blocks || rec.data.size() < 4)
        return;
    const quint32 seconds = byteorder::le32(rec.data.data());
    Measurements.setCell(2 * rec.address + 1, TimeColumn, StampTimeText(seconds));
    emit stampReceived(rec.address, seconds);
}

void LiveTables::TitValues(const CanRecord& rec)
{
    const int first = rec.sub & 0x3F;
    const int readings = int(rec.data.size()) / 2; // only complete readings
    const bool quanta = unit_ == Quanta;
    const double factor = unitFactor();
    for (int k = 0; k < readings; ++k) {
        const ChannelCell cell = channelCell(rec.address, first + k);
        if (cell.row == 0)
            continue;
        const auto raw = int16_t(byteorder::le16(rec.data.data() + 2 * k));
        Measurements.setCellFontSize(cell.row, cell.col, MeasurementFontSize);
        Measurements.setCell(cell.row, cell.col, readingText(raw * factor, quanta));
    }
    if (readingWatchers_ > 0 && readings > 0 && rec.address < Blocks) {
        QList<int> quanta;
        for (int k = 0; k < readings; ++k)
            quanta << int16_t(byteorder::le16(rec.data.data() + 2 * k));
        emit readingsReceived(rec.address, first, quanta);
    }
}

void LiveTables::TiiCounter(const CanRecord& rec)
{
    // The channel number counts from 1; number 0 would address the header column.
    const ChannelCell cell = channelCell(rec.address, (rec.sub & 0x3F) - 1);
    if (cell.row == 0)
        return;
    // The value and the time stamp are written each when it lies whole in the record.
    if (rec.data.size() >= 4)
        Integrals.setCell(cell.row, cell.col, QString::number(byteorder::le32(rec.data.data())));
    if (rec.data.size() >= 8)
        Integrals.setCell(2 * rec.address + 1, TimeColumn,
                          StampTimeText(byteorder::le32(rec.data.data() + 4)));
    if (rec.data.size() >= 4)
        emit counterReceived(rec.address, rec.sub & 0x3F, byteorder::le32(rec.data.data()),
                             rec.data.size() >= 8 ? qint64(byteorder::le32(rec.data.data() + 4))
                                                  : -1);
}

void LiveTables::WriteBits(int row, std::span<const uint8_t> bytes)
{
    for (int c = 1; c <= 32; ++c) {
        const bool set = bytes[(c - 1) / 8] & (1u << ((c - 1) % 8));
        Telesignals.setCell(row, c, set ? QStringLiteral("1") : QStringLiteral("0"));
    }
}

void LiveTables::TsState(const CanRecord& rec)
{
    // The archive position is reported whatever the block; the 32 states are written only
    // all together, into an existing row.
    if (rec.data.size() >= 5)
        ArchivePos = rec.data[4];
    if (rec.address < Blocks && rec.data.size() >= 4) {
        WriteBits(rec.address + 1, rec.data.first(4));
        emit statesReceived(rec.address, false, byteorder::le32(rec.data.data()));
    }
}

void LiveTables::InterlockState(const CanRecord& rec)
{
    // The first data byte is not shown.
    if (rec.address < Blocks && rec.data.size() >= 5) {
        WriteBits(rec.address + InterlockRow0, rec.data.subspan(1, 4));
        emit statesReceived(rec.address, true, byteorder::le32(rec.data.data() + 1));
    }
}

void LiveTables::TsEvent(const CanRecord& rec)
{
    // No event without its time stamp and number.
    if (rec.data.size() < 6)
        return;
    const uint8_t r3 = rec.sub;
    const int input = (r3 & 0x1F) + 1;
    const int row = rec.address < Blocks ? rec.address + 1 : 0; // no row: the cells are skipped
    const QString one = QStringLiteral("1"), zero = QStringLiteral("0");

    QString line = QStringLiteral("ТС  Блок = %1 Номер = %2 Время =%3(%4)")
                       .arg(rec.address)
                       .arg(input)
                       .arg(StampTimeText(byteorder::le32(rec.data.data())))
                       .arg(byteorder::le16(rec.data.data() + 4));
    if (rec.data.size() >= 7)
        ArchivePos = rec.data[6];

    const bool state = r3 & 0x80;
    if (row)
        Telesignals.setCell(row, input, state ? one : zero);
    line += state ? QStringLiteral(" Значение = 1 ") : QStringLiteral(" Значение = 0 ");
    if (r3 & 0x20) {
        // Double point: the second input is the next one; input 32 has none in the table.
        const bool second = r3 & 0x40;
        if (row && input < 32)
            Telesignals.setCell(row, input + 1, second ? one : zero);
        line += second ? QStringLiteral("ДБ=1 ") : QStringLiteral("ДБ=0 ");
    }
    Events.Append(line);
    emit eventAdded(line);
    emit eventReceived(rec.address, input, state, r3 & 0x20 ? int(bool(r3 & 0x40)) : -1,
                       byteorder::le32(rec.data.data()), byteorder::le16(rec.data.data() + 4));
}

void LiveTables::ClearStates()
{
    Telesignals.clearCells(1, Blocks, 1, 32);
}

void LiveTables::ClearEvents()
{
    Events.Clear();
    emit eventsCleared();
}

TPacket LiveTables::ArchiveRequest() const
{
    return packet::Request(packet::FunctionTs, packet::RequestFlags, 0x00,
                           uint8_t((ArchivePos + 1) & 0x1F), {0x00});
}

TPacket LiveTables::CounterPreset(qint32 adr, qint32 num, qint32 val)
{
    uint8_t data[6] = {uint8_t(num), 0x00};
    byteorder::putLe32(data + 2, uint32_t(val));
    return packet::Request(packet::FunctionTs | packet::ConfigBit, packet::RequestFlags,
                           uint8_t(adr), SubCounterPreset, std::span<const uint8_t>(data));
}

LiveTables::PresetFields LiveTables::PresetFieldsAt(int row, int col)
{
    return {(row - 1) / 2, ((row - 1) % 2) * 16 + ((col - 1) % 16)};
}
