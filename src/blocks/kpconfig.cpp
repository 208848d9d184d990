// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/kpconfig.h"

#include "support/bytespan.h"
#include "support/errortext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kpconfig
{

namespace
{

// JSON with its keys in the order they are written, one value to a line.
class JsonWriter
{
public:
    QByteArray text;

    void Open(const QString& key, char bracket)
    {
        Key(key);
        text += bracket;
        first_.append(true);
    }
    void Close(char bracket)
    {
        const bool empty = first_.takeLast();
        if (!empty)
            Newline();
        text += bracket;
    }
    void Value(const QString& key, const QJsonValue& value)
    {
        Key(key);
        text += JsonOf(value);
    }

private:
    void Key(const QString& key)
    {
        if (!first_.isEmpty()) {
            if (!first_.last())
                text += ',';
            first_.last() = false;
            Newline();
        }
        if (!key.isNull())
            text += JsonOf(key) + ": ";
    }
    void Newline()
    {
        text += '\n';
        text += QByteArray(4 * first_.size(), ' ');
    }
    QList<bool> first_; // per open level: nothing written in it yet
};

QJsonValue Integer(const QString& text)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    return ok ? QJsonValue(v) : QJsonValue();
}

void WriteAdapter(JsonWriter& w, const LinkSettings& s)
{
    w.Open(QStringLiteral("adapter"), '{');
    w.Value(QStringLiteral("computer"), s.BaseIP);
    w.Value(QStringLiteral("adapter"), s.BaseIPadapter);
    w.Value(QStringLiteral("mac"), s.BaseMacAdapter);
    w.Value(QStringLiteral("mask"), s.BaseMask);
    w.Value(QStringLiteral("gateway"), s.BaseGW);
    w.Value(QStringLiteral("port_config"), s.BasePortC);
    w.Value(QStringLiteral("port_data"), s.BasePortD);
    w.Value(QStringLiteral("km4"), s.Km4Cfg);
    w.Close('}');
}

void WriteValues(JsonWriter& w, const Block& b)
{
    const QList<params::Field>& fields = params::Fields(b.ref.function());
    const QStringList headers = params::RowHeadersOf(b.ref.function(), ByteSpan(b.record));
    w.Open(QStringLiteral("values"), '{');
    for (qsizetype i = 0; i < fields.size(); ++i)
        w.Value(fields[i].key,
                i < b.values.size() && b.values[i] ? QJsonValue(*b.values[i]) : QJsonValue());
    w.Close('}');
    w.Open(QStringLiteral("names"), '{');
    for (const params::Field& f : fields)
        w.Value(f.key, params::FieldName(headers, f));
    w.Close('}');
}

void WriteBlock(JsonWriter& w, const Block& b)
{
    w.Open(QString(), '{');
    w.Value(QStringLiteral("block"), blocks::RefText(b.ref));
    w.Value(QStringLiteral("version"), b.version);
    w.Value(QStringLiteral("record"), QString::fromLatin1(b.record.toHex()));
    WriteValues(w, b);
    if (b.calibration) {
        w.Open(QStringLiteral("calibration"), '{');
        w.Value(QStringLiteral("zero"), Integer(b.calibration->shown.zero));
        w.Value(QStringLiteral("max"), Integer(b.calibration->shown.maximum));
        w.Value(QStringLiteral("min"), Integer(b.calibration->shown.minimum));
        w.Value(QStringLiteral("zone"), Integer(b.calibration->shown.zone));
        w.Value(QStringLiteral("raw"), QString::fromLatin1(b.calibration->raw.toHex()));
        w.Close('}');
    }
    if (b.interlock) {
        w.Open(QStringLiteral("interlock"), '[');
        for (const QString& line : *b.interlock)
            w.Value(QString(), line);
        w.Close(']');
    }
    w.Close('}');
}

} // namespace

QByteArray JsonOf(const QJsonValue& value)
{
    // One value alone: its JSON text is that of an array of it, without the brackets.
    const QByteArray one = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return one.mid(1, one.size() - 2);
}

QByteArray Write(const File& file)
{
    JsonWriter w;
    w.Open(QString(), '{');
    w.Value(QStringLiteral("format"), Format);
    w.Value(QStringLiteral("saved"), file.saved);
    w.Value(QStringLiteral("program"), file.program);
    WriteAdapter(w, file.adapter);
    w.Open(QStringLiteral("blocks"), '[');
    for (const Block& b : file.blocks)
        WriteBlock(w, b);
    w.Close(']');
    w.Close('}');
    return w.text + '\n';
}

QByteArray RecordToWrite(const Block& block)
{
    QByteArray record = block.record;
    params::Encode(block.ref.function(), block.values, WritableByteSpan(record));
    return record;
}

params::Values ValuesAfterWrite(const Block& block)
{
    const QByteArray record = RecordToWrite(block);
    return params::Decode(block.ref.function(), ByteSpan(record));
}

std::optional<calib::Record> CalibrationToWrite(const Calibration& c, QString* error)
{
    if (c.raw.size() == calib::RecordSize) {
        if (calib::Decode(c.raw) == c.shown) {
            calib::Record record;
            std::copy_n(ByteSpan(c.raw).begin(), calib::RecordSize, record.begin());
            return record;
        }
    }
    return calib::Encode(c.shown, error);
}

} // namespace kpconfig
