#include "FileProcessing.h"

#include "ConvertingFile.h"
#include "Archive/ResultRecord.h"
#include "ResultOpener.h"
#include "SourceCheck.h"
#include "GlobalsInfo/DesktopOpener.h"
#include "GlobalsInfo/FolderCheck.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/MediaFormats.h"
#include "GlobalsInfo/TraceLog.h"
#include "ZelkServer.h"
#include "plugins/MessageBoxCustom.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

const HostedWindow::Description processingWindow { QStringLiteral("ZELK: Selecting Instrument"),
    QUrl(QStringLiteral("qrc:/qml/FileProcessing.qml")), QSize(470, 350) };

const QString errorTitle = QStringLiteral("File Processing Error");
const QString choiceLayer = QStringLiteral("select_instrument");

void removeIfPresent(const QString &path)
{
    if (!path.isEmpty() && QFileInfo(path).isFile())
        QFile::remove(path);
}

} // namespace

FileProcessing::FileProcessing(QWidget *parent)
    : HostedWindow(processingWindow, parent)
    , server(std::make_unique<ZelkServer>())
{
    connect(server.get(), &ZelkServer::showError, this, &FileProcessing::showError);
    connect(server.get(), &ZelkServer::progressPercents, this, &FileProcessing::progressPercents);
    connect(server.get(), &ZelkServer::savedWithId, this, &FileProcessing::savedWithId);
    connect(server.get(), &ZelkServer::filesReady, this, &FileProcessing::filesReady);
    connect(server.get(), &ZelkServer::remainSeconds, this, &FileProcessing::remainSeconds);
    connect(server.get(), &ZelkServer::downloadingFirst, this, &FileProcessing::downloadingFirst);
    connect(server.get(), &ZelkServer::downloadingSecond, this, &FileProcessing::downloadingSecond);
    initQMLconnections();
}

FileProcessing::~FileProcessing()
{
    cancelFlag.store(1, std::memory_order_release);
    stopWorker();
}

void FileProcessing::initQMLconnections()
{
    connectFromRoot(SIGNAL(close()), SLOT(cancel()));
    connectFromRoot(SIGNAL(proceedAnotherFile()), SLOT(proceedAnotherFile()));
    connectFromRoot(SIGNAL(proceedAnotherInstrument()), SLOT(proceedAnotherInstrument()));
    connectFromRoot(SIGNAL(openFinalFiles(QString)), SLOT(openFinalFiles(QString)));
    connectFromRoot(SIGNAL(getRemainsSeconds()), SLOT(getRemainsSeconds()));
    connectFromRoot(SIGNAL(startProcess()), SLOT(startProcess()));
    connectFromRoot(SIGNAL(cancelProcess()), SLOT(cancelProcess()));
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
    if (stage != Stage::Choosing)
        cancelProcess();
    // Opened from this window ("Process Another File"), the window waits under its cover; from the
    // main window, the main window does.
    setScreen("checking", true);
    const bool accepted = acceptFile(path);
    setScreen("checking", false);
    if (!accepted)
        return false;
    cancelFlag.store(0, std::memory_order_release);
    removeUploaded();
    sourcePath = path;
    download1Percent = download2Percent = 0;
    songId = 0;
    showScaled();
    return true;
}

bool FileProcessing::acceptFile(const QString &path)
{
    // Hidden, the window would place its boxes where it last stood.
    QWidget *parent = isVisible() ? this : nullptr;
    if (!QFileInfo(path).isFile()) {
        MessageBoxCustom::critical(
            parent, errorTitle, QStringLiteral("This file cannot be opened:\n\n%1").arg(path));
        return false;
    }
    // The same files as the file dialog offers, and only those with a sound stream ffmpeg reads: a
    // text file named ".mp3" or an empty ".wav" would fail only after the upload.
    const QString suffix = MediaFormats::suffixOf(path);
    const bool offered
        = MediaFormats::audioSources().contains(suffix) || MediaFormats::videoSources().contains(suffix);
    if (!offered || SourceCheck::sound(path) == SourceCheck::Sound::Unreadable) {
        MessageBoxCustom::critical(parent, QStringLiteral("Unreadable File"),
            QStringLiteral("This file has no sound ZELK can read: %1").arg(QFileInfo(path).fileName()));
        return false;
    }
    if (!server->checkInternetConnection()) {
        const QString unreachable = server->probeFailure();
        if (!unreachable.isEmpty())
            MessageBoxCustom::critical(parent, QStringLiteral("Service Unreachable"), unreachable);
        else
            MessageBoxCustom::critical(parent, QStringLiteral("No Internet Connection"),
                QStringLiteral("An active internet connection is required to use current application\n"
                               "Please check your network settings and try again."));
        return false;
    }
    return true;
}

