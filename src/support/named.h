// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A widget or action as windows build it: with its object name and, for a widget that no label
// names, the name a screen reader says.

#include <QString>

template <typename W> W* named(W* widget, const char* name, const QString& accessible = {})
{
    widget->setObjectName(QLatin1String(name));
    if constexpr (requires { widget->setAccessibleName(accessible); })
        if (!accessible.isEmpty())
            widget->setAccessibleName(accessible);
    return widget;
}
