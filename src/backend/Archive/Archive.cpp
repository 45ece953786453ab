#include "Archive.h"

#include "ArchiveHandler.h"
#include "FileProcessing/ResultOpener.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/MediaFormats.h"
#include "GlobalsInfo/TraceLog.h"
#include "UserAuth/UserAuth.h"
#include "plugins/MessageBoxCustom.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

const HostedWindow::Description archiveWindow { QStringLiteral("ZELK Archive"),
    QUrl(QStringLiteral("qrc:/qml/Archive.qml")), QSize(540, 400), true };

// Decides which formats a row offers.
const QStringList &sourceVideoSuffixes = MediaFormats::videoSources();
// Decides whether a format is a video one: its player, and whether a picture is at hand for it.
const QStringList &outputVideoSuffixes = MediaFormats::videoOutputs();

QString buttonFor(const QString &path)
{
    return QFileInfo::exists(path) ? QStringLiteral("play") : QStringLiteral("download");
}

} // namespace

Archive::Archive(QWidget *parent)
    : HostedWindow(archiveWindow, parent)
    , auth(std::make_unique<UserAuth>())
{
    initQMLconnections();
    resize(540, 500);
}

Archive::~Archive() = default;

void Archive::initQMLconnections()
{
    connectFromRoot(SIGNAL(cancel()), SLOT(cancel()));
    connectFromRoot(SIGNAL(openFolder()), SLOT(openFolder()));
    connectFromRoot(SIGNAL(operateFile(int, bool, QString)), SLOT(operateFile(int, bool, QString)));
    connectFromRoot(SIGNAL(changedFormat(int, QString)), SLOT(changedFormat(int, QString)));
    connectToRoot(SIGNAL(updateFiles(QVariant)));
    connectToRoot(SIGNAL(changeButtons(int, QString, QString)));
}

void Archive::openWindow()
{
    showScaled();
    loadList();
}

void Archive::fillDocument()
{
    if (root)
        root->setProperty("isProcessing", true);
}

void Archive::loadList()
{
    // Blocks under the loading cover; a failure has shown its box and gives an empty list.
    const QVariantList entries = auth->getArchiveFile(globals->getUserHash());
    files.clear();
    for (const QVariant &element : entries) {
        QVariantMap entry = element.toMap();
        const QString stored = entry.value(QStringLiteral("extension")).toString();
        const QString instrumentResult = resultPath(entry, false, stored);
        const QString mixResult = resultPath(entry, true, stored);
        entry.insert(QStringLiteral("btnInstrument"), buttonFor(instrumentResult));
        entry.insert(QStringLiteral("btnMix"), buttonFor(mixResult));

        const QFileInfo local(entry.value(QStringLiteral("local_file_path")).toString());
        const bool isVideo = (local.exists() && sourceVideoSuffixes.contains(local.suffix().toLower()))
            || (QFileInfo::exists(instrumentResult) && QFileInfo::exists(mixResult)
                && sourceVideoSuffixes.contains(stored.toLower()));
        entry.insert(QStringLiteral("isVideo"), isVideo);
        files.append(entry);
    }
    emit updateFiles(files);
    if (root)
        root->setProperty("isProcessing", false);
}

QString Archive::resultPath(const QVariantMap &entry, bool isMix, const QString &extension) const
{
    // One substitution for all parts, so that a "%2" in a song's name stays as it is.
    const QString pattern = isMix ? QStringLiteral("%1/Mix Without %3 - %2.%4") : QStringLiteral("%1/%3 - %2.%4");
    return pattern.arg(globals->getSavePath(), entry.value(QStringLiteral("name")).toString(),
        entry.value(QStringLiteral("instrument")).toString(), extension);
}

bool Archive::isKnownRow(int id) const
{
    if (id >= 0 && id < files.size())
        return true;
    qWarning() << "No archive row" << id;
    return false;
}

void Archive::changedFormat(int id, const QString &newExtension)
{
    if (!isKnownRow(id))
        return;
    const QVariantMap entry = files.at(id).toMap();
    emit changeButtons(id, buttonFor(resultPath(entry, false, newExtension)),
        buttonFor(resultPath(entry, true, newExtension)));
}

void Archive::operateFile(int id, bool isMix, const QString &newExtension)
{
    ZELK_TRACE() << id << isMix << newExtension;
    if (!isKnownRow(id))
        return;
    const QVariantMap entry = files.at(id).toMap();
    const QString target = resultPath(entry, isMix, newExtension);
    const bool videoTarget = outputVideoSuffixes.contains(newExtension);
    if (QFileInfo::exists(target)) {
        openResult(target, videoTarget);
        return;
    }

    pendingIndex = id;
    pendingFormat = newExtension;
    const QString storedFormat = entry.value(QStringLiteral("extension")).toString();
    const QString stored = resultPath(entry, isMix, storedFormat);
    const QString local = entry.value(QStringLiteral("local_file_path")).toString();
    const bool storedIsVideo = QFileInfo::exists(stored) && outputVideoSuffixes.contains(storedFormat);
    const bool localIsVideo
        = QFileInfo::exists(local) && outputVideoSuffixes.contains(QFileInfo(local).suffix().toLower());
    if (videoTarget && !storedIsVideo && !localIsVideo) {
        MessageBoxCustom::critical(this, QStringLiteral("File Format Error"),
            QStringLiteral("Cannot download and convert file to %1, because original video file is missed:\n\n%2")
                .arg(newExtension, local));
        return;
    }

    if (!handler) {
        handler = std::make_unique<ArchiveHandler>();
        connect(handler.get(), &ArchiveHandler::finishWork, this, &Archive::finishConverting);
    }
    handler->openWindow(stored, target, local);
    if (!QFileInfo::exists(stored))
        handler->download(entry.value(QStringLiteral("ai_id")).toInt(), isMix);
    else
        handler->convert();
}

void Archive::openResult(const QString &target, bool isVideo) const
{
    ResultOpener::open(target, isVideo);
}

void Archive::finishConverting()
{
    changedFormat(pendingIndex, pendingFormat);
}

void Archive::openFolder()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(globals->getSavePath()));
}

void Archive::cancel()
{
    close();
}
