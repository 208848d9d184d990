// The КП Тавена configurator: start-up.

#include "app/tform1.h"
#include "app/windows.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetApplicationIdentity();
    AppWindows windows = CreateWindows(QCoreApplication::arguments().mid(1));
    windows.Form1->show();
    return app.exec();
}
