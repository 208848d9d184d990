// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The six settings of the module test window (the bench configuration edits) and the window's
// own settings file, which the window and tavena-cli read alike.

#include "testbench/runrecord.h"

#include <QList>

class QSettings;

namespace benchsettings
{

struct Edit {
    const char* name;    // the edit's objectName; its key in the file is name + ".Text"
    const char* caption; // the label beside it
    const char* initial; // the text before anything was typed
    bool tu;             // in the frame "Конфигурация ТУ"
};

// In the window's order: "Конфигурация ТС", then "Конфигурация ТУ".
extern const Edit Edits[6];

QString Key(const char* name);
// The caption a protocol gives it: "ТС: Фильтрация (мсек)".
QString ShownCaption(const Edit& e);

// The window's own settings file: organisation "Brantell", application "TavenaConfig-Testconf";
// or, given the main store, a file of that name beside it. The caller owns it.
QSettings* OpenStore(const QSettings* beside = nullptr);

// The six settings as the file holds them (the initial texts where it holds none).
QList<ShownSetting> Read(QSettings& store);

} // namespace benchsettings
