// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The configuration of a whole controlled point in one file: the adapter's settings and, for
// every block found, its version, its parameter record as read with the record's values and
// their names, a measurement block's calibration and a telecontrol block's interlock logic.
// UTF-8 JSON, its keys in a fixed order and one value to a line, so that it reads and diffs
// well in a text editor and in git.
//
// When a file is written into blocks, its values decide what is written; its record supplies
// the bytes the values do not cover.

#include "blocks/blocktypes.h"
#include "blocks/calibration.h"
#include "blocks/parameters.h"
#include "exchange/linksettings.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <optional>

namespace kpconfig
{

inline const QString Format = QStringLiteral("tavena-kp-config/1");

struct Calibration {
    calib::Texts shown; // zero, maximum, minimum, zone as the panel shows them
    QByteArray raw;     // the record's 24 bytes
};

struct Block {
    blocks::Ref ref;
    QString version;       // as discovery shows it, without its leading space
    QByteArray record;     // the parameter record (80, 24 or 200 bytes)
    params::Values values; // by the fields of the type; none: the record's bytes stand
    std::optional<Calibration> calibration;
    std::optional<QStringList> interlock; // the logic's lines as the window shows them
};

struct File {
    QString saved;   // when, ISO 8601 local time
    QString program; // which program and version saved it
    LinkSettings adapter;
    QList<Block> blocks;
};

// The file's text.
QByteArray Write(const File& file);
// A file's text read and checked whole: the format, every block, its record's length, every
// key its type has and every value in its field's range. Nothing, and in `error` what is wrong
// and where ("blocks[2] (tu:3), values.out3_hold: ..."), when the file does not do.
std::optional<File> Read(const QByteArray& text, QString* error);

// One JSON value alone as its text in the file: "5", "\"ts:0\"".
QByteArray JsonOf(const QJsonValue& value);

// The record to write into the block: the values over the record.
QByteArray RecordToWrite(const Block& block);
// The values the block holds once written: the record to write, read back.
params::Values ValuesAfterWrite(const Block& block);
// The calibration record to write: the raw bytes when the shown values are theirs (a factory
// record keeps every bit), otherwise the shown values converted. Nothing, and the message,
// when a shown value does not convert.
std::optional<calib::Record> CalibrationToWrite(const Calibration& calibration, QString* error);

} // namespace kpconfig
