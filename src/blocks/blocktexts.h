// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the block operations tell the engineer after a missing reply, and the captions that name
// the step that was not answered. One place, so every operation says it alike.

#include <QString>

namespace blocktext
{
inline const QString NoAnswer = QStringLiteral("Нет ответа от блока!");                  // reads
inline const QString NoAnswerRepeat = QStringLiteral("Нет ответа от блока! Повторите!"); // writes

inline const QString ReadVersion = QStringLiteral("Считывание версии");
inline const QString ReadDiagnostics = QStringLiteral("Считывание Диагностики");
inline const QString Read = QStringLiteral("Считывание");
inline const QString WriteConfiguration = QStringLiteral("Запись конфигурации");
inline const QString Prepare = QStringLiteral("Подготовка");
inline const QString SetPointer = QStringLiteral("Установка адреса");
inline const QString Erase = QStringLiteral("Стирание");
inline const QString Transfer = QStringLiteral("Передача кода");
} // namespace blocktext
