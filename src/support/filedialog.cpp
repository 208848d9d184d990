// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/filedialog.h"

#include <QFileDialog>

namespace
{
filedialog::SavePresenter savePresenter;
}

namespace filedialog
{

QString SaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                     const QString& filter)
{
    if (savePresenter)
        return savePresenter(parent, caption, proposed, filter);
    return QFileDialog::getSaveFileName(parent, caption, proposed, filter);
}

void SetSavePresenter(SavePresenter presenter)
{
    savePresenter = std::move(presenter);
}

} // namespace filedialog
