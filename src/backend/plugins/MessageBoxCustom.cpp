#include "MessageBoxCustom.h"

QMessageBox::StandardButton MessageBoxCustom::runBox(Icon icon, QWidget *parent, const QString &title,
                                                   const QString &text, StandardButtons buttons,
                                                   StandardButton defaultButton)
{
    MessageBoxCustom box(parent);
    box.setIcon(icon);
    box.setWindowTitle(title);
    box.setText(text);
    // Addresses and error texts can be copied from the box.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.setStandardButtons(buttons);
    box.setDefaultButton(defaultButton);
    return static_cast<StandardButton>(box.exec());
}

QMessageBox::StandardButton MessageBoxCustom::information(QWidget *parent, const QString &title,
                                                          const QString &text, StandardButtons buttons,
                                                          StandardButton defaultButton)
{
    return runBox(Information, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBoxCustom::warning(QWidget *parent, const QString &title, const QString &text,
                                                      StandardButtons buttons, StandardButton defaultButton)
{
    return runBox(Warning, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBoxCustom::critical(QWidget *parent, const QString &title, const QString &text,
                                                       StandardButtons buttons, StandardButton defaultButton)
{
    return runBox(Critical, parent, title, text, buttons, defaultButton);
}
