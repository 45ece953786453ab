#pragma once

#include <QMessageBox>

// The one way the program shows a modal message: a stack box that differs only in its icon.
class MessageBoxCustom : public QMessageBox
{
    Q_OBJECT

public:
    static StandardButton information(QWidget *parent, const QString &title, const QString &text,
        StandardButtons buttons = Ok, StandardButton defaultButton = NoButton);
    static StandardButton warning(QWidget *parent, const QString &title, const QString &text,
        StandardButtons buttons = Ok, StandardButton defaultButton = NoButton);
    static StandardButton critical(QWidget *parent, const QString &title, const QString &text,
        StandardButtons buttons = Ok, StandardButton defaultButton = NoButton);

private:
    using QMessageBox::QMessageBox;
    Q_DISABLE_COPY(MessageBoxCustom)

    // The least width at which a desktop's title bar shows the whole title.
    int widthForTitle(const QString &title) const;
    void keepTitleWhole();

    static StandardButton runBox(Icon icon, QWidget *parent, const QString &title, const QString &text,
        StandardButtons buttons, StandardButton defaultButton);
};
