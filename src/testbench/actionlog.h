// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TestActions, the action log of the module test window: two columns, the time of day and the
// text of each entry, both cells in the entry's font colour. The log always keeps one empty
// row below the newest entry: an entry adds a row at the end and is written into the row above
// it. The log starts with five empty rows; clearing it leaves one.

#include <QAbstractTableModel>
#include <QList>
#include <QString>

class ActionLog : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The font colour of a row as 0xRRGGBB (unsigned int); no value for the default colour.
    static constexpr int ColourRole = Qt::UserRole + 1;
    enum Colour : unsigned { Red = 0xFF0000, Blue = 0x0000FF };
    static constexpr int InitialRows = 5;
    static constexpr int Columns = 2;

    explicit ActionLog(QObject* parent = nullptr);

    // An entry in a new row, below those before it.
    void Append(const QString& time, const QString& text, Colour colour);
    // The newest entry's text replaced and both its cells coloured; its time stays. Nothing
    // when the log holds no entry row.
    void ReplaceLast(const QString& text, Colour colour);
    // "Очистить лог": every cell emptied, one empty row left.
    void Clear();

    // Cell text by row and column (0: time, 1: text); empty outside the log.
    QString cell(int row, int col) const;
    // The row's colour, 0 when it has none.
    unsigned colour(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Row {
        QString time, text;
        unsigned colour = 0;
    };
    QList<Row> rows_;
};
