#include "ModalBoxCloser.h"

#include <QApplication>
#include <QMessageBox>

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
    if (const auto *box = qobject_cast<QMessageBox *>(modal))
        boxes << QStringLiteral("[%1] %2").arg(box->windowTitle(), box->text());
    else if (scope == Scope::MessageBoxesOnly)
        return;
    modal->close();
}
