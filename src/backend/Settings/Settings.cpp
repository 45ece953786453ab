#include "Settings.h"

#include "AppLookup.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/TraceLog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QJSValue>
#include <QSettings>

namespace {

const HostedWindow::Description settingsWindow { QStringLiteral("Option Settings"),
    QUrl(QStringLiteral("qrc:/qml/Settings.qml")), QSize(540, 670) };

// The installed names of the players this window can hand results to, newest first.
QStringList knownNames(const QString &key)
{
    if (key == QLatin1String("Tunewright"))
        return { QStringLiteral("Tunewright 6"), QStringLiteral("Tunewright 5") };
    if (key == QLatin1String("Clipwright"))
        return { QStringLiteral("Clipwright 3"), QStringLiteral("Clipwright 2") };
    if (key == QLatin1String("Singwright"))
        return { QStringLiteral("Singwright 3"), QStringLiteral("Singwright 2") };
    return {};
}

QString pickFolder(const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(nullptr, title, start, QFileDialog::ShowDirsOnly);
}

QString pickApplication(const QString &title, const QString &folder, const QString &filter)
{
    QFileDialog dialog(nullptr, title, folder, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

// A map built by the document arrives wrapped as a script value.
QVariantMap toMap(const QVariant &data)
{
    if (data.metaType() == QMetaType::fromType<QJSValue>())
        return data.value<QJSValue>().toVariant().toMap();
    return data.toMap();
}

} // namespace

Settings::Settings(QWidget *parent)
    : HostedWindow(settingsWindow, parent)
    , store(globals->appSettings())
    , appFolders(AppLookup::folders())
    , askForFolder(pickFolder)
    , askForApplication(pickApplication)
{
    initQMLconnections();
    prepareSettings();
}

Settings::~Settings() = default;

void Settings::initQMLconnections()
{
    connectToRoot(SIGNAL(setProgramSettings(QVariant)));
    connectToRoot(SIGNAL(resetOpening(QString)));
    connectToRoot(SIGNAL(updatePathField(QString, QString)));
    connectFromRoot(SIGNAL(saveScf(double)), SLOT(saveScf(double)));
    connectFromRoot(SIGNAL(cancel()), SLOT(cancel()));
    connectFromRoot(SIGNAL(defaultSettings()), SLOT(defaultSettings()));
    connectFromRoot(SIGNAL(chooseNewPath(QString, QString)), SLOT(chooseNewPath(QString, QString)));
    connectFromRoot(SIGNAL(checkPathIsExisted(QString, QString)), SLOT(checkPathIsExisted(QString, QString)));
    connectFromRoot(SIGNAL(save(QVariant)), SLOT(save(QVariant)));
}

void Settings::prepareSettings()
{
    cache.clear();
    cache.insert(QStringLiteral("default_path_open"), globals->getOpenPath());
    cache.insert(QStringLiteral("default_path_save"), globals->getSavePath());
    cache.insert(QStringLiteral("default_video_format"), globals->getVideoFormat());
    cache.insert(QStringLiteral("default_audio_format"), globals->getAudioFormat());
    cache.insert(QStringLiteral("default_instrument"), globals->getInstrument());
    cache.insert(QStringLiteral("default_video_player"), globals->getAppForVideo());
    cache.insert(QStringLiteral("default_audio_player"), globals->getAppForAudio());
}

// The cache, not the store: edits dropped by CANCEL stay dropped, saved ones are in it already.
void Settings::fillDocument()
{
    emit setProgramSettings(cache);
}

void Settings::save(const QVariant &data)
{
    ZELK_TRACE();
    const QVariantMap values = toMap(data);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        store->setValue(it.key(), it.value());
    cache = values;
    close();
}

void Settings::cancel()
{
    ZELK_TRACE();
    close();
}

void Settings::saveScf(double scale)
{
    ZELK_TRACE() << scale;
    globals->setSettingsGuiScale(scale);
    applyScale(scale);
    // The group boxes pick their fills again once the new layout stands.
    emit loaded();
}

void Settings::defaultSettings()
{
    ZELK_TRACE();
    globals->removeAllSettings();
    prepareSettings();
    emit setProgramSettings(cache);
    applyScale(globals->getSettingsGuiScale());
    emit loaded();
}

void Settings::chooseNewPath(const QString &settingsKey, const QString &path)
{
    ZELK_TRACE() << settingsKey << path;
    const QString chosen = askForFolder(QStringLiteral("Please Select a new folder"), path);
    if (!chosen.isEmpty() && chosen != path)
        emit updatePathField(chosen, settingsKey);
}

void Settings::checkPathIsExisted(const QString &key, const QString &field)
{
    ZELK_TRACE() << key << field;
    QString name = key;
    name.remove(QLatin1Char(' '));
    if (name.isEmpty() || name == QLatin1String("DefaultAudioPlayer")
        || name == QLatin1String("DefaultVideoPlayer"))
        return;

    const QString known = globals->getOrvaneAppPath(name);
    if (!known.isEmpty() && QFileInfo::exists(known))
        return;

    QString path;
    for (const QString &installedName : knownNames(name)) {
        path = findAppPath(installedName);
        if (!path.isEmpty())
            break;
    }
    if (path.isEmpty())
        path = askForApplication(QStringLiteral("Please select where ") + name + QStringLiteral(" installed"),
            AppLookup::dialogFolder(), AppLookup::dialogFilter(name));

    if (!path.isEmpty() && QFileInfo::exists(path)) {
        store->setValue(name, path);
        return;
    }
    emit resetOpening(field);
}

QString Settings::findAppPath(const QString &name) const
{
    return AppLookup::find(appFolders, name);
}
