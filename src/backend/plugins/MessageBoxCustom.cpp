#include "MessageBoxCustom.h"

#include <QGridLayout>
#include <QSpacerItem>
#include <QFontMetrics>

namespace {

// Room the title bar takes besides the title: the window icon and the buttons a desktop puts there.
constexpr int titleBarExtras = 160;

} // namespace

QMessageBox::StandardButton MessageBoxCustom::runBox(Icon icon, QWidget *parent, const QString &title,
    const QString &text, StandardButtons buttons, StandardButton defaultButton)
{
    MessageBoxCustom box(parent);
    box.setIcon(icon);
    box.setWindowTitle(title);
    box.setText(text);
    // Addresses and error texts can be copied from the box.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.setStandardButtons(buttons);
    box.setDefaultButton(defaultButton);
    box.keepTitleWhole();
    return static_cast<StandardButton>(box.exec());
}

int MessageBoxCustom::widthForTitle(const QString &title) const
{
    // Title bars use a bold face of about the size of the box's text.
    QFont titleFont = font();
    titleFont.setBold(true);
    return QFontMetrics(titleFont).horizontalAdvance(title) + titleBarExtras;
}

void MessageBoxCustom::keepTitleWhole()
{
    // A box sizes itself by its text alone, and a short text gave a box whose title the desktop cut
    // ("File Pro… ng Error"). A spacer across the bottom row holds it at least as wide as its title.
    auto *grid = qobject_cast<QGridLayout *>(layout());
    if (!grid)
        return;
    grid->addItem(new QSpacerItem(widthForTitle(windowTitle()), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
        grid->rowCount(), 0, 1, grid->columnCount());
}

QMessageBox::StandardButton MessageBoxCustom::information(QWidget *parent, const QString &title,
    const QString &text, StandardButtons buttons, StandardButton defaultButton)
{
    return runBox(Information, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBoxCustom::warning(QWidget *parent, const QString &title,
    const QString &text, StandardButtons buttons, StandardButton defaultButton)
{
    return runBox(Warning, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBoxCustom::critical(QWidget *parent, const QString &title,
    const QString &text, StandardButtons buttons, StandardButton defaultButton)
{
    return runBox(Critical, parent, title, text, buttons, defaultButton);
}
