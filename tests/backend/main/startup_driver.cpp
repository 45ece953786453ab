// Runs the real start-up and shutdown, closing every modal box as soon as it shows (an unattended run
// would otherwise wait forever) and ending a normal run once it is up, naming the windows it shows.
#include "main/Startup.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
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

// Once the program sits in its own event loop with the sign-in decided, names its windows and quits.
void reportWindowsAndQuit()
{
    const QWindowList windows = QGuiApplication::topLevelWindows();
    const auto decided = [](const QWindow *window) {
        const QObject *cover = window->findChild<QObject *>(QStringLiteral("initialLoader"));
        return window->isVisible() && cover && !cover->property("visible").toBool();
    };
    if (QThread::currentThread()->loopLevel() != 1 || std::none_of(windows.begin(), windows.end(), decided)) {
        QTimer::singleShot(100, qApp, &reportWindowsAndQuit);
        return;
    }
    for (const QWindow *window : windows)
        if (window->isVisible())
            std::printf(
                "window: [%s] %dx%d\n", qPrintable(window->title()), window->width(), window->height());
    std::fflush(stdout);
    QCoreApplication::quit();
}

void startUnattended()
{
    auto *boxCloser = new QTimer(qApp);
    QObject::connect(boxCloser, &QTimer::timeout, &closeModalBoxes);
    boxCloser->start(50);
    QTimer::singleShot(500, qApp, &reportWindowsAndQuit);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startUnattended)

int main(int argc, char *argv[])
{
    return runZelk(argc, argv);
}
