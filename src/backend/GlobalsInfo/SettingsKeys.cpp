#include "SettingsKeys.h"

#include "plugins/LoggingInterface.h"

SettingsKeys::SettingsKeys(QObject *parent)
    : QObject(parent)
{ }

SettingsKeys::~SettingsKeys() = default;

QString SettingsKeys::pathSave()
{
    return QStringLiteral("default_path_save");
}

QString SettingsKeys::pathOpen()
{
    return QStringLiteral("default_path_open");
}

QString SettingsKeys::pathLogs()
{
    return QStringLiteral("default_path_logs");
}

QString SettingsKeys::pathTemp()
{
    return QStringLiteral("default_path_temp");
}

QString SettingsKeys::videoFormat()
{
    return QStringLiteral("default_video_format");
}

QString SettingsKeys::audioFormat()
{
    return QStringLiteral("default_audio_format");
}

QString SettingsKeys::instrument()
{
    return QStringLiteral("default_instrument");
}

QString SettingsKeys::videoPlayer()
{
    return QStringLiteral("default_video_player");
}

QString SettingsKeys::audioPlayer()
{
    return QStringLiteral("default_audio_player");
}

QString SettingsKeys::guiScale()
{
    return QStringLiteral("settings_gui_scale");
}

QString SettingsKeys::publicKey()
{
    return QStringLiteral("auth_public_key");
}

QString SettingsKeys::sidebar()
{
    return QStringLiteral("sidebarUrls");
}

QString SettingsKeys::serviceUrl()
{
    return QStringLiteral("service_url");
}

QString SettingsKeys::probeUrl()
{
    return QStringLiteral("probe_url");
}

QString SettingsKeys::logFileEnabled()
{
    return QString::fromLatin1(LoggingInterface::enabledKey);
}

QStringList SettingsKeys::userChoices()
{
    return { pathOpen(), pathSave(), videoFormat(), audioFormat(), instrument(), videoPlayer(), audioPlayer(),
        guiScale() };
}
