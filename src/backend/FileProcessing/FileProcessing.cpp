#include "FileProcessing.h"

#include "ResultOpener.h"
#include "GlobalsInfo/DesktopOpener.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/MediaFormats.h"
#include "GlobalsInfo/TraceLog.h"
#include "plugins/MessageBoxCustom.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QUrl>

namespace {

const HostedWindow::Description processingWindow { QStringLiteral("ZELK: Selecting Instrument"),
    QUrl(QStringLiteral("qrc:/qml/FileProcessing.qml")), QSize(470, 350) };

const QString errorTitle = QStringLiteral("File Processing Error");
const QString choiceLayer = QStringLiteral("select_instrument");

} // namespace

FileProcessing::FileProcessing(QWidget *parent)
    : HostedWindow(processingWindow, parent)
    , run(std::make_unique<ProcessingRun>())
{
    connect(run.get(), &ProcessingRun::stageChanged, this, &FileProcessing::showStage);
    connect(run.get(), &ProcessingRun::convertingText, this,
        [this](const QString &text) { setScreen("convertingText", text); });
    connect(run.get(), &ProcessingRun::uploadProgress, this,
        [this](double percents) { setScreen("uploadingPercent", percents); });
    connect(run.get(), &ProcessingRun::remainingSeconds, this, [this](int seconds) {
        setScreen("remainingProcessingTime", seconds);
        emit remainsArrived();
    });
    connect(run.get(), &ProcessingRun::downloadProgress, this, &FileProcessing::takeDownloadProgress);
    connect(run.get(), &ProcessingRun::succeeded, this, &FileProcessing::takeSuccess);
    connect(run.get(), &ProcessingRun::failed, this, &FileProcessing::takeFailure);
    initQMLconnections();
}

FileProcessing::~FileProcessing() = default;

void FileProcessing::initQMLconnections()
{
    connectFromRoot(SIGNAL(close()), SLOT(cancel()));
    connectFromRoot(SIGNAL(proceedAnotherFile()), SLOT(proceedAnotherFile()));
    connectFromRoot(SIGNAL(proceedAnotherInstrument()), SLOT(proceedAnotherInstrument()));
    connectFromRoot(SIGNAL(openFinalFiles(QString)), SLOT(openFinalFiles(QString)));
    connectFromRoot(SIGNAL(getRemainsSeconds()), SLOT(getRemainsSeconds()));
    connectFromRoot(SIGNAL(startProcess()), SLOT(startProcess()));
    connectFromRoot(SIGNAL(cancelProcess()), SLOT(cancelProcess()));
    connectFromRoot(SIGNAL(openResult(QString)), SLOT(openResult(QString)));
    if (root)
        connect(root, SIGNAL(openAnotherFile()), this, SIGNAL(openAnotherFile()));
    connectToRoot(SIGNAL(forceProcessAnotherFile()));
    connectToRoot(SIGNAL(resetProccesing()));
    connectToRoot(SIGNAL(changeLayerWithDelay(QString)));
    connectToRoot(SIGNAL(remainsArrived()));
}

bool FileProcessing::openWindow(const QString &path)
{
    ZELK_TRACE() << path;
    // A run still going belongs to the previous file; its late replies, which may arrive while the
    // checks below wait, must not act on this one.
    stopAll();
    // Opened from this window ("Process Another File"), the window waits under its cover; from the
    // main window, the main window does.
    setScreen("checking", true);
    const bool accepted = acceptFile(path);
    setScreen("checking", false);
    if (!accepted)
        return false;
    run->setSource(path);
    showScaled();
    return true;
}

bool FileProcessing::acceptFile(const QString &path)
{
    // Hidden, the window would place its boxes where it last stood.
    QWidget *parent = isVisible() ? this : nullptr;
    ProcessingRun::Problem problem = ProcessingRun::sourceProblem(path);
    if (problem.isEmpty())
        problem = run->serviceProblem();
    if (problem.isEmpty())
        return true;
    MessageBoxCustom::critical(parent, problem.title, problem.text);
    return false;
}

