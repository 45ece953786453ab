#include "GlobalsInfo.h"

#include "AppIdentity.h"
#include "PlatformPaths.h"
#include "ServiceDefaults.h"
#include "SettingsKeys.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QSysInfo>

#include <mutex>

namespace {

const QString sidebarSeparator = QStringLiteral("|||");
const QString randomAlphabet
    = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

QString localServiceBase()
{
    return QStringLiteral("http://%1:%2")
        .arg(QLatin1String(ServiceDefaults::host))
        .arg(ServiceDefaults::port);
}

} // namespace

GlobalsInfo *GlobalsInfo::getInstance()
{
    static std::unique_ptr<GlobalsInfo> instance;
    static std::once_flag created;
    std::call_once(created, [] { instance.reset(new GlobalsInfo); });
    return instance.get();
}

GlobalsInfo::GlobalsInfo()
    : appKey(QStringLiteral("+#@472-!kRmwoE"))
    , settings(std::make_unique<QSettings>(
          QStringLiteral("%1/%2").arg(getDocumentsPath(), AppIdentity::settingsFileName),
          QSettings::IniFormat))
{ }

GlobalsInfo::~GlobalsInfo()
{
    // Values written late in the run must not wait for a deferred write that never comes.
    settings->sync();
}

QString GlobalsInfo::getDocumentsPath() const
{
    const QString inDocuments = QStringLiteral("%1/%2").arg(
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), AppIdentity::applicationName);
    if (QFileInfo(inDocuments).isDir())
        return inDocuments;

    const QString inAppData = QStringLiteral("%1/%2").arg(
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation), AppIdentity::applicationName);
    if (QFileInfo(inAppData).isDir())
        return inAppData;

    return {};
}

QString GlobalsInfo::folderSetting(const QString &key, const QString &subFolder) const
{
    const QString fallback = QStringLiteral("%1/%2").arg(getDocumentsPath(), subFolder);
    const QString path = settings->value(key, fallback).toString();
    if (!QFileInfo(path).isDir())
        QDir().mkdir(path);
    return QFileInfo(path).isDir() ? path : QString();
}

QString GlobalsInfo::getSavePath() const
{
    return folderSetting(SettingsKeys::pathSave(), QStringLiteral("Save"));
}

QString GlobalsInfo::chosenSavePath() const
{
    return settings->value(SettingsKeys::pathSave(), QStringLiteral("%1/Save").arg(getDocumentsPath()))
        .toString();
}

QString GlobalsInfo::getOpenPath() const
{
    return folderSetting(SettingsKeys::pathOpen(), QStringLiteral("Audio"));
}

QString GlobalsInfo::getLogsAppPath() const
{
    return folderSetting(SettingsKeys::pathLogs(), QStringLiteral("Logs"));
}

QString GlobalsInfo::getTempPath() const
{
    return folderSetting(SettingsKeys::pathTemp(), QStringLiteral("Temp"));
}

QString GlobalsInfo::getAppForVideo() const
{
    return settings->value(SettingsKeys::videoPlayer(), QStringLiteral("Default Video Player")).toString();
}

QString GlobalsInfo::getAppForAudio() const
{
    return settings->value(SettingsKeys::audioPlayer(), QStringLiteral("Default Audio Player")).toString();
}

QString GlobalsInfo::getVideoFormat() const
{
    return settings->value(SettingsKeys::videoFormat(), QStringLiteral("none")).toString();
}

QString GlobalsInfo::getAudioFormat() const
{
    return settings->value(SettingsKeys::audioFormat(), QStringLiteral("none")).toString();
}

QString GlobalsInfo::getInstrument() const
{
    return settings->value(SettingsKeys::instrument(), QStringLiteral("none")).toString();
}

QString GlobalsInfo::getOrvaneAppPath(const QString &key) const
{
    return settings->value(key).toString();
}

double GlobalsInfo::getSettingsGuiScale() const
{
    return settings->value(SettingsKeys::guiScale(), QStringLiteral("1")).toString().toDouble();
}

void GlobalsInfo::setSettingsGuiScale(double scale)
{
    settings->setValue(SettingsKeys::guiScale(), scale);
}

QString GlobalsInfo::getPublicKey() const
{
    return settings->value(SettingsKeys::publicKey()).toString();
}

void GlobalsInfo::setPublicKey(const QString &key)
{
    settings->setValue(SettingsKeys::publicKey(), key);
}

