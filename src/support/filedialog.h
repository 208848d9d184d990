// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File dialogs for the operator. Every window asks for file names through here, so that the
// headless tests can answer instead of a person.

#include <QString>
#include <functional>

class QWidget;

namespace filedialog
{

using SavePresenter = std::function<QString(QWidget* parent, const QString& caption,
                                            const QString& proposed, const QString& filter)>;

// Asks for a file to write, proposing the given path; empty when the operator cancels.
QString SaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                     const QString& filter);

// Replaces the dialog (tests); an empty presenter restores it.
void SetSavePresenter(SavePresenter presenter);

} // namespace filedialog
