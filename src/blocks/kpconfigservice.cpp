// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/kpconfigservice.h"

#include "blocks/blockservice.h"
#include "blocks/interlock.h"
#include "support/atexit.h"
#include "support/bytespan.h"
#include "support/convert.h"
#include "support/eventwait.h"
#include "support/operatorio.h"

#include <QDateTime>

namespace kpconfig
{

namespace
{

blocks::Ref Target(const Mapping& map, blocks::Ref fileBlock)
{
    for (const auto& [from, to] : map)
        if (from == fileBlock)
            return to;
    return fileBlock;
}

QString ValueText(const std::optional<qint64>& v)
{
    return v ? QString::number(*v) : QStringLiteral("—");
}

// Where two lists of interlock lines part, as the two texts to show.
std::pair<QString, QString> FirstDifference(const QStringList& a, const QStringList& b)
{
    qsizetype i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    const auto at = [i](const QStringList& lines) {
        return i < lines.size() ? QStringLiteral("строка %1: «%2»").arg(i + 1).arg(lines[i])
                                : QStringLiteral("%1 строк").arg(lines.size());
    };
    return {at(a), at(b)};
}

void CalibrationDifferences(const Block& f, const Block& bus, QList<Difference>& out)
{
    if (!f.calibration || !bus.calibration)
        return;
    const calib::Texts& a = f.calibration->shown;
    const calib::Texts& b = bus.calibration->shown;
    const std::tuple<const char*, QString, QString, QString> fields[] = {
        {"zero", QStringLiteral("Значение \"Нуля\""), a.zero, b.zero},
        {"max", QStringLiteral("Значение Максимума"), a.maximum, b.maximum},
        {"min", QStringLiteral("Значение Минимума"), a.minimum, b.minimum},
        {"zone", QStringLiteral("Зона \"Нуля\""), a.zone, b.zone}};
    for (const auto& [key, name, inFile, inBlock] : fields)
        if (inFile != inBlock)
            out.append({f.ref, QStringLiteral("calibration.") + QLatin1String(key), name, inFile,
                        inBlock});
    // The same values shown, other bits behind them: a factory record differs from a typed one.
    if (a == b && f.calibration->raw.left(12) != bus.calibration->raw.left(12))
        out.append({f.ref, QStringLiteral("calibration.raw"), QStringLiteral("Калибровка (коды)"),
                    QString::fromLatin1(f.calibration->raw.left(12).toHex()),
                    QString::fromLatin1(bus.calibration->raw.left(12).toHex())});
}

} // namespace

Service::Service(LinkCore& link, BlockService& blocks, AdcCalibration& calibration,
                 InterlockTransfer& interlock, QObject* parent)
    : QObject(parent), link_(link), blocks_(blocks), calibration_(calibration),
      interlock_(interlock)
{
}

bool Service::ReadParts(Block& block, bool calibration, bool interlock)
{
    if (calibration) {
        const auto raw = calibration_.Read(block.ref, calib::RecordSize);
        if (!raw)
            return false;
        block.calibration = Calibration{calib::Decode(*raw), *raw};
    }
    if (interlock) {
        bool closed = false;
        block.interlock = interlock_.Read(block.ref, &closed, false);
        if (!block.interlock)
            return false;
        if (!closed)
            blocks_.Operator().Tell(QStringLiteral("Логика блокировок"),
                                    QStringLiteral("Логика блокировок блока %1 без завершающей "
                                                   "строки «@»: взято прочитанное, %2 строк.")
                                        .arg(blocks::RefText(block.ref))
                                        .arg(block.interlock->size()));
    }
    return true;
}

std::optional<File> Service::Backup(const LinkSettings& adapter, const QString& program)
{
    if (!blocks_.Discover(BlockService::Scope::Announced))
        return std::nullopt;
    File file{QDateTime::currentDateTime().toString(Qt::ISODate), program, adapter, {}};
    for (int slot = 1; slot <= blocks::Slots; ++slot)
        for (int address = 0; address < blocks::Addresses; ++address) {
            const blocks::Ref ref{slot, address};
            if (blocks_.LineOf(ref) < 0)
                continue;
            const auto record = blocks_.RecordOf(ref);
            if (!record) {
                blocks_.Operator().Tell(QStringLiteral("Сохранить конфигурацию КП"),
                                        QStringLiteral("Параметры блока %1 прочитаны не "
                                                       "полностью: конфигурация не сохранена.")
                                            .arg(blocks::RefText(ref)));
                return std::nullopt;
            }
            Block b{ref, blocks_.VersionOf(ref).mid(1), *record, *blocks_.ValuesOf(ref), {}, {}};
            if (!ReadParts(b, slot == 2,
                           params::InInterlockMode(b.ref.function(), ByteSpan(b.record))))
                return std::nullopt;
            file.blocks << b;
        }
    return file;
}

QList<Difference> Service::BlockDifferences(const Block& f, const Block& bus) const
{
    QList<Difference> out;
    if (f.version != bus.version)
        out.append(
            {f.ref, QStringLiteral("version"), QStringLiteral("Версия"), f.version, bus.version});
    const params::Values want = ValuesAfterWrite(f);
    const QList<params::Field>& fields = params::Fields(f.ref.function());
    const QByteArray record = RecordToWrite(f);
    const QStringList headers = params::RowHeadersOf(f.ref.function(), ByteSpan(record));
    for (qsizetype i = 0; i < fields.size() && i < want.size() && i < bus.values.size(); ++i)
        if (want[i] != bus.values[i])
            out.append({f.ref, fields[i].key, params::FieldName(headers, fields[i]),
                        ValueText(want[i]), ValueText(bus.values[i])});
    CalibrationDifferences(f, bus, out);
    if (f.interlock && bus.interlock && *f.interlock != *bus.interlock) {
        const auto [inFile, inBlock] = FirstDifference(*f.interlock, *bus.interlock);
        out.append({f.ref, QStringLiteral("interlock"), QStringLiteral("Логика блокировок"), inFile,
                    inBlock});
    }
    return out;
}

std::optional<QList<Difference>> Service::Compare(const File& file, const Mapping& map)
{
    return CompareBlocks(file, map, true);
}

std::optional<QList<Difference>> Service::CompareBlocks(const File& file, const Mapping& map,
                                                        bool others)
{
    if (!blocks_.Discover(BlockService::Scope::Announced))
        return std::nullopt;
    QList<Difference> out;
    QList<blocks::Ref> seen;
    for (const Block& f : file.blocks) {
        const blocks::Ref target = Target(map, f.ref);
        const auto record = blocks_.RecordOf(target);
        if (blocks_.LineOf(target) < 0 || !record) {
            out.append({f.ref, QStringLiteral("block"), QStringLiteral("Блок"),
                        QStringLiteral("есть"),
                        blocks_.LineOf(target) < 0 ? QStringLiteral("нет на шине")
                                                   : QStringLiteral("прочитан не полностью")});
            continue;
        }
        seen << target;
        Block bus{target, blocks_.VersionOf(target).mid(1), *record, *blocks_.ValuesOf(target), {},
                  {}};
        if (!ReadParts(bus, f.calibration.has_value(), f.interlock.has_value()))
            return std::nullopt;
        bus.ref = f.ref;
        out += BlockDifferences(f, bus);
    }
    for (int slot = 1; slot <= blocks::Slots && others; ++slot)
        for (int address = 0; address < blocks::Addresses; ++address) {
            const blocks::Ref ref{slot, address};
            if (blocks_.LineOf(ref) >= 0 && !seen.contains(ref))
                out.append({ref, QStringLiteral("block"), QStringLiteral("Блок"),
                            QStringLiteral("нет"), blocks_.VersionOf(ref).mid(1)});
        }
    return out;
}

std::optional<QString> Service::MappingProblem(const File& file, const RestoreOptions& options)
{
    QList<blocks::Ref> targets;
    for (const auto& pair : options.map) {
        const auto& [from, to] = pair;
        if (std::none_of(file.blocks.begin(), file.blocks.end(),
                         [&pair](const Block& b) { return b.ref == pair.first; }))
            return QStringLiteral("Блока %1 нет в файле.").arg(blocks::RefText(from));
        if (from.slot != to.slot)
            return QStringLiteral("Блок %1 из файла нельзя записать в блок %2: это блок другого "
                                  "типа.")
                .arg(blocks::RefText(from), blocks::RefText(to));
    }
    for (const Block& b : file.blocks) {
        if (!options.blocks.isEmpty() && !options.blocks.contains(b.ref))
            continue;
        const blocks::Ref to = Target(options.map, b.ref);
        if (targets.contains(to))
            return QStringLiteral("В блок %1 назначено записать два блока файла.")
                .arg(blocks::RefText(to));
        targets << to;
    }
    for (const blocks::Ref& b : options.blocks)
        if (std::none_of(file.blocks.begin(), file.blocks.end(),
                         [b](const Block& x) { return x.ref == b; }))
            return QStringLiteral("Блока %1 нет в файле.").arg(blocks::RefText(b));
    return std::nullopt;
}

bool Service::Write(const Block& block, blocks::Ref target, const RestoreOptions& options)
{
    OperatorIo& op = blocks_.Operator();
    if (options.parameters) {
        const auto operation =
            link_.Operations.Begin(QStringLiteral("восстановление конфигурации"));
        if (!operation)
            return false;
        const QByteArray record = RecordToWrite(block);
        if (blocks_.WriteRecord(op, target.function(), uint8_t(target.address), ByteSpan(record)) !=
            Reply::Answered)
            return false;
    }
    if (options.calibration && block.calibration) {
        QString error;
        const auto record = CalibrationToWrite(*block.calibration, &error);
        if (!record) {
            op.Tell(InputErrorCaption, error);
            return false;
        }
        if (!calibration_.WriteRecord(target, *record))
            return false;
    }
    if (options.interlock && block.interlock &&
        interlock_.Write(target, *block.interlock) == InterlockTransfer::Written::Failed)
        return false;
    return true;
}

std::optional<RestoreResult> Service::Restore(const File& file, const RestoreOptions& options)
{
    if (const auto problem = MappingProblem(file, options)) {
        blocks_.Operator().Tell(QStringLiteral("Восстановить из файла"), *problem);
        return std::nullopt;
    }
    OperatorIo& op = blocks_.Operator();
    op.Busy(true);
    AtExit hide{[&op] { op.Busy(false); }};
    RestoreResult result;
    File written = file;
    written.blocks.clear();
    for (Block b : file.blocks) {
        if (!options.blocks.isEmpty() && !options.blocks.contains(b.ref))
            continue;
        const blocks::Ref target = Target(options.map, b.ref);
        if (blocks_.LineOf(target) < 0) {
            result.missing << b.ref;
            continue;
        }
        if (!Write(b, target, options))
            return std::nullopt;
        result.written << target;
        // What is read back and compared: what was written.
        if (!options.calibration)
            b.calibration.reset();
        if (!options.interlock)
            b.interlock.reset();
        written.blocks << b;
    }
    const auto differences = CompareBlocks(written, options.map, false);
    if (!differences)
        return std::nullopt;
    for (const Difference& d : *differences) {
        const blocks::Ref target = Target(options.map, d.block);
        const bool parameter = !d.key.contains(u'.') && d.key != QLatin1String("interlock") &&
                               d.key != QLatin1String("block");
        if (d.key == QLatin1String("version") || !result.written.contains(target) ||
            (parameter && !options.parameters))
            continue; // not written, or a block the file does not name
        result.differences << d;
        if (!result.differ.contains(target))
            result.differ << target;
    }
    return result;
}

} // namespace kpconfig
