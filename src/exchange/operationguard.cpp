// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/operationguard.h"

OperationGuard::Scope::~Scope()
{
    if (guard_)
        guard_->End();
}

OperationGuard::Scope OperationGuard::Begin(const QString& name)
{
    if (Busy()) {
        emit refused(RefusalText(current_));
        return Scope();
    }
    busy_ = true;
    current_ = name;
    emit busyChanged(true);
    return Scope(this);
}

void OperationGuard::End()
{
    busy_ = false;
    current_.clear();
    emit busyChanged(false);
}

QString OperationGuard::RefusalText(const QString& running)
{
    return QStringLiteral("Дождитесь завершения: идёт %1").arg(running);
}
