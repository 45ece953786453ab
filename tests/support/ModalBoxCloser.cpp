#include "ModalBoxCloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPainter>

namespace {

// With ZELK_SCREENSHOT_DIR set, each box is kept as a picture under a bar that shows its title the way
// a title bar of the box's width would: elided in the middle when it does not fit.
void keepPicture(QMessageBox *box)
{
    static int number = 0;
    const QString folder = qEnvironmentVariable("ZELK_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    const QPixmap content = box->grab();
    QFont titleFont = box->font();
    titleFont.setBold(true);
    const int barHeight = QFontMetrics(titleFont).height() + 10;
    QPixmap picture(content.width(), content.height() + barHeight);
    picture.fill(QColor(0x44, 0x44, 0x44));
    QPainter painter(&picture);
    painter.drawPixmap(0, barHeight, content);
    painter.setFont(titleFont);
    painter.setPen(Qt::white);
    // Room for a window icon at the left and three buttons at the right, as desktops draw them.
    const QRect titleRect(24, 0, content.width() - 24 - 72, barHeight);
    painter.drawText(titleRect, Qt::AlignCenter,
        QFontMetrics(titleFont).elidedText(box->windowTitle(), Qt::ElideMiddle, titleRect.width()));
    painter.end();
    QDir().mkpath(folder);
    picture.save(QStringLiteral("%1/box-%2.png").arg(folder).arg(++number, 3, 10, QLatin1Char('0')));
}

} // namespace

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
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        keepPicture(box);
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
