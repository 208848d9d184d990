// SPDX-License-Identifier: GPL-3.0-or-later
#include "testbench/testlog.h"

#include "support/errortext.h"

#include "support/cp1251.h"
#include "support/localtext.h"

#include <QFile>
#include <filesystem>
#include <system_error>

namespace testlog
{

QString FileName(const QDateTime& started)
{
    return QLatin1String(Directory) + QLatin1Char('/') +
           started.toString(QStringLiteral("dd-MM-yyyy HH-mm-ss")) + QStringLiteral(".log");
}

std::optional<QString> Create(const QDir& base, const QString& name, QString* error)
{
    const QString directory = base.absoluteFilePath(QLatin1String(Directory));
    std::error_code ec;
    // Reports an existing directory as success, and a file in its place as a failure.
    std::filesystem::create_directories(std::filesystem::path(directory.toStdString()), ec);
    if (ec || !QFileInfo(directory).isDir()) {
        if (error) {
            const QString reason =
                ec ? QString::fromStdString(ec.message()) : QStringLiteral("это не каталог");
            *error = QStringLiteral("Не удалось создать каталог журналов «%1»: %2. Проверка не "
                                    "начата.")
                         .arg(directory, reason);
        }
        return std::nullopt;
    }
    const QString path = base.absoluteFilePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = QStringLiteral("Не удалось создать файл журнала «%1»: %2. Проверка не "
                                    "начата.")
                         .arg(path, FileErrorText(file));
        return std::nullopt;
    }
    return path;
}

QString Line(const QTime& time, const QString& text)
{
    return LongTimeText(time) + QLatin1Char('\t') + text;
}

void AppendTestLog(const QString& file, const QString& text)
{
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    f.write(ToCp1251(text) + QByteArrayLiteral("\r\n"));
}

} // namespace testlog
