#include "GlobalsInfo.h"

#include "AppIdentity.h"
#include "PlatformPaths.h"
#include "ServiceDefaults.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QSysInfo>

#include <mutex>

namespace {

const QString keyVideoPlayer = QStringLiteral("default_video_player");
const QString keyAudioPlayer = QStringLiteral("default_audio_player");
const QString keyVideoFormat = QStringLiteral("default_video_format");
const QString keyAudioFormat = QStringLiteral("default_audio_format");
const QString keyInstrument = QStringLiteral("default_instrument");
const QString keyPathSave = QStringLiteral("default_path_save");
const QString keyPathOpen = QStringLiteral("default_path_open");
const QString keyPathLogs = QStringLiteral("default_path_logs");
const QString keyPathTemp = QStringLiteral("default_path_temp");
const QString keyGuiScale = QStringLiteral("settings_gui_scale");
const QString keyPublicKey = QStringLiteral("auth_public_key");
const QString keySidebar = QStringLiteral("sidebarUrls");
const QString keyServiceUrl = QStringLiteral("service_url");
const QString keyProbeUrl = QStringLiteral("probe_url");

const QString sidebarSeparator = QStringLiteral("|||");
const QString randomAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

QString localServiceBase()
{
    return QStringLiteral("http://%1:%2").arg(QLatin1String(ServiceDefaults::host)).arg(ServiceDefaults::port);
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
              QStringLiteral("%1/%2").arg(getDocumentsPath(), AppIdentity::settingsFileName), QSettings::IniFormat))
{
}

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
    return folderSetting(keyPathSave, QStringLiteral("Save"));
}

QString GlobalsInfo::chosenSavePath() const
{
    return settings->value(keyPathSave, QStringLiteral("%1/Save").arg(getDocumentsPath())).toString();
}

QString GlobalsInfo::getOpenPath() const
{
    return folderSetting(keyPathOpen, QStringLiteral("Audio"));
}

QString GlobalsInfo::getLogsAppPath() const
{
    return folderSetting(keyPathLogs, QStringLiteral("Logs"));
}

QString GlobalsInfo::getTempPath() const
{
    return folderSetting(keyPathTemp, QStringLiteral("Temp"));
}

QString GlobalsInfo::getAppForVideo() const
{
    return settings->value(keyVideoPlayer, QStringLiteral("Default Video Player")).toString();
}

QString GlobalsInfo::getAppForAudio() const
{
    return settings->value(keyAudioPlayer, QStringLiteral("Default Audio Player")).toString();
}

QString GlobalsInfo::getVideoFormat() const
{
    return settings->value(keyVideoFormat, QStringLiteral("none")).toString();
}

QString GlobalsInfo::getAudioFormat() const
{
    return settings->value(keyAudioFormat, QStringLiteral("none")).toString();
}

QString GlobalsInfo::getInstrument() const
{
    return settings->value(keyInstrument, QStringLiteral("none")).toString();
}

QString GlobalsInfo::getOrvaneAppPath(const QString &key) const
{
    return settings->value(key).toString();
}

double GlobalsInfo::getSettingsGuiScale() const
{
    return settings->value(keyGuiScale, QStringLiteral("1")).toString().toDouble();
}

void GlobalsInfo::setSettingsGuiScale(double scale)
{
    settings->setValue(keyGuiScale, scale);
}

QString GlobalsInfo::getPublicKey() const
{
    return settings->value(keyPublicKey).toString();
}

void GlobalsInfo::setPublicKey(const QString &key)
{
    settings->setValue(keyPublicKey, key);
}

QList<QUrl> GlobalsInfo::getSidebarUrls(const QString &extraPath) const
{
    const QString stored = settings->value(keySidebar).toString();
    QList<QUrl> urls;
    if (stored.isEmpty()) {
        const QStandardPaths::StandardLocation locations[] = {
            QStandardPaths::HomeLocation,     QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
            QStandardPaths::DownloadLocation, QStandardPaths::MusicLocation,   QStandardPaths::MoviesLocation,
        };
        for (const auto location : locations)
            urls << QUrl::fromLocalFile(QStandardPaths::writableLocation(location));
        for (const QFileInfo &drive : QDir::drives())
            urls << QUrl::fromLocalFile(drive.absolutePath());

        const QFileInfo cloudDrive(QDir::homePath() + QStringLiteral("/Library/Mobile Documents/com~apple~CloudDocs"));
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
    settings->setValue(keySidebar, parts.join(sidebarSeparator));
}

QUrl GlobalsInfo::getServiceUrl() const
{
    return QUrl(settings->value(keyServiceUrl, localServiceBase()).toString());
}

QUrl GlobalsInfo::getProbeUrl() const
{
    return QUrl(settings->value(keyProbeUrl, localServiceBase() + QStringLiteral("/generate_204")).toString());
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
    for (const QString &key : { keyPathOpen, keyPathSave, keyVideoFormat, keyAudioFormat, keyInstrument,
                                keyVideoPlayer, keyAudioPlayer, keyGuiScale })
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
