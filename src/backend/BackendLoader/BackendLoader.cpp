#include "BackendLoader.h"

#include "GlobalsInfo/AppIdentity.h"
#include "GlobalsInfo/DesktopOpener.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/MediaFormats.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "GlobalsInfo/TraceLog.h"
#include "MyAccount/MyAccount.h"
#include "plugins/LoggingManager.h"
#include "plugins/MessageBoxCustom.h"
#include "plugins/UpdateManager.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QUrl>

namespace {

const QString makerSite = QStringLiteral("https://www.orvanesoftware.com");

} // namespace

BackendLoader::BackendLoader(QObject *)
    : globals(GlobalsInfo::getInstance())
    , lastOpenPath(globals->getOpenPath())
{ }

BackendLoader::~BackendLoader()
{
    // Tells the logging plug-in, while it is still installed, to close its file.
    qCritical("LOG_CLOSE");
}

QString BackendLoader::fileDialogFilter()
{
    const QString separator = QStringLiteral(" *.");
    const QStringList &audio = MediaFormats::audioSources();
    const QStringList &video = MediaFormats::videoSources();
    const QStringList filters {
        QStringLiteral("All Openable Files (*.") + (audio + video).join(separator),
        QStringLiteral("Audio Files (*.") + audio.join(separator),
        QStringLiteral("Video Files (*.") + video.join(separator),
    };
    return filters.join(QStringLiteral(");;\n")) + QLatin1Char(')');
}

void BackendLoader::loadFile(QString path)
{
    ZELK_TRACE() << path;
    if (!fileProcessing) {
        fileProcessing = std::make_unique<FileProcessing>();
        connect(fileProcessing.get(), &FileProcessing::showParent, this, &BackendLoader::showMainWindow);
        connect(fileProcessing.get(), &FileProcessing::openAnotherFile, this, &BackendLoader::selectFile);
    }
    // A second drop while a file is being checked waits for nothing: the first one is answered first.
    if (checkingFile)
        return;
    // The checks can take seconds (ffmpeg, the service): the main window stays, under its cover.
    checkingFile = true;
    emit fileCheck(true);
    const bool opened = fileProcessing->openWindow(path);
    checkingFile = false;
    emit fileCheck(false);
    if (opened)
        emit hideMainWindow();
}

void BackendLoader::openMyAccountWindow()
{
    ZELK_TRACE();
    if (!myAccount) {
        myAccount = std::make_unique<MyAccount>();
        connect(myAccount.get(), &HostedWindow::showParent, this, &BackendLoader::showMainWindow);
    }
    emit hideMainWindow();
    myAccount->openWindow();
}

void BackendLoader::openSettingsWindow()
{
    ZELK_TRACE();
    if (!settingsWindow) {
        settingsWindow = std::make_unique<Settings>();
        connect(settingsWindow.get(), &Settings::showParent, this, &BackendLoader::afterSettings);
        connect(settingsWindow.get(), &Settings::openFolderChanged, this,
            [this](const QString &folder) { lastOpenPath = folder; });
    }
    emit hideMainWindow();
    settingsWindow->openWindow();
}

void BackendLoader::openArchive()
{
    ZELK_TRACE();
    if (!archive) {
        archive = std::make_unique<Archive>();
        connect(archive.get(), &HostedWindow::showParent, this, &BackendLoader::showMainWindow);
    }
    emit hideMainWindow();
    archive->openWindow();
}

void BackendLoader::selectFile()
{
    ZELK_TRACE();
    QFileDialog dialog(
        nullptr, QStringLiteral("Please choose a media file"), lastOpenPath, fileDialogFilter());
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog.setFileMode(QFileDialog::ExistingFiles);
#if !defined(Q_OS_MACOS)
    // Only Qt's own dialog shows the remembered sidebar.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
    dialog.setMinimumSize(600, 400);
    dialog.setMaximumSize(1300, 700);
    dialog.resize(800, 500);
    dialog.setSidebarUrls(globals->getSidebarUrls(lastOpenPath));

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    lastOpenPath = dialog.directory().absolutePath();
    globals->setSidebarUrls(dialog.sidebarUrls());
    loadFiles(dialog.selectedFiles());
}

void BackendLoader::loadFilesWhenSignedIn(const QStringList &paths)
{
    ZELK_TRACE() << paths;
    if (!hasUser) {
        filesForUser << paths;
        return;
    }
    // An open processing window takes them into its queue, behind whatever it is doing.
    if (fileProcessing && fileProcessing->isVisible())
        fileProcessing->queueFiles(paths);
    else
        loadFiles(paths);
}

void BackendLoader::userSignedIn()
{
    hasUser = true;
    loadFilesWhenSignedIn(std::exchange(filesForUser, {}));
}

void BackendLoader::loadFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    loadFile(paths.constFirst());
    if (fileProcessing && fileProcessing->isVisible())
        fileProcessing->queueFiles(paths.mid(1));
}

void BackendLoader::onCompleted()
{
    emit scfChanged(globals->getSettingsGuiScale());
}

void BackendLoader::afterSettings()
{
    emit scfChanged(globals->getSettingsGuiScale());
    emit showMainWindow();
}

void BackendLoader::resetScf()
{
    globals->appSettings()->remove(SettingsKeys::guiScale());
}

void BackendLoader::clearMemory()
{
    ZELK_TRACE();
    myAccount.reset();
    settingsWindow.reset();
    archive.reset();
    if (fileProcessing)
        fileProcessing->removeUploaded();
    fileProcessing.reset();

    const QString tempPath = globals->getTempPath();
    if (tempPath.isEmpty())
        return;
    const QDir temp(tempPath);
    for (const QString &entry : temp.entryList(QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(temp.filePath(entry));
}

void BackendLoader::openUrl(QString url)
{
    ZELK_TRACE() << url;
    DesktopOpener::openOrExplain(QUrl(url, QUrl::TolerantMode), url);
}

void BackendLoader::checkForUpdates()
{
    ZELK_TRACE();
    if (!UpdateManager::instance()) {
        MessageBoxCustom::information(nullptr, QStringLiteral("Check For Updates"),
            QStringLiteral("Updates are not available in this build."));
        return;
    }
    UpdateManager::instance()->checkForUpdates(AppIdentity::versionNumber, AppIdentity::versionText);
}

void BackendLoader::showLogs()
{
    ZELK_TRACE();
    const QString folder = globals->getLogsAppPath();
    DesktopOpener::openPathOrExplain(folder);
}

void BackendLoader::logout()
{
    hasUser = false;
    QFile::remove(globals->authFilePath());
}

void BackendLoader::toggleLogging(bool active)
{
    ZELK_TRACE() << active;
    if (LoggingManager::instance())
        LoggingManager::instance()->switchLogging(active);
}

bool BackendLoader::getLoggingStatus()
{
    return globals->appSettings()->value(SettingsKeys::logFileEnabled()).toBool();
}

QString BackendLoader::makerPageUrl(const QString &path) const
{
    return makerSite + path;
}

QString BackendLoader::servicePageUrl(const QString &path) const
{
    return globals->serviceEndpoint(path).toString();
}
