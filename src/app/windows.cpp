// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows.h"

#include "app/tform1.h"
#include "blocks/blockspage.h"
#include "blocks/ttxtblk.h"
#include "fielddata/trendwindow.h"
#include "fielddata/ttiival.h"
#include "testbench/benchsettings.h"
#include "testbench/ttestconf.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

AppWindows::AppWindows() = default;
AppWindows::AppWindows(AppWindows&&) noexcept = default;
AppWindows::~AppWindows() = default;

AppWindows CreateWindows(const QStringList& args, QSettings* store)
{
    AppWindows w;
    w.Form1 = std::make_unique<TForm1>(args, store);
    w.TiiVal = std::make_unique<TTiiVal>();
    w.Testconf = std::make_unique<TTestconf>(w.Form1->Core.Test, w.Form1->Core.Bench,
                                             w.Form1->Core.Editor, benchsettings::OpenStore(store));
    w.TxtBLK = std::make_unique<TTxtBLK>();
    w.Form7 = std::make_unique<QWidget>();
    w.Form7->setObjectName(QStringLiteral("TForm7"));
    w.Trend = std::make_unique<TrendWindow>(w.Form1->Core.Trends);

    TForm1* main = w.Form1.get();
    TTiiVal* preset = w.TiiVal.get();
    TTestconf* bench = w.Testconf.get();
    preset->requests = &main->Core.Requests;
    QObject::connect(main, &TForm1::counterPresetRequested, preset, &TTiiVal::OpenForCell);
    QObject::connect(main, &TForm1::trendRequested, w.Trend.get(), &TrendWindow::ShowCurves);
    w.TxtBLK->Attach(main->Core.Interlock, main->Core.Editor, *main->TabSheet9);
    QObject::connect(bench, &TTestconf::waitPanelRequested, main, &TForm1::ShowWaitPanel);
    QObject::connect(main, &TForm1::testWindowRequested, bench, [bench] {
        bench->show();
        bench->raise();
    });
    return w;
}

bool InstallQtTranslations()
{
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void SetApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Brantell"));
    QCoreApplication::setApplicationName(QStringLiteral("TavenaConfig"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Тавена конфигуратор"));
}
