// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a configuration file: everything is checked before anything could be sent, and what
// does not do is named with its place in the file.

#include "blocks/kpconfig.h"

#include "support/errortext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kpconfig
{

namespace
{

// The line and column of a byte offset in the text.
QString LineAndColumn(const QByteArray& text, qsizetype offset)
{
    const QByteArray before = text.left(offset);
    const qsizetype line = before.count('\n') + 1;
    const qsizetype column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return QStringLiteral("строка %1, столбец %2").arg(line).arg(column);
}

// What is wrong and where; nothing.
template <typename T>
std::optional<T> Fail(QString* error, const QString& place, const QString& what)
{
    if (error)
        *error = place.isEmpty() ? what : place + QStringLiteral(": ") + what;
    return std::nullopt;
}

std::optional<QByteArray> Hex(const QJsonValue& v, int size)
{
    const QByteArray text = v.toString().toLatin1();
    if (!v.isString() || text.size() != 2 * size ||
        !std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(uchar(c)); }))
        return std::nullopt;
    return QByteArray::fromHex(text);
}

// A whole number of a JSON value, or nothing.
std::optional<qint64> Whole(const QJsonValue& v)
{
    if (!v.isDouble() || v.toDouble() != double(v.toInteger()))
        return std::nullopt;
    return v.toInteger();
}

std::optional<params::Values> ReadValues(const QJsonValue& json, const blocks::Ref& ref,
                                         const QString& place, QString* error)
{
    const QList<params::Field>& fields = params::Fields(ref.function());
    params::Values values(fields.size());
    if (json.isUndefined())
        return values;
    if (!json.isObject())
        return Fail<params::Values>(error, place, QStringLiteral("ожидается объект"));
    const QJsonObject object = json.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const auto f = std::find_if(fields.begin(), fields.end(),
                                    [&](const params::Field& x) { return x.key == it.key(); });
        const QString at = place + QLatin1Char('.') + it.key();
        if (f == fields.end())
            return Fail<params::Values>(
                error, at,
                QStringLiteral("у блоков %1 нет такого параметра").arg(blocks::TypeName(ref.slot)));
        if (it.value().isNull())
            continue; // the record's bytes stand
        const auto v = Whole(it.value());
        if (!v || !params::InRange(*f, *v))
            return Fail<params::Values>(error, at,
                                        QStringLiteral("значение %1 вне допустимого для поля")
                                            .arg(QString::fromUtf8(JsonOf(it.value()))));
        values[f - fields.begin()] = *v;
    }
    return values;
}

std::optional<Calibration> ReadCalibration(const QJsonValue& json, const QString& place,
                                           QString* error)
{
    const QJsonObject o = json.toObject();
    Calibration c;
    const std::pair<const char*, QString*> fields[] = {{"zero", &c.shown.zero},
                                                       {"max", &c.shown.maximum},
                                                       {"min", &c.shown.minimum},
                                                       {"zone", &c.shown.zone}};
    for (const auto& [key, text] : fields) {
        const QJsonValue v = o.value(QLatin1String(key));
        const auto n = Whole(v);
        if (!v.isNull() && !n)
            return Fail<Calibration>(error, place + QLatin1Char('.') + QLatin1String(key),
                                     QStringLiteral("ожидается целое число"));
        *text = n ? QString::number(*n) : calib::RawZeroText();
    }
    const auto raw = Hex(o.value(QStringLiteral("raw")), calib::RecordSize);
    if (!json.isObject() || !raw)
        return Fail<Calibration>(error, place + QStringLiteral(".raw"),
                                 QStringLiteral("ожидается запись из %1 байт в шестнадцатеричном "
                                                "виде")
                                     .arg(calib::RecordSize));
    c.raw = *raw;
    return c;
}

std::optional<QStringList> ReadInterlock(const QJsonValue& json, const QString& place,
                                         QString* error)
{
    QStringList lines;
    for (const QJsonValue& line : json.toArray()) {
        if (!line.isString())
            return Fail<QStringList>(error, place, QStringLiteral("ожидаются строки текста"));
        lines << line.toString();
    }
    if (!json.isArray())
        return Fail<QStringList>(error, place, QStringLiteral("ожидается массив строк"));
    return lines;
}