void FileProcessing::fillDocument()
{
    const QString sourcePath = run->source();
    setScreen("fileName", QFileInfo(sourcePath).fileName());
    setScreen("currentLayer", choiceLayer);
    setScreen("selectedInstrument", globals->getInstrument().toLower());
    const bool isVideo = MediaFormats::hasPicture(sourcePath);
    setScreen("selectedOutputFormat", isVideo ? globals->getVideoFormat() : globals->getAudioFormat());
    setScreen("isVideo", isVideo);
    setScreen("playerForVideo", globals->getAppForVideo());
    setScreen("playerForAudio", globals->getAppForAudio());
}

void FileProcessing::removeUploaded()
{
    run->removeUploaded();
}

void FileProcessing::startProcess()
{
    ZELK_TRACE() << run->source();
    if (run->isRunning())
        return;
    if (const ProcessingRun::Problem problem = run->startProblem(); !problem.isEmpty()) {
        MessageBoxCustom::critical(this, problem.title, problem.text);
        return;
    }
    summary.clear();
    setScreen("batchSummary", summary);
    inBatch = !waiting.isEmpty();
    resetProgress();
    run->start(screenText("selectedInstrument"), screenText("selectedOutputFormat"));
}

void FileProcessing::resetProgress()
{
    setScreen("uploadingPercent", 0);
    setScreen("downloading1Percent", 0);
    setScreen("downloading2Percent", 0);
    setScreen("remainingProcessingTime", 0);
    emit resetProccesing();
}

void FileProcessing::queueFiles(const QStringList &paths)
{
    ZELK_TRACE() << paths;
    waiting << paths;
    // Queued while a file is under way, they join its batch.
    inBatch = inBatch || run->isRunning();
    showWaiting();
}

void FileProcessing::showWaiting()
{
    QStringList names;
    for (const QString &path : std::as_const(waiting))
        names << QFileInfo(path).fileName();
    setScreen("waitingFiles", names);
}

void FileProcessing::recordOutcome(const QString &mainPath, const QString &mixPath, const QString &error)
{
    summary << QVariantMap { { QStringLiteral("file"), QFileInfo(run->source()).fileName() },
        { QStringLiteral("main"), mainPath }, { QStringLiteral("mix"), mixPath },
        { QStringLiteral("error"), error } };
}

void FileProcessing::recordFailure(const QString &title, const QString &text)
{
    recordOutcome({}, {}, QStringLiteral("%1: %2").arg(title, text.simplified()));
}

void FileProcessing::startNext()
{
    const QString instrument = run->instrument();
    const QString format = run->format();
    while (!waiting.isEmpty()) {
        const QString next = waiting.takeFirst();
        showWaiting();
        run->setSource(next);
        ProcessingRun::Problem problem = ProcessingRun::sourceProblem(next);
        if (problem.isEmpty())
            problem = ProcessingRun::formatProblem(next, format);
        if (problem.isEmpty())
            problem = run->startProblem();
        if (!problem.isEmpty()) {
            recordFailure(problem.title, problem.text);
            continue;
        }
        setScreen("fileName", QFileInfo(next).fileName());
        resetProgress();
        run->start(instrument, format);
        return;
    }
    inBatch = false;
    setScreen("batchSummary", summary);
    setScreen("currentLayer", QStringLiteral("success"));
}

void FileProcessing::showStage(ProcessingRun::Stage stage)
{
    switch (stage) {
    case ProcessingRun::Stage::Preparing:
        setScreen("currentLayer", QStringLiteral("converting"));
        break;
    case ProcessingRun::Stage::Uploading:
        setScreen("currentLayer", QStringLiteral("uploading"));
        if (run->isRepeat())
            setScreen("uploadingPercent", 100);
        break;
    case ProcessingRun::Stage::Processing:
        setScreen("currentLayer", QStringLiteral("processing"));
        break;
    case ProcessingRun::Stage::Downloading:
        if (root && root->property("remainingProcessingTime").toInt() > 0)
            setScreen("remainingProcessingTime", 0);
        emit changeLayerWithDelay(QStringLiteral("downloading"));
        break;
    case ProcessingRun::Stage::Converting:
        emit changeLayerWithDelay(QStringLiteral("converting"));
        break;
    case ProcessingRun::Stage::Choosing:
        break;
    }
}

void FileProcessing::getRemainsSeconds()
{
    run->askRemaining();
}

void FileProcessing::takeDownloadProgress(int part, double percents)
{
    setScreen(part == 1 ? "downloading1Percent" : "downloading2Percent", percents);
}

