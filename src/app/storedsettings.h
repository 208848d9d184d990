// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The per-user settings of the configurator: the addresses, ports and timeout of the
// "Базовые настройки" tab, the measurement unit, the pane heights and the KM4 mode, with the
// main window's state and position. Values that do not read back sensibly give the initial
// values, so a damaged store never stops the program.

#include <QByteArray>
#include <QString>
#include <optional>

class QSettings;

struct StoredSettings {
    QString BaseGW;
    QString BaseIP;
    QString BaseMask = QStringLiteral("255.255.255.0");
    QString BasePortC = QStringLiteral("971");
    QString BasePortD = QStringLiteral("972");
    QString BaseIPadapter;
    QString BaseMacAdapter;
    bool N1 = false; // "Напряжение (V)"
    bool N2 = false; // "Ток (мА)"
    bool N3 = true;  // "Кванты"
    QString LabeledEdit1 = QStringLiteral("100");
    std::optional<int> gbTSHeight; // kept as read until the pane exists
    std::optional<int> gbTITHeight;
    int Km4CfgItemIndex = 0;
    QByteArray WindowGeometry;
    int WindowState = 0;

    void Load(QSettings& store);
    void Save(QSettings& store) const;
};

// The program's own store: organisation "Brantell", application "TavenaConfig".
QSettings* OpenSettingsStore();
