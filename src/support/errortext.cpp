// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/errortext.h"

#include <QFile>

QString FileErrorText(const QFileDevice& file)
{
    switch (file.error()) {
    case QFileDevice::NoError:
        return QStringLiteral("нет ошибки");
    case QFileDevice::OpenError: {
        const auto* f = qobject_cast<const QFile*>(&file);
        if (f && !f->fileName().isEmpty() && !QFile::exists(f->fileName()) &&
            !(f->openMode() & QIODevice::WriteOnly))
            return QStringLiteral("файла нет");
        return QStringLiteral("файл не открывается (нет прав или нет такого каталога)");
    }
    case QFileDevice::ReadError:
        return QStringLiteral("ошибка чтения");
    case QFileDevice::WriteError:
        return QStringLiteral("ошибка записи (нет места или нет прав)");
    case QFileDevice::ResourceError:
        return QStringLiteral("нет места на диске или не хватает ресурсов");
    case QFileDevice::PermissionsError:
        return QStringLiteral("нет прав");
    case QFileDevice::RenameError:
    case QFileDevice::CopyError:
        return QStringLiteral("файл не удалось сохранить на место (нет прав на каталог)");
    default:
        return QStringLiteral("ошибка файла (код %1)").arg(int(file.error()));
    }
}

QString SocketErrorText(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("адрес и порт уже заняты другой программой");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("нет прав (порты ниже 1024 требуют прав администратора)");
    case QAbstractSocket::SocketAddressNotAvailableError:
        return QStringLiteral("этого адреса нет у компьютера");
    case QAbstractSocket::SocketResourceError:
        return QStringLiteral("система не дала сокет (не хватает ресурсов)");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("сеть недоступна");
    case QAbstractSocket::DatagramTooLargeError:
        return QStringLiteral("датаграмма слишком велика");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("адрес не найден");
    case QAbstractSocket::UnsupportedSocketOperationError:
        return QStringLiteral("операция не поддерживается (нужен адрес IPv4)");
    default:
        return QStringLiteral("ошибка сети (код %1)").arg(int(error));
    }
}

QString HostLookupErrorText(QHostInfo::HostInfoError error)
{
    switch (error) {
    case QHostInfo::NoError:
        return QStringLiteral("нет адреса IPv4");
    case QHostInfo::HostNotFound:
        return QStringLiteral("такого имени нет");
    default:
        return QStringLiteral("служба имён не ответила");
    }
}

QString JsonErrorText(const QJsonParseError& error)
{
    QString what;
    switch (error.error) {
    case QJsonParseError::NoError:
        return QStringLiteral("нет ошибки");
    case QJsonParseError::UnterminatedObject:
        what = QStringLiteral("объект не закрыт «}»");
        break;
    case QJsonParseError::MissingNameSeparator:
        what = QStringLiteral("после имени нет «:»");
        break;
    case QJsonParseError::UnterminatedArray:
        what = QStringLiteral("массив не закрыт «]»");
        break;
    case QJsonParseError::MissingValueSeparator:
        what = QStringLiteral("между значениями нет «,»");
        break;
    case QJsonParseError::IllegalValue:
        what = QStringLiteral("недопустимое значение");
        break;
    case QJsonParseError::TerminationByNumber:
        what = QStringLiteral("текст оборван на числе");
        break;
    case QJsonParseError::IllegalNumber:
        what = QStringLiteral("недопустимое число");
        break;
    case QJsonParseError::IllegalEscapeSequence:
    case QJsonParseError::IllegalUTF8String:
    case QJsonParseError::UnterminatedString:
        what = QStringLiteral("недопустимая или незакрытая строка");
        break;
    case QJsonParseError::MissingObject:
        what = QStringLiteral("ожидается объект");
        break;
    case QJsonParseError::GarbageAtEnd:
        what = QStringLiteral("лишний текст после конца");
        break;
    default:
        what = QStringLiteral("текст не JSON");
        break;
    }
    return QStringLiteral("%1 (байт %2)").arg(what).arg(error.offset);
}
