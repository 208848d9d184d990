// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/eventwait.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace
{
bool closingFlag = false;
}

namespace eventwait
{

bool Closing()
{
    return closingFlag;
}
void SetClosing(bool closing)
{
    closingFlag = closing;
}

void WaitWhile(const std::function<bool()>& keepWaiting)
{
    while (!closingFlag && keepWaiting())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace eventwait
