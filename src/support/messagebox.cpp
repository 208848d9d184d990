#include "support/messagebox.h"

#include <QApplication>

namespace
{
messagebox::Presenter presenter;
}

namespace messagebox
{

QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                 const QString& text, QMessageBox::StandardButtons buttons)
{
    if (presenter)
        return presenter(parent, icon, caption, text, buttons);
    QMessageBox box(icon, caption.isEmpty() ? QApplication::applicationDisplayName() : caption,
                    text, buttons, parent);
    return QMessageBox::StandardButton(box.exec());
}

void Error(QWidget* parent, const QString& text, const QString& caption)
{
    Show(parent, QMessageBox::Critical, caption, text, QMessageBox::Ok);
}

void SetPresenter(Presenter p)
{
    presenter = std::move(p);
}

} // namespace messagebox