void FileProcessing::fillDocument()
{
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
    if (uploadWavPath.isEmpty() || !QFileInfo::exists(uploadWavPath))
        return;
    server->removeUploaded(QFileInfo(uploadWavPath).fileName());
    QFile::remove(uploadWavPath);
}

void FileProcessing::startProcess()
{
    ZELK_TRACE() << sourcePath;
    if (stage != Stage::Choosing)
        return;
    // Before any work: the results must have a place, and it must be the one the user chose.
    if (const QString problem = FolderCheck::saveFolderProblem(globals->chosenSavePath()); !problem.isEmpty()) {
        MessageBoxCustom::critical(this, FolderCheck::saveFolderTitle(), problem);
        return;
    }
    const QString tempPath = globals->getTempPath();
    if (tempPath.isEmpty()) {
        MessageBoxCustom::critical(
            this, errorTitle, QStringLiteral("The temporary folder cannot be created."));
        return;
    }
    cancelFlag.store(0, std::memory_order_release);
    setScreen("uploadingPercent", 0);
    setScreen("downloading1Percent", 0);
    setScreen("downloading2Percent", 0);
    setScreen("remainingProcessingTime", 0);
    download1Percent = download2Percent = 0;
    emit resetProccesing();

    if (!uploadWavPath.isEmpty() && QFileInfo::exists(uploadWavPath)) {
        repeatWithSameUploaded();
        return;
    }

    uploadWavPath = QStringLiteral("%1/%2.wav").arg(tempPath, globals->generateRandomString(16));
    stage = Stage::Preparing;
    // A WAV goes up as it is only when the service takes it so; any other is converted like the rest.
    if (MediaFormats::suffixOf(sourcePath) == QLatin1String("wav") && SourceCheck::isServiceWav(sourcePath)) {
        QFile::copy(sourcePath, uploadWavPath);
        doneUploadConverting();
        return;
    }

    setScreen("currentLayer", QStringLiteral("converting"));
    setScreen("convertingText", QStringLiteral("Preparing a file for upload"));
    startWorker(new ConvertingFile(&cancelFlag, sourcePath, uploadWavPath, QString(), true),
        &ConvertingFile::doneUploadConverting, &FileProcessing::doneUploadConverting, SLOT(prepareToUpload()));
}

void FileProcessing::doneUploadConverting()
{
    if (isCancelled() || !runIs(Stage::Preparing))
        return;
    if (!QFileInfo::exists(uploadWavPath)) {
        reportFailure(QStringLiteral("Converting Error"), QStringLiteral("An error occurred preparing the file for upload"));
        return;
    }
    stage = Stage::Uploading;
    repeating = false;
    setScreen("currentLayer", QStringLiteral("uploading"));
    const bool sent = server->proceedFile(screenText("selectedInstrument"), uploadWavPath,
        QFileInfo(sourcePath).completeBaseName(), globals->getUserHash(), QStringLiteral("full"), sourcePath,
        outputExtension());
    // Nothing was sent: the failure removes the WAV, so the next PROCESS prepares it again.
    if (!sent)
        reportFailure(QStringLiteral("Converting Error"),
            QStringLiteral("The file prepared for upload could not be read:\n\n%1").arg(uploadWavPath));
}

