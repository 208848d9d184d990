// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/tracepage.h"

#include "exchange/capture.h"
#include "exchange/tracelog.h"
#include "support/filedialog.h"
#include "support/messagebox.h"

#include <QAction>
#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QListWidget>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>

namespace
{
// Shows the trace's cell colours as font colours.
class ColouredTrace : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::ForegroundRole) {
            const QVariant rgb = QIdentityProxyModel::data(index, TraceLog::ColourRole);
            return rgb.isValid() ? QVariant(QColor(QRgb(rgb.toUInt()))) : QVariant();
        }
        return QIdentityProxyModel::data(index, role);
    }
};
} // namespace

TracePage::TracePage(TraceLog& trace, CaptureRecorder& capture, QWidget* parent)
    : QWidget(parent), trace_(trace), capture_(capture), folder_(QDir::homePath())
{
    ListBox2 = new QListWidget(this);
    ListBox2->setObjectName(QStringLiteral("ListBox2"));
    ListBox2->setAccessibleName(QStringLiteral("Вспомогательный список трассировки"));
    ListBox2->setFont(QFont(QStringLiteral("Lucida Console")));
    ListBox2->setFixedHeight(9);

    TrassG = new QTableView(this);
    TrassG->setObjectName(QStringLiteral("TrassG"));
    TrassG->setAccessibleName(QStringLiteral("Трассировка обмена"));
    auto* coloured = new ColouredTrace(this);
    coloured->setSourceModel(&trace);
    TrassG->setModel(coloured);
    TrassG->verticalHeader()->hide();
    TrassG->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TrassG->verticalHeader()->setDefaultSectionSize(18);
    TrassG->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TrassG->setSelectionMode(QAbstractItemView::SingleSelection);
    TrassG->setWordWrap(false);
    TrassG->setColumnWidth(TraceLog::ColWho, 82);
    TrassG->setColumnWidth(TraceLog::ColNote, 128);
    TrassG->setColumnWidth(TraceLog::ColPacket, 515);

    Trassmenu = new QMenu(this);
    Trassmenu->setObjectName(QStringLiteral("Trassmenu"));
    Listen = Trassmenu->addAction(QStringLiteral("Прослушка"));
    Listen->setObjectName(QStringLiteral("Listen"));
    Listen->setCheckable(true);
    TrassWriteFile = Trassmenu->addAction(QStringLiteral("Запись в файл"));
    TrassWriteFile->setObjectName(QStringLiteral("TrassWriteFile"));
    TrassWriteFile->setCheckable(true);
    TrassClear = Trassmenu->addAction(QStringLiteral("Очистить"));
    TrassClear->setObjectName(QStringLiteral("TrassClear"));

    connect(Listen, &QAction::toggled, this, [this](bool on) { trace_.Listen = on; });
    connect(TrassClear, &QAction::triggered, this, &TracePage::TrassClearClick);
    connect(TrassWriteFile, &QAction::triggered, this, &TracePage::TrassWriteFileClick);
    connect(&capture_, &CaptureRecorder::recordingChanged, TrassWriteFile, &QAction::setChecked);
    connect(&capture_, &CaptureRecorder::failed, this, [this](const QString& message) {
        messagebox::Error(this, message, TrassWriteFile->text());
    });
    for (QWidget* w : {static_cast<QWidget*>(TrassG), static_cast<QWidget*>(ListBox2)}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& pos) { Trassmenu->popup(w->mapToGlobal(pos)); });
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ListBox2);
    layout->addWidget(TrassG, 1);
}

void TracePage::TrassClearClick()
{
    ListBox2->clear();
    ListBox2->addItem(QString());
}

void TracePage::TrassWriteFileClick(bool checked)
{
    if (!checked) {
        capture_.Stop();
        return;
    }
    const QString proposed =
        QDir(folder_).filePath(CaptureRecorder::ProposedName(QDateTime::currentDateTime()));
    const QString path =
        filedialog::SaveFileName(this, TrassWriteFile->text(), proposed,
                                 QStringLiteral("Запись обмена pcapng (*.pcapng);;Все файлы (*)"));
    if (!path.isEmpty()) {
        folder_ = QFileInfo(path).absolutePath();
        const QString error = capture_.Start(path);
        if (!error.isEmpty())
            messagebox::Error(this, error, TrassWriteFile->text());
    }
    TrassWriteFile->setChecked(capture_.Recording());
}
