#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>

#include "HostedWindow/HostedWindow.h"

class QSettings;

// The window of the user's defaults: folders, formats, instrument, players and GUI scale. It shows
// what it last loaded or saved, writes the seven defaults (and a changed scale) on OK once both
// folders are ready, and the scale's own OK, a confirmed restore and a found player at once.
class Settings : public HostedWindow
{
    Q_OBJECT

public:
    // Asks the user for a folder (title, start folder) or an application (title, start folder, filter);
    // empty when the user gives none.
    using FolderDialog = std::function<QString(const QString &, const QString &)>;
    using ApplicationDialog = std::function<QString(const QString &, const QString &, const QString &)>;

    explicit Settings(QWidget *parent = nullptr);
    ~Settings() override;

    // Where findAppPath() looks, and the dialogs; tests put their own in place of the desktop's.
    void setApplicationFolders(const QStringList &folders) { appFolders = folders; }
    void setFolderDialog(FolderDialog dialog) { askForFolder = std::move(dialog); }
    void setApplicationDialog(ApplicationDialog dialog) { askForApplication = std::move(dialog); }

    QString findAppPath(const QString &name) const;

signals:
    void setProgramSettings(const QVariant &settings);
    void resetOpening(const QString &field);
    void updatePathField(const QString &path, const QString &key);
    // The saved "Open File Location" differs from the one before: file choosers start there now.
    void openFolderChanged(const QString &folder);

public slots:
    void saveScf(double scale);
    void cancel();
    void defaultSettings();
    void checkPathIsExisted(const QString &key, const QString &field);
    void chooseNewPath(const QString &settingsKey, const QString &path);
    void save(const QVariant &data);

protected:
    void fillDocument() override;

private:
    Q_DISABLE_COPY(Settings)

    void initQMLconnections();
    void prepareSettings();
    // Sizes the window for `chosen` (smaller if the screen needs it) and shows `chosen` in the list:
    // fitting to the screen never becomes the user's choice.
    void showScale(double chosen);
    // Creates or checks both folders of `values`, writing back their cleaned paths; false, after
    // telling the user why, when one cannot be used.
    bool prepareFolders(QVariantMap &values);
    void announceOpenFolder(const QString &before);

    QVariantMap cache;
    QSettings *store = nullptr;
    QStringList appFolders;
    FolderDialog askForFolder;
    ApplicationDialog askForApplication;
};
