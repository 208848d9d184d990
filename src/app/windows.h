// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's windows, created at start-up in a fixed order and kept until the process ends.

#include <QStringList>
#include <QWidget>
#include <memory>

class QSettings;
class TForm1;
class TTestconf;
class TTiiVal;
class TTxtBLK;
class TrendWindow;

struct AppWindows {
    std::unique_ptr<TForm1> Form1;
    std::unique_ptr<TTiiVal> TiiVal;
    std::unique_ptr<TTestconf> Testconf;
    std::unique_ptr<TTxtBLK> TxtBLK;
    std::unique_ptr<QWidget> Form7;     // empty auxiliary window
    std::unique_ptr<TrendWindow> Trend; // "Графики"

    AppWindows();
    AppWindows(AppWindows&&) noexcept;
    ~AppWindows();
};

// Creates TForm1, TTiiVal, TTestconf, TTxtBLK, TForm7 and the trend window, in this order. Only
// the main window is to be shown; the others are created hidden.
AppWindows CreateWindows(const QStringList& args, QSettings* store = nullptr);

// Application title and the settings store's organisation and application names.
void SetApplicationIdentity();
// Qt's own texts (the buttons of message boxes, the file dialogs) in Russian, as the program's;
// false when Qt's translations are not installed.
bool InstallQtTranslations();