void FileProcessing::repeatWithSameUploaded()
{
    if (isCancelled())
        return;
    stage = Stage::Uploading;
    repeating = true;
    setScreen("currentLayer", QStringLiteral("uploading"));
    setScreen("uploadingPercent", 100);
    server->repeatFile(screenText("selectedInstrument"), QFileInfo(uploadWavPath).fileName(),
        QFileInfo(sourcePath).completeBaseName(), globals->getUserHash(), QStringLiteral("full"), sourcePath,
        outputExtension());
}

void FileProcessing::progressPercents(double percent)
{
    if (!isCancelled() && runIs(Stage::Uploading))
        setScreen("uploadingPercent", percent);
}

void FileProcessing::savedWithId(int id)
{
    if (isCancelled() || !runIs(Stage::Uploading))
        return;
    songId = id;
    stage = Stage::Processing;
    setScreen("currentLayer", QStringLiteral("processing"));
    server->getRemainSeconds(songId);
}

void FileProcessing::remainSeconds(int seconds)
{
    if (isCancelled() || !runIs(Stage::Processing))
        return;
    setScreen("remainingProcessingTime", seconds);
    emit remainsArrived();
}

void FileProcessing::getRemainsSeconds()
{
    if (!isCancelled() && runIs(Stage::Processing))
        server->getRemainSeconds(songId);
}

void FileProcessing::filesReady()
{
    // Two queries in flight may both say the results are ready; only the first starts the downloads.
    if (isCancelled() || !runIs(Stage::Processing))
        return;
    // The folder may have gone while the service worked; the results go into it or nowhere.
    const QString savePath = globals->chosenSavePath();
    if (const QString problem = FolderCheck::saveFolderProblem(savePath); !problem.isEmpty()) {
        reportFailure(FolderCheck::saveFolderTitle(), problem);
        return;
    }
    stage = Stage::Downloading;
    if (root && root->property("remainingProcessingTime").toInt() > 0)
        setScreen("remainingProcessingTime", 0);
    emit changeLayerWithDelay(QStringLiteral("downloading"));

    const QString instrument = screenText("selectedInstrument");
    const QString baseName = QFileInfo(sourcePath).completeBaseName();
    const QString format = outputExtension();
    resultMainPath = QStringLiteral("%1/%2 - %3.%4").arg(savePath, instrument, baseName, format);
    resultMixPath = QStringLiteral("%1/Mix Without %2 - %3.%4").arg(savePath, instrument, baseName, format);
    // A pair is taken when any of its four files is there, so no download replaces a user's file.
    const auto taken = [this] {
        return QFileInfo::exists(resultMainPath) || QFileInfo::exists(resultMixPath)
            || QFileInfo::exists(mainWavPath()) || QFileInfo::exists(mixWavPath());
    };
    // One substitution for all parts: a "%2" in a file's name must not take the number.
    for (int n = 1; taken(); ++n) {
        const QString number = QString::number(n);
        resultMainPath = QStringLiteral("%1/%2 - %3 (%5).%4").arg(savePath, instrument, baseName, format, number);
        resultMixPath
            = QStringLiteral("%1/Mix Without %2 - %3 (%5).%4").arg(savePath, instrument, baseName, format, number);
    }
    server->downloadFiles(songId, mainWavPath(), mixWavPath(), QFileInfo(uploadWavPath).size());
}

void FileProcessing::downloadingFirst(double percents)
{
    takeDownloadProgress(download1Percent, "downloading1Percent", percents);
}

void FileProcessing::downloadingSecond(double percents)
{
    takeDownloadProgress(download2Percent, "downloading2Percent", percents);
}

void FileProcessing::takeDownloadProgress(double &field, const char *screenProperty, double percents)
{
    if (isCancelled() || !runIs(Stage::Downloading))
        return;
    setScreen(screenProperty, percents);
    field = percents;
    // Each download reports exactly 100 once, when its file is complete: this is the later of the two.
    if (download1Percent == 100.0 && download2Percent == 100.0)
        finalConvert();
}

