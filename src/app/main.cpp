// The КП Тавена configurator: start-up.

#include "app/tform1.h"
#include "app/windows.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetApplicationIdentity();
    // The program runs until the main window closes, whatever other windows are open.
    QApplication::setQuitOnLastWindowClosed(false);
    AppWindows windows = CreateWindows(QCoreApplication::arguments().mid(1));
    QObject::connect(windows.Form1.get(), &TForm1::closed, &app, &QCoreApplication::quit);
    windows.Form1->show();
    return app.exec();
}
