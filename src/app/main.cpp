// SPDX-License-Identifier: GPL-3.0-or-later
// The КП Тавена configurator: start-up.

#include "app/tform1.h"
#include "app/windows.h"
#include "tavenaversion.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    // Answered before Qt starts, so that it needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("tavena-configurator " TAVENA_VERSION_TEXT "\n", stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    SetApplicationIdentity();
    if (!InstallQtTranslations())
        qWarning("%s", qUtf8Printable(QStringLiteral(
                           "Переводы Qt (пакет qt6-translations-l10n) не установлены: кнопки и "
                           "диалоги Qt будут на английском")));
    // Ties the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TAVENA_APP_ID));
    // The program runs until the main window closes, whatever other windows are open.
    QApplication::setQuitOnLastWindowClosed(false);
    AppWindows windows = CreateWindows(QCoreApplication::arguments().mid(1));
    QObject::connect(windows.Form1.get(), &TForm1::closed, &app, &QCoreApplication::quit);
    windows.Form1->show();
    return app.exec();
}
