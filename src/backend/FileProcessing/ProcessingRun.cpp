#include "ProcessingRun.h"

#include "Archive/ResultRecord.h"
#include "ConvertingFile.h"
#include "GlobalsInfo/FolderCheck.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/MediaFormats.h"
#include "GlobalsInfo/TraceLog.h"
#include "SourceCheck.h"
#include "ZelkServer.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

namespace {

const QString errorTitle = QStringLiteral("File Processing Error");

void removeIfPresent(const QString &path)
{
    if (!path.isEmpty() && QFileInfo(path).isFile())
        QFile::remove(path);
}

} // namespace

ProcessingRun::ProcessingRun(QObject *parent)
    : QObject(parent)
    , globals(GlobalsInfo::getInstance())
    , server(std::make_unique<ZelkServer>())
{
    connect(server.get(), &ZelkServer::showError, this, &ProcessingRun::showError);
    connect(server.get(), &ZelkServer::progressPercents, this, [this](double percent) {
        if (!isCancelled() && runIs(Stage::Uploading))
            emit uploadProgress(percent);
    });
    connect(server.get(), &ZelkServer::savedWithId, this, &ProcessingRun::savedWithId);
    connect(server.get(), &ZelkServer::filesReady, this, &ProcessingRun::filesReady);
    connect(server.get(), &ZelkServer::remainSeconds, this, &ProcessingRun::takeRemaining);
    connect(server.get(), &ZelkServer::downloadingFirst, this,
        [this](double percents) { takeDownloadProgress(1, percents); });
    connect(server.get(), &ZelkServer::downloadingSecond, this,
        [this](double percents) { takeDownloadProgress(2, percents); });
}

ProcessingRun::~ProcessingRun()
{
    cancelFlag.store(1, std::memory_order_release);
    conversion.stop();
}

ProcessingRun::Problem ProcessingRun::sourceProblem(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return { errorTitle, QStringLiteral("This file cannot be opened:\n\n%1").arg(path) };
    // The same files as the file dialog offers, and only those with a sound stream ffmpeg reads: a
    // text file named ".mp3" or an empty ".wav" would fail only after the upload.
    const QString suffix = MediaFormats::suffixOf(path);
    const bool offered
        = MediaFormats::audioSources().contains(suffix) || MediaFormats::videoSources().contains(suffix);
    if (!offered || SourceCheck::sound(path) == SourceCheck::Sound::Unreadable)
        return { QStringLiteral("Unreadable File"),
            QStringLiteral("This file has no sound ZELK can read: %1").arg(QFileInfo(path).fileName()) };
    return {};
}

ProcessingRun::Problem ProcessingRun::formatProblem(const QString &path, const QString &format)
{
    if (!MediaFormats::isVideoOutput(format) || MediaFormats::hasPicture(path))
        return {};
    return { QStringLiteral("No Picture"),
        QStringLiteral("%1 has no picture for a %2 result; choose an audio format.")
            .arg(QFileInfo(path).fileName(), format.toUpper()) };
}

ProcessingRun::Problem ProcessingRun::serviceProblem()
{
    if (server->checkInternetConnection())
        return {};
    const QString unreachable = server->probeFailure();
    if (!unreachable.isEmpty())
        return { QStringLiteral("Service Unreachable"), unreachable };
    return { QStringLiteral("No Internet Connection"),
        QStringLiteral("An active internet connection is required to use current application\n"
                       "Please check your network settings and try again.") };
}

ProcessingRun::Problem ProcessingRun::startProblem() const
{
    // Before any work: the results must have a place, and it must be the one the user chose.
    if (const QString problem = FolderCheck::saveFolderProblem(resultFolder()); !problem.isEmpty())
        return { FolderCheck::saveFolderTitle(), problem };
    if (globals->getTempPath().isEmpty())
        return { errorTitle, QStringLiteral("The temporary folder cannot be created.") };
    return {};
}

void ProcessingRun::setSource(const QString &path)
{
    cancelFlag.store(0, std::memory_order_release);
    removeUploaded();
    sourcePath = path;
    download1Percent = download2Percent = 0;
    songId = 0;
}

void ProcessingRun::removeUploaded()
{
    if (uploadWavPath.isEmpty() || !QFileInfo::exists(uploadWavPath))
        return;
    server->removeUploaded(QFileInfo(uploadWavPath).fileName());
    QFile::remove(uploadWavPath);
}

