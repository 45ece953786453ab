// The barest Qt Quick program: one empty window of the main window's size. With ZELK_FIRST_FRAME
// set to the launch time (microseconds since the epoch) it prints the time to its first frame and
// ends, as the program does.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.loadData(
        "import QtQuick\nWindow { width: 470; height: 210; visible: true; color: \"#202020\" }\n");
    auto *window = engine.rootObjects().isEmpty()
        ? nullptr
        : qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!window)
        return 1;
    const qint64 launched = qEnvironmentVariable("ZELK_FIRST_FRAME").toLongLong();
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [launched, window] {
            using namespace std::chrono;
            const auto now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
            const bool software
                = window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
            std::printf("first frame: %.1f ms, %s renderer\n", double(now - launched) / 1000.0,
                software ? "software" : "graphics");
            std::fflush(stdout);
            std::_Exit(0);
        },
        Qt::DirectConnection);
    return app.exec();
}
