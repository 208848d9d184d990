// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The configuration file of the controlled point on the block tab: the context menu of the
// block list (also by the keyboard's menu key) with "Сохранить конфигурацию КП…", "Сравнить с
// файлом…" and "Восстановить из файла…". Each asks for the file and runs the core's operation;
// compare and restore show the differences in a dialog, where a restore is chosen.

#include <QObject>
#include <functional>

class BlocksPage;
class KpConfigDialog;
class QAction;
class QMenu;
struct LinkSettings;
namespace kpconfig
{
class Service;
struct File;
} // namespace kpconfig

class KpConfigView : public QObject
{
    Q_OBJECT
public:
    KpConfigView(kpconfig::Service& service, const LinkSettings& adapter, BlocksPage& page);

    QMenu* PopupMenu3;
    QAction* SaveKpConfig;    // "Сохранить конфигурацию КП…"
    QAction* CompareKpConfig; // "Сравнить с файлом…"
    QAction* RestoreKpConfig; // "Восстановить из файла…"

    // The file chosen to save to and to open; empty when cancelled. Tests put their own here.
    std::function<QString()> SaveDialog;
    std::function<QString()> OpenDialog;
    // Shows the dialog and tells whether the engineer asked for the restore. Tests answer
    // through the dialog's controls here.
    std::function<bool(KpConfigDialog&)> RunDialog;

    void SaveKpConfigClick();
    void CompareKpConfigClick();
    void RestoreKpConfigClick();

private:
    std::optional<kpconfig::File> Open();
    // A file chosen and read, and how the controlled point differs from it (a discovery).
    struct Compared;
    std::optional<Compared> OpenAndCompare();
    void Tell(const QString& caption, const QString& text);

    kpconfig::Service& service_;
    const LinkSettings& adapter_;
    BlocksPage& page_;
};