void ProcessingRun::start(const QString &instrument, const QString &format)
{
    ZELK_TRACE() << sourcePath << instrument << format;
    if (isRunning())
        return;
    runInstrument = instrument;
    runFormat = format.toLower();
    cancelFlag.store(0, std::memory_order_release);
    download1Percent = download2Percent = 0;

    if (!uploadWavPath.isEmpty() && QFileInfo::exists(uploadWavPath)) {
        repeatWithSameUploaded();
        return;
    }

    uploadWavPath
        = QStringLiteral("%1/%2.wav").arg(globals->getTempPath(), globals->generateRandomString(16));
    stage = Stage::Preparing;
    // A WAV goes up as it is only when the service takes it so; any other is converted like the rest.
    if (MediaFormats::suffixOf(sourcePath) == QLatin1String("wav") && SourceCheck::isServiceWav(sourcePath)) {
        QFile::copy(sourcePath, uploadWavPath);
        doneUploadConverting();
        return;
    }
    emit convertingText(QStringLiteral("Preparing a file for upload"));
    emit stageChanged(stage);
    startWorker(new ConvertingFile(&cancelFlag, sourcePath, uploadWavPath, QString(), true),
        &ConvertingFile::doneUploadConverting, &ProcessingRun::doneUploadConverting,
        &ConvertingFile::prepareToUpload);
}

void ProcessingRun::doneUploadConverting()
{
    if (isCancelled() || !runIs(Stage::Preparing))
        return;
    if (!QFileInfo::exists(uploadWavPath)) {
        reportFailure(QStringLiteral("Converting Error"),
            QStringLiteral("An error occurred preparing the file for upload"));
        return;
    }
    repeating = false;
    enter(Stage::Uploading);
    const bool sent
        = server->proceedFile(runInstrument, uploadWavPath, QFileInfo(sourcePath).completeBaseName(),
            globals->getUserHash(), QStringLiteral("full"), sourcePath, runFormat);
    // Nothing was sent: the failure removes the WAV, so the next run prepares it again.
    if (!sent)
        reportFailure(QStringLiteral("Converting Error"),
            QStringLiteral("The file prepared for upload could not be read:\n\n%1").arg(uploadWavPath));
}

void ProcessingRun::repeatWithSameUploaded()
{
    repeating = true;
    enter(Stage::Uploading);
    server->repeatFile(runInstrument, QFileInfo(uploadWavPath).fileName(),
        QFileInfo(sourcePath).completeBaseName(), globals->getUserHash(), QStringLiteral("full"), sourcePath,
        runFormat);
}

void ProcessingRun::savedWithId(int id)
{
    if (isCancelled() || !runIs(Stage::Uploading))
        return;
    songId = id;
    enter(Stage::Processing);
    server->getRemainSeconds(songId);
}

void ProcessingRun::takeRemaining(int seconds)
{
    if (!isCancelled() && runIs(Stage::Processing))
        emit remainingSeconds(seconds);
}

void ProcessingRun::askRemaining()
{
    if (!isCancelled() && runIs(Stage::Processing))
        server->getRemainSeconds(songId);
}

void ProcessingRun::filesReady()
{
    // Two queries in flight may both say the results are ready; only the first starts the downloads.
    if (isCancelled() || !runIs(Stage::Processing))
        return;
    // The folder may have gone while the service worked; the results go into it or nowhere.
    const QString folder = resultFolder();
    if (const QString problem = FolderCheck::saveFolderProblem(folder); !problem.isEmpty()) {
        reportFailure(FolderCheck::saveFolderTitle(), problem);
        return;
    }
    const QString baseName = QFileInfo(sourcePath).completeBaseName();
    resultMainPath = QStringLiteral("%1/%2 - %3.%4").arg(folder, runInstrument, baseName, runFormat);
    resultMixPath
        = QStringLiteral("%1/Mix Without %2 - %3.%4").arg(folder, runInstrument, baseName, runFormat);
    // A pair is taken when any of its four files is there, so no download replaces a user's file.
    const auto taken = [this] {
        return QFileInfo::exists(resultMainPath) || QFileInfo::exists(resultMixPath)
            || QFileInfo::exists(mainWavPath()) || QFileInfo::exists(mixWavPath());
    };
    // One substitution for all parts: a "%2" in a file's name must not take the number.
    for (int n = 1; taken(); ++n) {
        const QString number = QString::number(n);
        resultMainPath
            = QStringLiteral("%1/%2 - %3 (%5).%4").arg(folder, runInstrument, baseName, runFormat, number);
        resultMixPath = QStringLiteral("%1/Mix Without %2 - %3 (%5).%4")
                            .arg(folder, runInstrument, baseName, runFormat, number);
    }
    enter(Stage::Downloading);
    server->downloadFiles(songId, mainWavPath(), mixWavPath(), QFileInfo(uploadWavPath).size());
}

void ProcessingRun::takeDownloadProgress(int part, double percents)
{
    if (isCancelled() || !runIs(Stage::Downloading))
        return;
    (part == 1 ? download1Percent : download2Percent) = percents;
    emit downloadProgress(part, percents);
    // Each download reports exactly 100 once, when its file is complete: this is the later of the two.
    if (download1Percent == 100.0 && download2Percent == 100.0)
        finalConvert();
}

