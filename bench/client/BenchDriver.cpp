// Runs the real program and plays a user at it, measuring as it goes. ZELK_BENCH holds the script:
//   signin:EMAIL:PASSWORD       signs in, so that later starts find a stored sign-in
//   run:FILE:INSTRUMENT:FORMAT  drops the file on the main window and takes it to both results
// A run prints its wall time from the drop to both results converted, the longest stall of the GUI
// thread in each stage, and the memory high-water mark when idle and while the results download.
#include "BackendLoader/BackendLoader.h"
#include "FileProcessing/FileProcessing.h"
#include "UserAuth/UserAuth.h"
#include "main/Startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

namespace {

QQuickWindow *mainWindow()
{
    for (QWindow *window : QGuiApplication::topLevelWindows())
        if (auto *quick = qobject_cast<QQuickWindow *>(window);
            quick && quick->findChild<QObject *>(QStringLiteral("authLayer")))
            return quick;
    return nullptr;
}

// Peak resident size of this process in MB, from the kernel's own bookkeeping.
double peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toDouble() / 1024.0;
    return -1;
}

// Starts a new high-water mark from the current size; false where the kernel does not allow it.
bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

void finish(int status)
{
    std::fflush(stdout);
    QCoreApplication::exit(status);
}

// One run through the processing window, sampled every millisecond on the GUI thread: the gap
// between two samples is how long the thread could not answer.
class Run
{
public:
    Run(const QString &file, const QString &instrument, const QString &format)
        : file(file)
        , instrument(instrument)
        , format(format)
    {
        idlePeak = peakMegabytes();
        sampler.setTimerType(Qt::PreciseTimer);
        sampler.setInterval(1);
        QObject::connect(&sampler, &QTimer::timeout, [this] { sample(); });
    }

    void start()
    {
        auto *loader = mainWindow()->findChild<BackendLoader *>();
        wall.start();
        lastSample.start();
        sampler.start();
        loader->loadFile(file);
        window = findWindow();
        if (!window || !window->rootObject()) {
            std::printf("error: no processing window\n");
            finish(1);
            return;
        }
        root = window->rootObject();
        root->setProperty("selectedInstrument", instrument);
        root->setProperty("selectedOutputFormat", format);
        window->startProcess();
    }

private:
    static FileProcessing *findWindow()
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<FileProcessing *>(widget); window && window->isVisible())
                return window;
        return nullptr;
    }

    QString stage() const
    {
        const QString layer = root->property("currentLayer").toString();
        const double first = root->property("downloading1Percent").toDouble();
        const double second = root->property("downloading2Percent").toDouble();
        if (first >= 100.0 && second >= 100.0)
            return QStringLiteral("conversion");
        if (first > 0 || second > 0)
            return QStringLiteral("download");
        if (layer == QLatin1String("uploading"))
            return QStringLiteral("upload");
        if (layer == QLatin1String("processing"))
            return QStringLiteral("processing");
        return layer == QLatin1String("converting") ? QStringLiteral("conversion")
                                                    : QStringLiteral("opening");
    }

    void sample()
    {
        const double gap = lastSample.nsecsElapsed() / 1e6;
        lastSample.restart();
        if (!root)
            return;
        // The gap belongs to the stage it began in; the first one is the window opening.
        const QString now = stage();
        auto &[longest, when] = stalls[previous];
        if (gap > longest) {
            longest = gap;
            when = wall.elapsed();
        }
        if (now != previous)
            timeline << QStringLiteral("%1 %2").arg(now).arg(wall.elapsed());
        previous = now;
        if (now == QLatin1String("download") && !downloading) {
            downloading = true;
            peakReset = resetPeak();
        }
        if (now == QLatin1String("conversion") && downloading && downloadPeak < 0)
            downloadPeak = peakMegabytes();

        const QString layer = root->property("currentLayer").toString();
        if (layer == QLatin1String("success")) {
            sampler.stop();
            report(wall.elapsed());
            finish(0);
        } else if (layer == QLatin1String("select_instrument") && wall.elapsed() > 2000) {
            sampler.stop();
            std::printf("error: the run ended on the choice screen\n");
            finish(1);
        }
    }

    void report(qint64 elapsed) const
    {
        std::printf("wall: %lld ms\ntimeline: %s\n", static_cast<long long>(elapsed),
            qPrintable(timeline.join(QStringLiteral(", "))));
        for (const auto &[name, stall] : stalls)
            std::printf("stall %s: %.1f ms, ending at %lld ms\n", qPrintable(name), stall.first,
                static_cast<long long>(stall.second));
        std::printf("idle peak: %.1f MB\ndownload peak: %.1f MB%s\n", idlePeak, downloadPeak,
            peakReset ? "" : " (since start: the peak could not be reset)");
    }

    QString file;
    QString instrument;
    QString format;
    FileProcessing *window = nullptr;
    QObject *root = nullptr;
    QTimer sampler;
    QElapsedTimer wall;
    QElapsedTimer lastSample;
    // Per stage: the longest gap and when it ended.
    std::map<QString, std::pair<double, qint64>> stalls;
    QString previous = QStringLiteral("opening");
    QStringList timeline;
    double idlePeak = -1;
    double downloadPeak = -1;
    bool downloading = false;
    bool peakReset = false;
};

std::unique_ptr<Run> run;

void play(const QStringList &script)
{
    if (script.value(0) == QLatin1String("signin") && script.size() == 3) {
        UserAuth auth;
        const QString refused = auth.login(script.at(1), script.at(2));
        std::printf("signed in: %s\n", refused.isEmpty() ? "yes" : qPrintable(refused));
        finish(refused.isEmpty() ? 0 : 1);
        return;
    }
    if (script.value(0) == QLatin1String("run") && script.size() == 4) {
        run = std::make_unique<Run>(script.at(1), script.at(2), script.at(3));
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { run.reset(); });
        run->start();
        return;
    }
    std::printf("error: unknown script\n");
    finish(2);
}

// Waits for the window and for the start-up check to finish before the user acts.
void waitForTheWindow()
{
    QQuickWindow *window = mainWindow();
    QObject *cover = window ? window->findChild<QObject *>(QStringLiteral("initialLoader")) : nullptr;
    if (!cover || cover->property("visible").toBool()) {
        QTimer::singleShot(20, qApp, &waitForTheWindow);
        return;
    }
    // A box would wait for a user who is not there: say what it said and stop.
    auto *boxes = new QTimer(qApp);
    QObject::connect(boxes, &QTimer::timeout, [] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            std::printf("error: a box was shown: %s\n", qPrintable(box->property("text").toString()));
            box->close();
            finish(1);
        }
    });
    boxes->start(200);
    // The window settles before the idle peak is taken.
    QTimer::singleShot(500, qApp, [] { play(qEnvironmentVariable("ZELK_BENCH").split(QLatin1Char(':'))); });
}

void startScript()
{
    QTimer::singleShot(20, qApp, &waitForTheWindow);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startScript)

int main(int argc, char *argv[])
{
    return runZelk(argc, argv);
}
