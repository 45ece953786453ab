#include "Settings.h"

#include "AppLookup.h"
#include "GlobalsInfo/FolderCheck.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "GlobalsInfo/TraceLog.h"
#include "plugins/MessageBoxCustom.h"

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
    cache.insert(SettingsKeys::pathOpen(), globals->getOpenPath());
    cache.insert(SettingsKeys::pathSave(), globals->getSavePath());
    cache.insert(SettingsKeys::videoFormat(), globals->getVideoFormat());
    cache.insert(SettingsKeys::audioFormat(), globals->getAudioFormat());
    cache.insert(SettingsKeys::instrument(), globals->getInstrument());
    cache.insert(SettingsKeys::videoPlayer(), globals->getAppForVideo());
    cache.insert(SettingsKeys::audioPlayer(), globals->getAppForAudio());
}

// The cache, not the store: edits dropped by CANCEL stay dropped, saved ones are in it already.
void Settings::fillDocument()
{
    showScale(globals->getSettingsGuiScale());
    emit setProgramSettings(cache);
}

void Settings::showScale(double chosen)
{
    applyScale(chosen);
    if (root)
        root->setProperty("chosenScale", chosen);
}

bool Settings::prepareFolders(QVariantMap &values)
{
    const struct
    {
        QString key;
        QString label;
        FolderCheck::Use use;
    } folders[]
        = { { SettingsKeys::pathSave(), QStringLiteral("Save File Location"), FolderCheck::Use::Writing },
              { SettingsKeys::pathOpen(), QStringLiteral("Open File Location"), FolderCheck::Use::Reading } };
    for (const auto &folder : folders) {
        const auto outcome
            = FolderCheck::prepare(folder.label, values.value(folder.key).toString(), folder.use);
        if (!outcome.refusal.isEmpty()) {
            MessageBoxCustom::warning(this, QStringLiteral("Cannot Save Settings"), outcome.refusal);
            return false;
        }
        values.insert(folder.key, outcome.path);
    }
    return true;
}

void Settings::save(const QVariant &data)
{
    ZELK_TRACE();
    QVariantMap values = toMap(data);
    // Nothing is written unless the results have a folder to go to; the window keeps the edits.
    if (!prepareFolders(values))
        return;
    // The document sends the scale only when the user picked another one.
    const double scale = values.take(SettingsKeys::guiScale()).toDouble();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        store->setValue(it.key(), it.value());
    if (scale > 0)
        globals->setSettingsGuiScale(scale);
    const QString openBefore = cache.value(SettingsKeys::pathOpen()).toString();
    cache = values;
    announceOpenFolder(openBefore);
    close();
}

void Settings::announceOpenFolder(const QString &before)
{
    const QString now = cache.value(SettingsKeys::pathOpen()).toString();
    if (now != before)
        emit openFolderChanged(now);
}

void Settings::cancel()
{
    ZELK_TRACE();
    close();
}

void Settings::saveScf(double scale)
{
    ZELK_TRACE() << scale;
    // An entry that is no number (none chosen) reads as NaN.
    if (!(scale > 0))
        return;
    globals->setSettingsGuiScale(scale);
    showScale(scale);
    // The group boxes pick their fills again once the new layout stands.
    emit loaded();
}

void Settings::defaultSettings()
{
    ZELK_TRACE();
    const auto answer = MessageBoxCustom::warning(this, QStringLiteral("Restore Default Settings"),
        QStringLiteral(
            "Put the folders, formats, instrument, players and GUI scale back to their defaults?\n\n"
            "This takes effect at once; CANCEL does not undo it."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    globals->removeAllSettings();
    const QString openBefore = cache.value(SettingsKeys::pathOpen()).toString();
    prepareSettings();
    announceOpenFolder(openBefore);
    showScale(globals->getSettingsGuiScale());
    emit setProgramSettings(cache);
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
