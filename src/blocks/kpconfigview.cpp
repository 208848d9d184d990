// SPDX-License-Identifier: GPL-3.0-or-later
#include "blocks/kpconfigview.h"

#include "blocks/blockservice.h"
#include "blocks/blockspage.h"
#include "blocks/kpconfigdialog.h"
#include "support/errortext.h"
#include "tavenaversion.h"

#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QMenu>
#include <QSaveFile>

namespace
{
const QString FileFilter = QStringLiteral("Конфигурация КП (*.json)");

QList<blocks::Ref> OnBus(const BlockService& blocks)
{
    QList<blocks::Ref> found;
    for (int line = 0; line < blocks.bloks.count(); ++line)
        if (const auto b = blocks.BlockOfLine(line))
            found << *b;
    return found;
}
} // namespace

KpConfigView::KpConfigView(kpconfig::Service& service, const LinkSettings& adapter,
                           BlocksPage& page)
    : QObject(&page), service_(service), adapter_(adapter), page_(page)
{
    PopupMenu3 = new QMenu(&page);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
    SaveKpConfig = PopupMenu3->addAction(QStringLiteral("Сохранить конфигурацию КП…"));
    SaveKpConfig->setObjectName(QStringLiteral("SaveKpConfig"));
    CompareKpConfig = PopupMenu3->addAction(QStringLiteral("Сравнить с файлом…"));
    CompareKpConfig->setObjectName(QStringLiteral("CompareKpConfig"));
    RestoreKpConfig = PopupMenu3->addAction(QStringLiteral("Восстановить из файла…"));
    RestoreKpConfig->setObjectName(QStringLiteral("RestoreKpConfig"));
    // A right click, or the keyboard's menu key, on the list.
    page.bloks->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(page.bloks, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu3->popup(page_.bloks->viewport()->mapToGlobal(pos));
    });
    connect(SaveKpConfig, &QAction::triggered, this, &KpConfigView::SaveKpConfigClick);
    connect(CompareKpConfig, &QAction::triggered, this, &KpConfigView::CompareKpConfigClick);
    connect(RestoreKpConfig, &QAction::triggered, this, &KpConfigView::RestoreKpConfigClick);

    SaveDialog = [this] {
        return QFileDialog::getSaveFileName(&page_, SaveKpConfig->text(),
                                            QStringLiteral("kp-config.json"), FileFilter);
    };
    OpenDialog = [this] {
        return QFileDialog::getOpenFileName(&page_, QStringLiteral("Файл конфигурации КП"),
                                            QString(), FileFilter);
    };
    RunDialog = [](KpConfigDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
}

void KpConfigView::Tell(const QString& caption, const QString& text)
{
    page_.Service().Operator().Tell(caption, text);
}

void KpConfigView::SaveKpConfigClick()
{
    const QString path = SaveDialog();
    if (path.isEmpty())
        return;
    const auto file =
        service_.Backup(adapter_, QStringLiteral("tavena-configurator " TAVENA_VERSION_TEXT));
    if (!file)
        return; // told already, or refused in the status bar
    QSaveFile save(path);
    const QByteArray text = kpconfig::Write(*file);
    if (!save.open(QIODevice::WriteOnly) || save.write(text) != text.size() || !save.commit())
        return Tell(QStringLiteral("Запись файла"),
                    QStringLiteral("Файл «%1» не записан: %2").arg(path, FileErrorText(save)));
    Tell(SaveKpConfig->text().chopped(1),
         QStringLiteral("Конфигурация КП сохранена в «%1»: блоков %2.")
             .arg(path)
             .arg(file->blocks.size()));
}

std::optional<kpconfig::File> KpConfigView::Open()
{
    const QString path = OpenDialog();
    if (path.isEmpty())
        return std::nullopt;
    QFile f(path);
    QString error;
    std::optional<kpconfig::File> file;
    if (!f.open(QIODevice::ReadOnly))
        error = FileErrorText(f);
    else
        file = kpconfig::Read(f.readAll(), &error);
    if (!file)
        Tell(QStringLiteral("Чтение файла"), QStringLiteral("Файл «%1»: %2").arg(path, error));
    return file;
}

struct KpConfigView::Compared {
    kpconfig::File file;
    QList<kpconfig::Difference> differences;
};

std::optional<KpConfigView::Compared> KpConfigView::OpenAndCompare()
{
    auto file = Open();
    auto differences = file ? service_.Compare(*file) : std::nullopt;
    if (!differences)
        return std::nullopt;
    return Compared{std::move(*file), std::move(*differences)};
}

void KpConfigView::CompareKpConfigClick()
{
    if (const auto c = OpenAndCompare()) {
        KpConfigDialog dialog(c->file, c->differences, {}, false, &page_);
        RunDialog(dialog);
    }
}

void KpConfigView::RestoreKpConfigClick()
{
    // The compare is the discovery the restore writes on.
    const auto c = OpenAndCompare();
    if (!c)
        return;
    const auto& file = c->file;
    KpConfigDialog dialog(file, c->differences, OnBus(page_.Service()), true, &page_);
    if (!RunDialog(dialog))
        return;
    const kpconfig::RestoreOptions options = dialog.Options();
    if (options.blocks.isEmpty())
        return Tell(RestoreKpConfig->text().chopped(1),
                    QStringLiteral("Не отмечено ни одного блока: ничего не записано."));
    const auto result = service_.Restore(file, options);
    if (!result)
        return;
    QString text = QStringLiteral("Записаны: %1.").arg(blocks::RefListText(result->written));
    if (!result->missing.isEmpty())
        text += QStringLiteral("\nНет на шине: %1.").arg(blocks::RefListText(result->missing));
    if (!result->differ.isEmpty())
        text += QStringLiteral("\nХранят не то, что записано: %1.")
                    .arg(blocks::RefListText(result->differ));
    Tell(RestoreKpConfig->text().chopped(1), text);
}
