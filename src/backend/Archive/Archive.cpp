#include "Archive.h"

#include "ArchiveHandler.h"
#include "FileProcessing/ResultOpener.h"
#include "GlobalsInfo/DesktopOpener.h"
#include "GlobalsInfo/FolderCheck.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/MediaFormats.h"
#include "GlobalsInfo/TraceLog.h"
#include "UserAuth/UserAuth.h"
#include "plugins/MessageBoxCustom.h"

#include <QEvent>
#include <QFileInfo>
#include <QUrl>

namespace {

const HostedWindow::Description archiveWindow { QStringLiteral("ZELK Archive"),
    QUrl(QStringLiteral("qrc:/qml/Archive.qml")), QSize(540, 400), true };

const QString chosenKey = QStringLiteral("chosen");

QString buttonFor(const QString &ownFile)
{
    return ownFile.isEmpty() ? QStringLiteral("download") : QStringLiteral("play");
}

int songIdOf(const QVariantMap &entry)
{
    return entry.value(QStringLiteral("ai_id")).toInt();
}

QString sourceOf(const QVariantMap &entry)
{
    return entry.value(QStringLiteral("local_file_path")).toString();
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

bool Archive::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        refreshRows();
    return HostedWindow::event(event);
}

void Archive::loadList()
{
    // Blocks under the loading cover; a failure has shown its box and leaves its text.
    QString failure;
    const QVariantList entries = auth->getArchiveFile(globals->getUserHash(), &failure);
    record.reload();
    files.clear();
    for (const QVariant &element : entries) {
        QVariantMap entry = element.toMap();
        const std::optional<ResultRecord::Song> song = recordedSong(entry);
        const QDateTime processed = song ? song->processed : QDateTime();
        entry.insert(QStringLiteral("processed"),
            processed.isValid() ? processed.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                : QString());
        // The document picks the row's format and asks for its buttons at once.
        entry.insert(QStringLiteral("btnInstrument"), buttonFor({}));
        entry.insert(QStringLiteral("btnMix"), buttonFor({}));
        entry.insert(QStringLiteral("isVideo"), !pictureFor(entry).isEmpty());
        files.append(entry);
    }
    if (root)
        root->setProperty("listError", failure);
    emit updateFiles(files);
    if (root)
        root->setProperty("isProcessing", false);
}

void Archive::refreshRows()
{
    record.reload();
    for (int row = 0; row < files.size(); ++row) {
        const QString chosen = files.at(row).toMap().value(chosenKey).toString();
        if (!chosen.isEmpty())
            changedFormat(row, chosen);
    }
}

std::optional<ResultRecord::Song> Archive::recordedSong(const QVariantMap &entry) const
{
    return record.song(songIdOf(entry), sourceOf(entry));
}

QString Archive::ownFile(const QVariantMap &entry, bool isMix, const QString &format) const
{
    const std::optional<ResultRecord::Song> song = recordedSong(entry);
    const QString path = song ? song->file(format, isMix) : QString();
    return !path.isEmpty() && QFileInfo(path).isFile() ? path : QString();
}

QString Archive::pictureFor(const QVariantMap &entry) const
{
    const QString source = sourceOf(entry);
    if (QFileInfo(source).isFile() && MediaFormats::hasPicture(source))
        return source;
    for (const QString &format : MediaFormats::videoOutputs()) {
        for (const bool isMix : { false, true }) {
            const QString own = ownFile(entry, isMix, format);
            if (!own.isEmpty())
                return own;
        }
    }
    return {};
}

QString Archive::resultPath(const QVariantMap &entry, bool isMix, const QString &format, int number) const
{
    // One substitution for all parts, so that a "%2" in a song's name stays as it is.
    const QString numbered = number > 0 ? QStringLiteral(" (%1)").arg(number) : QString();
    const QString pattern
        = isMix ? QStringLiteral("%1/Mix Without %3 - %2%5.%4") : QStringLiteral("%1/%3 - %2%5.%4");
    return pattern.arg(globals->getSavePath(), entry.value(QStringLiteral("name")).toString(),
        entry.value(QStringLiteral("instrument")).toString(), format, numbered);
}

QString Archive::freeTarget(const QVariantMap &entry, bool isMix, const QString &format) const
{
    const std::optional<ResultRecord::Song> song = recordedSong(entry);
    const QString ownPartner = song ? song->file(format, !isMix) : QString();
    for (int number = 0;; ++number) {
        const QString path = resultPath(entry, isMix, format, number);
        const QString partner = resultPath(entry, !isMix, format, number);
        if (!QFileInfo::exists(path) && (partner == ownPartner || !QFileInfo::exists(partner)))
            return path;
    }
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
    QVariantMap entry = files.at(id).toMap();
    entry.insert(chosenKey, newExtension.toLower());
    files[id] = entry;
    emit changeButtons(id, buttonFor(ownFile(entry, false, newExtension.toLower())),
        buttonFor(ownFile(entry, true, newExtension.toLower())));
}

void Archive::operateFile(int id, bool isMix, const QString &newExtension)
{
    ZELK_TRACE() << id << isMix << newExtension;
    if (!isKnownRow(id))
        return;
    const QVariantMap entry = files.at(id).toMap();
    const QString format = newExtension.toLower();
    const bool videoTarget = MediaFormats::isVideoOutput(format);
    if (const QString own = ownFile(entry, isMix, format); !own.isEmpty()) {
        ResultOpener::open(own, videoTarget);
        return;
    }

    const QString picture = pictureFor(entry);
    if (videoTarget && picture.isEmpty()) {
        MessageBoxCustom::critical(this, QStringLiteral("File Format Error"),
            QStringLiteral(
                "Cannot download and convert file to %1, because original video file is missed:\n\n%2")
                .arg(newExtension, sourceOf(entry)));
        return;
    }

    // A fetch writes into the save folder: an empty or unusable one would put the file anywhere.
    if (const QString problem = FolderCheck::saveFolderProblem(globals->chosenSavePath());
        !problem.isEmpty()) {
        MessageBoxCustom::critical(this, FolderCheck::saveFolderTitle(), problem);
        return;
    }

    pendingIndex = id;
    pendingFormat = format;
    pendingIsMix = isMix;
    pendingEntry = entry;
    pendingTarget = freeTarget(entry, isMix, format);
    if (!handler) {
        handler = std::make_unique<ArchiveHandler>();
        connect(handler.get(), &ArchiveHandler::finishWork, this, &Archive::finishConverting);
    }
    handler->openWindow(pendingTarget, videoTarget ? picture : QString(), sourceOf(entry));
    handler->download(songIdOf(entry), isMix);
}

void Archive::finishConverting()
{
    if (QFileInfo(pendingTarget).isFile())
        record.addFile(
            songIdOf(pendingEntry), sourceOf(pendingEntry), pendingFormat, pendingIsMix, pendingTarget);
    changedFormat(pendingIndex, pendingFormat);
}

void Archive::openFolder()
{
    DesktopOpener::openPathOrExplain(globals->getSavePath(), this);
}

void Archive::cancel()
{
    close();
}
