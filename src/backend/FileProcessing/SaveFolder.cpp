#include "SaveFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

QString SaveFolder::problem(const QString &path)
{
    const QString advice = QStringLiteral("\n\nChoose another save folder in Settings.");
    if (path.trimmed().isEmpty())
        return QStringLiteral("No save folder is chosen.") + advice;
    const QFileInfo folder(path);
    if (!folder.isAbsolute())
        return QStringLiteral("The save folder is not a full path:\n\n%1").arg(path) + advice;
    if (!folder.isDir() && !QDir().mkpath(path))
        return QStringLiteral("The save folder does not exist and cannot be created:\n\n%1").arg(path)
            + advice;
    // Permissions alone do not tell (an administrator, a read-only disk): a file is made and removed.
    QTemporaryFile probe(QStringLiteral("%1/.zelk-write-check.XXXXXX").arg(path));
    if (!probe.open())
        return QStringLiteral("ZELK cannot write into the save folder:\n\n%1").arg(path) + advice;
    return {};
}

QString SaveFolder::title()
{
    return QStringLiteral("Save Folder Error");
}