void FileProcessing::finalConvert()
{
    if (isCancelled())
        return;
    stage = Stage::Converting;
    if (outputExtension() == QLatin1String("wav")) {
        const bool moved = QFile::rename(mainWavPath(), resultMainPath) && QFile::rename(mixWavPath(), resultMixPath);
        if (!moved) {
            // Whatever was moved or downloaded stays where it is.
            stage = Stage::Choosing;
            reportFailure(errorTitle,
                QStringLiteral("The downloaded results could not be moved to:\n\n%1\n%2")
                    .arg(resultMainPath, resultMixPath));
            return;
        }
        stage = Stage::Choosing;
        if (reportUnwritten(QStringLiteral("These results were not written:")))
            return;
        ResultRecord::recordRun(songId, sourcePath, outputExtension(), resultMainPath, resultMixPath);
        emit changeLayerWithDelay(QStringLiteral("success"));
        return;
    }
    setScreen("convertingText",
        QStringLiteral("Converting '%1 - file.wav'\nto selected output format").arg(screenText("selectedInstrument")));
    emit changeLayerWithDelay(QStringLiteral("converting"));
    startWorker(new ConvertingFile(&cancelFlag, mainWavPath(), resultMainPath, sourcePath, true),
        &ConvertingFile::doneMain, &FileProcessing::finalConvertMix, SLOT(prepareFinal()));
}

void FileProcessing::finalConvertMix()
{
    if (isCancelled() || !runIs(Stage::Converting))
        return;
    setScreen("convertingText",
        QStringLiteral("Converting 'mix without %1 - file.wav'\nto selected output format")
            .arg(screenText("selectedInstrument")));
    startWorker(new ConvertingFile(&cancelFlag, mixWavPath(), resultMixPath, sourcePath, false),
        &ConvertingFile::doneMix, &FileProcessing::successProcces, SLOT(prepareFinal()));
}

void FileProcessing::successProcces()
{
    if (isCancelled() || !runIs(Stage::Converting))
        return;
    stage = Stage::Choosing;
    if (reportUnwritten(QStringLiteral("Could not convert to the selected format:"),
            QStringLiteral("\n\nThe downloaded WAV is kept beside it, with \".wav\" added to the name.")))
        return;
    ResultRecord::recordRun(songId, sourcePath, outputExtension(), resultMainPath, resultMixPath);
    setScreen("currentLayer", QStringLiteral("success"));
}

bool FileProcessing::reportUnwritten(const QString &lead, const QString &note)
{
    // "Process is Successful!" only over two results that are there and hold something.
    QStringList failed;
    for (const QString &result : { resultMainPath, resultMixPath }) {
        const QFileInfo written(result);
        if (!written.isFile() || written.size() == 0)
            failed << result;
    }
    if (failed.isEmpty())
        return false;
    setScreen("currentLayer", choiceLayer);
    MessageBoxCustom::critical(
        this, errorTitle, QStringLiteral("%1\n\n%2").arg(lead, failed.join(QLatin1Char('\n'))) + note);
    return true;
}

void FileProcessing::openFinalFiles(const QString &type)
{
    ZELK_TRACE() << type;
    if (type == QLatin1String("folder")) {
        DesktopOpener::openPathOrExplain(QFileInfo(resultMainPath).absolutePath(), this);
        return;
    }
    const QString target = type == QLatin1String("mix") ? resultMixPath : resultMainPath;
    if (!QFileInfo::exists(target)) {
        MessageBoxCustom::critical(this, errorTitle, QStringLiteral("Downloaded files not exists:\n\n%1").arg(target));
        return;
    }
    ResultOpener::open(target, MediaFormats::isVideoOutput(MediaFormats::suffixOf(target)), this);
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
    ZELK_TRACE() << songId;
    if (stage == Stage::Choosing)
        return;
    abandonRun(true);
    setScreen("currentLayer", choiceLayer);
}

void FileProcessing::cancel()
{
    close();
}