void FileProcessing::takeSuccess()
{
    if (inBatch) {
        recordOutcome(run->mainResultPath(), run->mixResultPath(), {});
        startNext();
        return;
    }
    // WAV results are moved, not converted: the download screen is still drawing its last step.
    if (run->format() == QLatin1String("wav"))
        emit changeLayerWithDelay(QStringLiteral("success"));
    else
        setScreen("currentLayer", QStringLiteral("success"));
}

void FileProcessing::takeFailure(const QString &title, const QString &text)
{
    // In a queue, a failure is one line of the summary and the next file goes on.
    if (inBatch) {
        recordFailure(title, text);
        startNext();
        return;
    }
    setScreen("currentLayer", choiceLayer);
    MessageBoxCustom::critical(this, title, text);
}

void FileProcessing::openFinalFiles(const QString &type)
{
    ZELK_TRACE() << type;
    if (type == QLatin1String("folder")) {
        // After a queue, the last file may have failed: its folder is the run's, not its results'.
        const QString folder
            = summary.isEmpty() ? QFileInfo(mainResultPath()).absolutePath() : run->resultFolder();
        DesktopOpener::openPathOrExplain(folder, this);
        return;
    }
    openResult(type == QLatin1String("mix") ? mixResultPath() : mainResultPath());
}

void FileProcessing::proceedAnotherFile()
{
    setScreen("currentLayer", choiceLayer);
    emit forceProcessAnotherFile();
}

void FileProcessing::proceedAnotherInstrument()
{
    setScreen("currentLayer", choiceLayer);
}

void FileProcessing::cancelProcess()
{
    if (!run->isRunning())
        return;
    run->cancel();
    if (!inBatch) {
        setScreen("currentLayer", choiceLayer);
        return;
    }
    if (!waiting.isEmpty()) {
        const auto answer = MessageBoxCustom::warning(this, QStringLiteral("Files Waiting"),
            QStringLiteral("Processing %1 was stopped.\n\nDrop %2 still waiting?")
                .arg(QFileInfo(run->source()).fileName(),
                    waiting.size() == 1 ? QStringLiteral("the file")
                                        : QStringLiteral("the %1 files").arg(waiting.size())),
            MessageBoxCustom::Yes | MessageBoxCustom::No, MessageBoxCustom::No);
        if (answer == MessageBoxCustom::Yes) {
            waiting.clear();
            showWaiting();
        }
    }
    recordOutcome({}, {}, QStringLiteral("Cancelled"));
    // Nothing else done or to do: back to the choice, as after a single file.
    if (waiting.isEmpty() && summary.size() == 1) {
        stopAll();
        setScreen("currentLayer", choiceLayer);
        return;
    }
    startNext();
}

void FileProcessing::stopAll()
{
    waiting.clear();
    summary.clear();
    inBatch = false;
    showWaiting();
    setScreen("batchSummary", summary);
    if (run->isRunning()) {
        run->cancel();
        setScreen("currentLayer", choiceLayer);
    }
}

void FileProcessing::openResult(const QString &path)
{
    ZELK_TRACE() << path;
    if (!QFileInfo::exists(path)) {
        MessageBoxCustom::critical(
            this, errorTitle, QStringLiteral("Downloaded files not exists:\n\n%1").arg(path));
        return;
    }
    ResultOpener::open(path, MediaFormats::isVideoOutput(MediaFormats::suffixOf(path)), this);
}

void FileProcessing::cancel()
{
    close();
}

void FileProcessing::closeEvent(QCloseEvent *event)
{
    // Closed unseen, a run would go on and its results or errors turn up over the main window.
    if (run->isRunning()) {
        const auto answer = MessageBoxCustom::warning(this, QStringLiteral("Stop Processing"),
            QStringLiteral("Stop processing %1?").arg(QFileInfo(run->source()).fileName()),
            MessageBoxCustom::Yes | MessageBoxCustom::No, MessageBoxCustom::No);
        if (answer != MessageBoxCustom::Yes) {
            event->ignore();
            return;
        }
    }
    stopAll();
    HostedWindow::closeEvent(event);
}

void FileProcessing::setScreen(const char *name, const QVariant &value)
{
    if (root)
        root->setProperty(name, value);
}

QString FileProcessing::screenText(const char *name) const
{
    return root ? root->property(name).toString() : QString();
}