// The optional parts of a block: its calibration (ТИТ only) and interlock logic (ТУ only).
bool ReadParts(const QJsonObject& o, Block& b, const QString& place, QString* error)
{
    const auto part = [&](const char* key, int slot, const QString& what) {
        if (!o.contains(QLatin1String(key)) || b.ref.slot == slot)
            return true;
        Fail<bool>(error, place + QLatin1Char('.') + QLatin1String(key),
                   QStringLiteral("%1 есть только у блоков %2").arg(what, blocks::TypeName(slot)));
        return false;
    };
    if (!part("calibration", 2, QStringLiteral("калибровка")) ||
        !part("interlock", 3, QStringLiteral("логика блокировок")))
        return false;
    if (o.contains(QStringLiteral("calibration"))) {
        b.calibration = ReadCalibration(o.value(QStringLiteral("calibration")),
                                        place + QStringLiteral(".calibration"), error);
        if (!b.calibration)
            return false;
    }
    if (o.contains(QStringLiteral("interlock"))) {
        b.interlock = ReadInterlock(o.value(QStringLiteral("interlock")),
                                    place + QStringLiteral(".interlock"), error);
        if (!b.interlock)
            return false;
    }
    return true;
}

std::optional<Block> ReadBlock(const QJsonValue& json, int index, QString* error)
{
    QString place = QStringLiteral("blocks[%1]").arg(index);
    const QJsonObject o = json.toObject();
    const auto ref = blocks::ParseRef(o.value(QStringLiteral("block")).toString());
    if (!json.isObject() || !ref)
        return Fail<Block>(error, place + QStringLiteral(".block"),
                           QStringLiteral("ожидается блок вида ts:N, tit:N или tu:N"));
    place += QStringLiteral(" (%1)").arg(blocks::RefText(*ref));
    Block b;
    b.ref = *ref;
    b.version = o.value(QStringLiteral("version")).toString();
    const int size = params::RecordSize(ref->function());
    const auto record = Hex(o.value(QStringLiteral("record")), size);
    if (!record)
        return Fail<Block>(error, place + QStringLiteral(".record"),
                           QStringLiteral("ожидается запись параметров из %1 байт в "
                                          "шестнадцатеричном виде")
                               .arg(size));
    b.record = *record;
    const auto values = ReadValues(o.value(QStringLiteral("values")), *ref,
                                   place + QStringLiteral(".values"), error);
    if (!values || !ReadParts(o, b, place, error))
        return std::nullopt;
    b.values = *values;
    return b;
}

LinkSettings ReadAdapter(const QJsonObject& o)
{
    LinkSettings s;
    s.BaseIP = o.value(QStringLiteral("computer")).toString();
    s.BaseIPadapter = o.value(QStringLiteral("adapter")).toString();
    s.BaseMacAdapter = o.value(QStringLiteral("mac")).toString();
    s.BaseMask = o.value(QStringLiteral("mask")).toString(s.BaseMask);
    s.BaseGW = o.value(QStringLiteral("gateway")).toString();
    s.BasePortC = o.value(QStringLiteral("port_config")).toString(s.BasePortC);
    s.BasePortD = o.value(QStringLiteral("port_data")).toString(s.BasePortD);
    s.Km4Cfg = o.value(QStringLiteral("km4")).toInt(s.Km4Cfg);
    return s;
}

} // namespace

std::optional<File> Read(const QByteArray& text, QString* error)
{
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError)
        return Fail<File>(error, LineAndColumn(text, parse.offset), JsonErrorText(parse));
    const QJsonObject o = doc.object();
    if (!doc.isObject() || o.value(QStringLiteral("format")).toString() != Format)
        return Fail<File>(
            error, QStringLiteral("format"),
            QStringLiteral("это не файл конфигурации КП (ожидается формат «%1»)").arg(Format));
    File file;
    file.saved = o.value(QStringLiteral("saved")).toString();
    file.program = o.value(QStringLiteral("program")).toString();
    file.adapter = ReadAdapter(o.value(QStringLiteral("adapter")).toObject());
    const QJsonArray list = o.value(QStringLiteral("blocks")).toArray();
    if (!o.value(QStringLiteral("blocks")).isArray())
        return Fail<File>(error, QStringLiteral("blocks"), QStringLiteral("ожидается массив"));
    for (int i = 0; i < list.size(); ++i) {
        auto block = ReadBlock(list[i], i, error);
        if (!block)
            return std::nullopt;
        for (const Block& b : file.blocks)
            if (b.ref == block->ref)
                return Fail<File>(
                    error, QStringLiteral("blocks[%1]").arg(i),
                    QStringLiteral("блок %1 назван дважды").arg(blocks::RefText(b.ref)));
        file.blocks << *block;
    }
    return file;
}

} // namespace kpconfig
