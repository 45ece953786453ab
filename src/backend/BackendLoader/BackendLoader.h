#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

#include "Archive/Archive.h"
#include "FileProcessing/FileProcessing.h"
#include "HostedWindow/HostedWindow.h"
#include "Settings/Settings.h"

class GlobalsInfo;

// Controller behind the main window: picks or receives the media file, opens the other windows
// (hiding the main window meanwhile) and serves the help menu.
class BackendLoader : public QObject
{
    Q_OBJECT

public:
    explicit BackendLoader(QObject *parent = nullptr);
    ~BackendLoader() override;

    Q_INVOKABLE void loadFile(QString path);
    // The first file opens the processing window as loadFile does; the others wait in its queue.
    Q_INVOKABLE void loadFiles(const QStringList &paths);
    // Files from the command line or another start: loaded as a drop once a user is signed in.
    void loadFilesWhenSignedIn(const QStringList &paths);
    // The main window has a signed-in user; files that waited for one are loaded.
    Q_INVOKABLE void userSignedIn();
    Q_INVOKABLE void openMyAccountWindow();
    Q_INVOKABLE void openSettingsWindow();
    Q_INVOKABLE void openArchive();
    Q_INVOKABLE void onCompleted();
    Q_INVOKABLE void clearMemory();
    Q_INVOKABLE void openUrl(QString url);
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void showLogs();
    Q_INVOKABLE void logout();
    Q_INVOKABLE void resetScf();
    Q_INVOKABLE void toggleLogging(bool active);
    Q_INVOKABLE bool getLoggingStatus();

    // Pages of the help menu: the maker's site and pages under the configured service address.
    Q_INVOKABLE QString makerPageUrl(const QString &path) const;
    Q_INVOKABLE QString servicePageUrl(const QString &path) const;

    static QString fileDialogFilter();

    // The windows as they are now; null until first opened. For the controller's own tests.
    HostedWindow *myAccountWindow() const { return myAccount.get(); }
    HostedWindow *settingsWindowObject() const { return settingsWindow.get(); }
    FileProcessing *processingWindow() const { return fileProcessing.get(); }
    HostedWindow *archiveWindow() const { return archive.get(); }

signals:
    void hideMainWindow();
    void showMainWindow();
    void scfChanged(double scf);
    // True while a chosen or dropped file is checked before its window opens.
    void fileCheck(bool busy);

public slots:
    void selectFile();
    void afterSettings();

private:
    Q_DISABLE_COPY(BackendLoader)

    GlobalsInfo *globals;
    std::unique_ptr<HostedWindow> myAccount;
    std::unique_ptr<Settings> settingsWindow;
    std::unique_ptr<FileProcessing> fileProcessing;
    bool hasUser = false;
    QStringList filesForUser;
    std::unique_ptr<Archive> archive;
    QString lastOpenPath;
    bool checkingFile = false;
};
