// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/adapterconfig.h"

#include <QLibrary>

bool CallVelmarIPConfig(const QByteArray& mac, const QByteArray& adapterAddress, QString* error)
{
    QLibrary library(QStringLiteral("velmarcfgdll"));
    using ConfigFunction = int (*)(const char*, const char*);
    const auto function = reinterpret_cast<ConfigFunction>(library.resolve("VelmarIPConfig"));
    if (!function) {
        if (error)
            *error = QStringLiteral("Конфигуратор адаптера (библиотека velmarcfgdll) не установлен "
                                    "на этом компьютере.");
        return false;
    }
    function(mac.constData(), adapterAddress.constData()); // its result is not used
    return true;
}