QList<QUrl> GlobalsInfo::getSidebarUrls(const QString &extraPath) const
{
    const QString stored = settings->value(SettingsKeys::sidebar()).toString();
    QList<QUrl> urls;
    if (stored.isEmpty()) {
        const QStandardPaths::StandardLocation locations[] = {
            QStandardPaths::HomeLocation,
            QStandardPaths::DesktopLocation,
            QStandardPaths::DocumentsLocation,
            QStandardPaths::DownloadLocation,
            QStandardPaths::MusicLocation,
            QStandardPaths::MoviesLocation,
        };
        for (const auto location : locations)
            urls << QUrl::fromLocalFile(QStandardPaths::writableLocation(location));
        for (const QFileInfo &drive : QDir::drives())
            urls << QUrl::fromLocalFile(drive.absolutePath());

        const QFileInfo cloudDrive(
            QDir::homePath() + QStringLiteral("/Library/Mobile Documents/com~apple~CloudDocs"));
        if (cloudDrive.isDir() && cloudDrive.isReadable())
            urls << QUrl::fromLocalFile(cloudDrive.filePath());

        const QDir volumes(PlatformPaths::volumesFolder());
        for (const QFileInfo &volume : volumes.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort))
            urls << QUrl::fromLocalFile(volume.absoluteFilePath());
    } else {
        for (const QString &part : stored.split(sidebarSeparator))
            urls << QUrl(part, QUrl::TolerantMode);
    }

    if (!extraPath.isEmpty()) {
        const QUrl extra = QUrl::fromLocalFile(extraPath);
        if (!urls.contains(extra))
            urls << extra;
    }
    return urls;
}

void GlobalsInfo::setSidebarUrls(const QList<QUrl> &urls)
{
    QStringList parts;
    parts.reserve(urls.size());
    for (const QUrl &url : urls)
        parts << url.toString();
    settings->setValue(SettingsKeys::sidebar(), parts.join(sidebarSeparator));
}

QUrl GlobalsInfo::getServiceUrl() const
{
    return QUrl(settings->value(SettingsKeys::serviceUrl(), localServiceBase()).toString());
}

QUrl GlobalsInfo::getProbeUrl() const
{
    return QUrl(
        settings->value(SettingsKeys::probeUrl(), localServiceBase() + QStringLiteral("/generate_204"))
            .toString());
}

QUrl GlobalsInfo::serviceEndpoint(const QString &path) const
{
    QUrl url = getServiceUrl();
    QString base = url.path();
    if (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + path);
    return url;
}

void GlobalsInfo::removeAllSettings()
{
    for (const QString &key : SettingsKeys::userChoices())
        settings->remove(key);
}

QSettings *GlobalsInfo::appSettings() const
{
    return settings.get();
}

void GlobalsInfo::saveCustomerInfo(const QVariantMap &record)
{
    user.userId = record.value(QStringLiteral("user_id")).toInt();
    user.name = record.value(QStringLiteral("name")).toString();
    user.email = record.value(QStringLiteral("email")).toString();
    user.hash = record.value(QStringLiteral("hash")).toString();
}

void GlobalsInfo::updatePersonalInfo(const QString &name, const QString &email)
{
    user.name = name;
    user.email = email;
}

qint32 GlobalsInfo::getUserID() const
{
    return user.userId;
}

QString GlobalsInfo::getUserName() const
{
    return user.name;
}

QString GlobalsInfo::getUserEmail() const
{
    return user.email;
}

QString GlobalsInfo::getUserHash() const
{
    return user.hash;
}

QString GlobalsInfo::generateRandomString(int length) const
{
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += randomAlphabet.at(QRandomGenerator::global()->bounded(randomAlphabet.size()));
    return text;
}

QString GlobalsInfo::generateAccessToken(const QString &text) const
{
    const QString filled = QStringLiteral("%1!~@@*~!%1QWEpoi%1").arg(text);
    return QString::fromLatin1(QCryptographicHash::hash(filled.toUtf8(), QCryptographicHash::Md5).toHex());
}

QUrlQuery GlobalsInfo::generateWebAccessData() const
{
    const QString publicKey = generateRandomString(10);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("publicKey"), publicKey);
    query.addQueryItem(QStringLiteral("accessToken"), generateAccessToken(publicKey));
    return query;
}

QString GlobalsInfo::machineId()
{
    return QString::fromUtf8(QSysInfo::machineUniqueId()).toUpper();
}

QString GlobalsInfo::authFilePath() const
{
    const QByteArray digest = QCryptographicHash::hash(machineId().toUtf8(), QCryptographicHash::Md5).toHex();
    return QStringLiteral("%1/%2.authkey").arg(getDocumentsPath(), QString::fromLatin1(digest));
}
