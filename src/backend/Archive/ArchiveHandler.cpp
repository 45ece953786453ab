#include "ArchiveHandler.h"

#include "FileProcessing/ConvertingFile.h"
#include "FileProcessing/ZelkServer.h"
#include "GlobalsInfo/MediaFormats.h"
#include "GlobalsInfo/TraceLog.h"
#include "plugins/MessageBoxCustom.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>

namespace {

const HostedWindow::Description handlerWindow { QStringLiteral("Downloading File"),
    QUrl(QStringLiteral("qrc:/qml/ArchiveHandler.qml")), QSize(470, 350), false,
    Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint };

const QString errorTitle = QStringLiteral("File Processing Error");

} // namespace

ArchiveHandler::ArchiveHandler(QWidget *parent)
    : HostedWindow(handlerWindow, parent)
    , server(std::make_unique<ZelkServer>())
{
    setWindowModality(Qt::ApplicationModal);
    connect(server.get(), &ZelkServer::showError, this, &ArchiveHandler::showError);
    connect(server.get(), &ZelkServer::downloadingFirst, this, &ArchiveHandler::downloadingFirst);
    connectFromRoot(SIGNAL(cancelProcess()), SLOT(cancelProcess()));
}

ArchiveHandler::~ArchiveHandler()
{
    cancelFlag.store(1, std::memory_order_release);
    conversion.stop();
}

void ArchiveHandler::openWindow(const QString &target, const QString &picture, const QString &local)
{
    ZELK_TRACE() << target << picture << local;
    targetPath = target;
    picturePath = picture;
    localPath = local;
    downloadPath.clear();
    songId = -1;
    stage = Stage::Idle;
    cancelFlag.store(0, std::memory_order_release);
    showScaled();
}

void ArchiveHandler::fillDocument()
{
    // An empty mode also clears the name and the percentage that the last opening left.
    setScreen("mode", QString());
    setScreen("fileName", QFileInfo(localPath).fileName());
}

void ArchiveHandler::download(int id, bool isMix)
{
    ZELK_TRACE() << id << isMix;
    songId = id;
    stage = Stage::Downloading;
    downloadPath = freeDownloadPath();
    setScreen("mode", QStringLiteral("downloading"));
    server->downloadSingle(id, downloadPath, isMix);
}

QString ArchiveHandler::freeDownloadPath() const
{
    // The download replaces whatever lies at its path, so it must be a name nobody uses.
    QString path = QStringLiteral("%1.wav").arg(targetPath);
    for (int n = 1; QFileInfo::exists(path); ++n)
        path = QStringLiteral("%1 (%2).wav").arg(targetPath, QString::number(n));
    return path;
}

void ArchiveHandler::downloadingFirst(double percents)
{
    if (isCancelled() || stage != Stage::Downloading)
        return;
    setScreen("downloadingPercent", percents);
    if (percents != 100.0)
        return;
    // The transfer is complete: from here on a cancel leaves the service's song alone.
    stage = Stage::Converting;
    if (!QFileInfo::exists(downloadPath)) {
        showError(QStringLiteral("File not downloaded"));
        return;
    }
    if (MediaFormats::suffixOf(targetPath) == QLatin1String("wav")) {
        // A rename never replaces a file that appeared at the target meanwhile.
        if (!QFile::rename(downloadPath, targetPath)) {
            showError(QStringLiteral("The downloaded file could not be moved to:\n\n%1").arg(targetPath));
            return;
        }
        doneConvert();
        return;
    }
    setScreen("mode", QStringLiteral("converting"));
    startConversion();
}

void ArchiveHandler::doneConvert()
{
    if (isCancelled() || stage != Stage::Converting)
        return;
    if (!QFileInfo::exists(targetPath)) {
        reportConversionFailure(targetPath);
        return;
    }
    stage = Stage::Idle;
    emit finishWork();
    close();
}

void ArchiveHandler::reportConversionFailure(const QString &missing)
{
    stage = Stage::Idle;
    // What the failed step left behind may still change the row, so the row looks at the disk again.
    emit finishWork();
    MessageBoxCustom::critical(
        this, errorTitle, QStringLiteral("Could not convert the file to:\n\n%1").arg(missing));
    close();
}

void ArchiveHandler::cancelProcess()
{
    close();
}

void ArchiveHandler::showError(const QString &message)
{
    qDebug().noquote() << "Archive download:" << message;
    // The user's own cancel aborts the request in flight; its cancellation is no news to them.
    if (isCancelled() || stage == Stage::Idle)
        return;
    stage = Stage::Idle;
    MessageBoxCustom::critical(this, errorTitle, message);
    close();
}

void ArchiveHandler::closeEvent(QCloseEvent *event)
{
    ZELK_TRACE() << songId;
    cancelFlag.store(1, std::memory_order_release);
    // Only a transfer cut short tells the service; after a complete one it would drop the song's results.
    const bool interrupted = stage == Stage::Downloading;
    stage = Stage::Idle;
    conversion.stop();
    // A transfer still running would write into the save folder after the window has gone.
    server->abortDownloads();
    if (interrupted && songId != -1)
        server->cancelProcces(songId);
    // The download's name was free when it was chosen: whatever lies there now is this opening's.
    if (!downloadPath.isEmpty() && QFileInfo(downloadPath).isFile())
        QFile::remove(downloadPath);
    event->accept();
}

void ArchiveHandler::startConversion()
{
    // An audio target takes the song's tags from the source, when it is still there.
    auto *job = new ConvertingFile(
        &cancelFlag, downloadPath, targetPath, picturePath.isEmpty() ? localPath : picturePath, true);
    connect(job, &ConvertingFile::doneMain, this, &ArchiveHandler::doneConvert, Qt::QueuedConnection);
    conversion.start(job, &ConvertingFile::prepareFinal);
}

bool ArchiveHandler::isCancelled() const
{
    return cancelFlag.load(std::memory_order_acquire) == 1;
}

void ArchiveHandler::setScreen(const char *name, const QVariant &value)
{
    if (root)
        root->setProperty(name, value);
}