void FileProcessing::closeEvent(QCloseEvent *event)
{
    // Closed unseen, a run would go on and its results or errors turn up over the main window.
    if (stage != Stage::Choosing) {
        const auto answer = MessageBoxCustom::warning(this, QStringLiteral("Stop Processing"),
            QStringLiteral("Stop processing %1?").arg(QFileInfo(sourcePath).fileName()),
            MessageBoxCustom::Yes | MessageBoxCustom::No, MessageBoxCustom::No);
        if (answer != MessageBoxCustom::Yes) {
            event->ignore();
            return;
        }
        cancelProcess();
    }
    HostedWindow::closeEvent(event);
}

void FileProcessing::showError(const QString &message)
{
    // The user's own CANCEL aborts the request in flight; its cancellation is no news to them.
    if (isCancelled() || stage == Stage::Choosing) {
        qDebug().noquote() << "After the run ended:" << message;
        return;
    }
    const QString text = message.trimmed().isEmpty()
        ? QStringLiteral("The service gave no answer while %1.").arg(currentStep())
        : message;
    reportFailure(errorTitle, text);
}

QString FileProcessing::currentStep() const
{
    switch (stage) {
    case Stage::Uploading:
        return repeating ? QStringLiteral("asking to process the file again") : QStringLiteral("uploading the file");
    case Stage::Processing:
        return QStringLiteral("asking for the remaining time");
    case Stage::Downloading:
    case Stage::Converting:
        return QStringLiteral("downloading the results");
    case Stage::Choosing:
    case Stage::Preparing:
        break;
    }
    return QStringLiteral("preparing the file");
}

void FileProcessing::reportFailure(const QString &title, const QString &text)
{
    abandonRun(false);
    setScreen("currentLayer", choiceLayer);
    MessageBoxCustom::critical(this, title, text);
}

void FileProcessing::abandonRun(bool tellService)
{
    const Stage ended = stage;
    // First, so that whatever arrives while the rest runs finds the run over.
    stage = Stage::Choosing;
    cancelFlag.store(1, std::memory_order_release);
    stopWorker();
    server->abortQueries();
    // Cancelled between the upload and its id, the song is cancelled once its id is known.
    if (tellService && !(ended == Stage::Uploading && server->cancelWhenSaved()))
        server->cancelProcces(songId);
    // An upload that did not end in an id may have left no copy on the service: the next PROCESS
    // prepares and uploads afresh instead of asking for a copy that is not there.
    if (ended == Stage::Uploading)
        removeIfPresent(uploadWavPath);
    if (ended == Stage::Downloading || ended == Stage::Converting) {
        server->abortDownloads();
        // The pair's names were free when the run chose them: whatever is there now is this run's.
        for (const QString &path : { mainWavPath(), mixWavPath(), resultMainPath, resultMixPath })
            removeIfPresent(path);
    }
}

void FileProcessing::startWorker(ConvertingFile *job, DoneSignal done, DoneSlot onDone, const char *entrySlot)
{
    stopWorker();
    workerThread = std::make_unique<QThread>();
    converter = job;
    converter->moveToThread(workerThread.get());
    connect(workerThread.get(), SIGNAL(started()), converter, entrySlot);
    connect(workerThread.get(), &QThread::finished, converter, &QObject::deleteLater);
    connect(converter, done, this, onDone, Qt::QueuedConnection);
    workerThread->start(QThread::InheritPriority);
}

void FileProcessing::stopWorker()
{
    if (converter) {
        converter->deleteLater();
        converter = nullptr;
    }
    if (workerThread) {
        workerThread->quit();
        workerThread->wait();
        workerThread.reset();
    }
}

bool FileProcessing::isCancelled() const
{
    return cancelFlag.load(std::memory_order_acquire) == 1;
}

bool FileProcessing::runIs(Stage expected) const
{
    return stage == expected;
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

QString FileProcessing::outputExtension() const
{
    return screenText("selectedOutputFormat").toLower();
}

QString FileProcessing::mainWavPath() const
{
    return resultMainPath + QStringLiteral(".wav");
}

QString FileProcessing::mixWavPath() const
{
    return resultMixPath + QStringLiteral(".wav");
}
