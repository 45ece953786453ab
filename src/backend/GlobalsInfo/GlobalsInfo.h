#pragma once

#include <QList>
#include <QSettings>
#include <QString>
#include <QUrl>
#include <QUrlQuery>
#include <QVariantMap>

#include <memory>

// Process-wide settings store and cache of the signed-in user's data.
class GlobalsInfo
{
public:
    struct User
    {
        qint32 userId = 0;
        QString name;
        QString email;
        QString hash;
    };

    static GlobalsInfo *getInstance();
    ~GlobalsInfo();

    const QString appKey;

    QString getDocumentsPath() const;
    QString getSavePath() const;
    // The save folder as chosen, whether it exists or not: results go there or nowhere.
    QString chosenSavePath() const;
    QString getOpenPath() const;
    QString getLogsAppPath() const;
    QString getTempPath() const;

    QString getAppForVideo() const;
    QString getAppForAudio() const;
    QString getVideoFormat() const;
    QString getAudioFormat() const;
    QString getInstrument() const;
    QString getOrvaneAppPath(const QString &key) const;

    double getSettingsGuiScale() const;
    void setSettingsGuiScale(double scale);

    QString getPublicKey() const;
    void setPublicKey(const QString &key);

    QList<QUrl> getSidebarUrls(const QString &extraPath) const;
    void setSidebarUrls(const QList<QUrl> &urls);

    // Base URL of the processing service (scheme, host, port) and the connectivity probe's URL.
    QUrl getServiceUrl() const;
    QUrl getProbeUrl() const;
    QUrl serviceEndpoint(const QString &path) const;

    void removeAllSettings();
    QSettings *appSettings() const;

    void saveCustomerInfo(const QVariantMap &record);
    void updatePersonalInfo(const QString &name, const QString &email);
    qint32 getUserID() const;
    QString getUserName() const;
    QString getUserEmail() const;
    QString getUserHash() const;

    QString generateRandomString(int length) const;
    QString generateAccessToken(const QString &text) const;
    QUrlQuery generateWebAccessData() const;

    // The auth file's name part: MD5 of the upper-cased machine id, shared by sign-in and sign-out.
    static QString machineId();
    QString authFilePath() const;

private:
    GlobalsInfo();
    Q_DISABLE_COPY(GlobalsInfo)

    QString folderSetting(const QString &key, const QString &subFolder) const;

    User user;
    std::unique_ptr<QSettings> settings;
};