void ProcessingRun::finalConvert()
{
    if (isCancelled())
        return;
    stage = Stage::Converting;
    if (runFormat == QLatin1String("wav")) {
        const bool moved
            = QFile::rename(mainWavPath(), resultMainPath) && QFile::rename(mixWavPath(), resultMixPath);
        // Whatever was moved or downloaded stays where it is.
        stage = Stage::Choosing;
        if (!moved) {
            reportFailure(errorTitle,
                QStringLiteral("The downloaded results could not be moved to:\n\n%1\n%2")
                    .arg(resultMainPath, resultMixPath));
            return;
        }
        if (!reportUnwritten(QStringLiteral("These results were not written:")))
            finish();
        return;
    }
    emit convertingText(
        QStringLiteral("Converting '%1 - file.wav'\nto selected output format").arg(runInstrument));
    emit stageChanged(stage);
    startWorker(new ConvertingFile(&cancelFlag, mainWavPath(), resultMainPath, sourcePath, true),
        &ConvertingFile::doneMain, &ProcessingRun::finalConvertMix, &ConvertingFile::prepareFinal);
}

void ProcessingRun::finalConvertMix()
{
    if (isCancelled() || !runIs(Stage::Converting))
        return;
    emit convertingText(QStringLiteral("Converting 'mix without %1 - file.wav'\nto selected output format")
                            .arg(runInstrument));
    startWorker(new ConvertingFile(&cancelFlag, mixWavPath(), resultMixPath, sourcePath, false),
        &ConvertingFile::doneMix, &ProcessingRun::successProcces, &ConvertingFile::prepareFinal);
}

void ProcessingRun::successProcces()
{
    if (isCancelled() || !runIs(Stage::Converting))
        return;
    stage = Stage::Choosing;
    if (!reportUnwritten(QStringLiteral("Could not convert to the selected format:"),
            QStringLiteral("\n\nThe downloaded WAV is kept beside it, with \".wav\" added to the name.")))
        finish();
}

void ProcessingRun::finish()
{
    ResultRecord::recordRun(songId, sourcePath, runFormat, resultMainPath, resultMixPath);
    emit succeeded(resultMainPath, resultMixPath);
}

bool ProcessingRun::reportUnwritten(const QString &lead, const QString &note)
{
    // Success only over two results that are there and hold something.
    QStringList failures;
    for (const QString &result : { resultMainPath, resultMixPath }) {
        const QFileInfo written(result);
        if (!written.isFile() || written.size() == 0)
            failures << result;
    }
    if (failures.isEmpty())
        return false;
    emit failed(errorTitle, QStringLiteral("%1\n\n%2").arg(lead, failures.join(QLatin1Char('\n'))) + note);
    return true;
}

void ProcessingRun::cancel()
{
    ZELK_TRACE() << songId;
    if (isRunning())
        abandonRun(true);
}

void ProcessingRun::showError(const QString &message)
{
    // The user's own CANCEL aborts the request in flight; its cancellation is no news to them.
    if (isCancelled() || !isRunning()) {
        qDebug().noquote() << "After the run ended:" << message;
        return;
    }
    const QString text = message.trimmed().isEmpty()
        ? QStringLiteral("The service gave no answer while %1.").arg(currentStep())
        : message;
    reportFailure(errorTitle, text);
}

QString ProcessingRun::currentStep() const
{
    switch (stage) {
    case Stage::Uploading:
        return repeating ? QStringLiteral("asking to process the file again")
                         : QStringLiteral("uploading the file");
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

void ProcessingRun::reportFailure(const QString &title, const QString &text)
{
    abandonRun(false);
    emit failed(title, text);
}

void ProcessingRun::abandonRun(bool tellService)
{
    const Stage ended = stage;
    // First, so that whatever arrives while the rest runs finds the run over.
    stage = Stage::Choosing;
    cancelFlag.store(1, std::memory_order_release);
    conversion.stop();
    server->abortQueries();
    // Cancelled between the upload and its id, the song is cancelled once its id is known.
    if (tellService && !(ended == Stage::Uploading && server->cancelWhenSaved()))
        server->cancelProcces(songId);
    // An upload that did not end in an id may have left no copy on the service: the next run
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

void ProcessingRun::enter(Stage next)
{
    stage = next;
    emit stageChanged(stage);
}

void ProcessingRun::startWorker(ConvertingFile *job, DoneSignal done, DoneSlot onDone, EntrySlot entry)
{
    connect(job, done, this, onDone, Qt::QueuedConnection);
    conversion.start(job, entry);
}

bool ProcessingRun::isCancelled() const
{
    return cancelFlag.load(std::memory_order_acquire) == 1;
}

QString ProcessingRun::resultFolder() const
{
    return saveFolder.isEmpty() ? globals->chosenSavePath() : saveFolder;
}
