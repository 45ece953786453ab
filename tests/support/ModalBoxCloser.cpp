#include "ModalBoxCloser.h"

#include <QAbstractButton>
#include <QApplication>

ModalBoxCloser::ModalBoxCloser(QObject *parent, Scope scope)
    : QObject(parent)
    , scope(scope)
{
    connect(&timer, &QTimer::timeout, this, &ModalBoxCloser::closeActiveBox);
    timer.start(20);
}

void ModalBoxCloser::closeActiveBox()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (const auto *box = qobject_cast<QMessageBox *>(modal)) {
        boxes << QStringLiteral("[%1] %2").arg(box->windowTitle(), box->text());
        boxWidths << box->width();
        if (QAbstractButton *button = box->button(answer)) {
            button->click();
            return;
        }
    } else if (scope == Scope::MessageBoxesOnly) {
        return;
    }
    modal->close();
}
