// Runs the real start-up and shutdown, closing every modal box as soon as it shows (an unattended run
// would otherwise wait forever) and ending a normal run after a short while, naming the windows it shows.
#include "main/Startup.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

void closeModalBoxes()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (const auto *box = qobject_cast<QMessageBox *>(modal)) {
        std::printf("box: [%s] %s\n", qPrintable(box->windowTitle()), qPrintable(box->text()));
        std::fflush(stdout);
    }
    modal->close();
}

void reportWindowsAndQuit()
{
    for (const QWindow *window : QGuiApplication::topLevelWindows())
        if (window->isVisible())
            std::printf("window: [%s] %dx%d\n", qPrintable(window->title()), window->width(), window->height());
    std::fflush(stdout);
    QCoreApplication::quit();
}

void startUnattended()
{
    auto *boxCloser = new QTimer(qApp);
    QObject::connect(boxCloser, &QTimer::timeout, &closeModalBoxes);
    boxCloser->start(50);
    QTimer::singleShot(1500, qApp, &reportWindowsAndQuit);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startUnattended)

int main(int argc, char *argv[])
{
    return runZelk(argc, argv);
}
