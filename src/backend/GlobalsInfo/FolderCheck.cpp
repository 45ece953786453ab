#include "FolderCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace FolderCheck {

namespace {

QString expandHome(const QString &path)
{
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

// Access bits say nothing for root or on a read-only mount: only a file actually made there tells.
bool acceptsFiles(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".zelk-write-check-XXXXXX")));
    return probe.open();
}

QString named(const QString &what, const QString &label, const QString &path, const QString &advice)
{
    return QStringLiteral("%1 \"%2\":\n\n%3\n\n%4").arg(what, label, path, advice);
}

} // namespace

Outcome prepare(const QString &label, const QString &path, Use use, const QString &advice)
{
    if (path.isEmpty())
        return { path, QStringLiteral("Please choose a folder for \"%1\".").arg(label) };
    const QString expanded = expandHome(path);
    if (!QDir::isAbsolutePath(expanded))
        return { path,
            named(QStringLiteral("A full path is needed for"), label, path,
                QStringLiteral("Choose the folder with \"...\" or type its whole path.")) };

    const QString folder = QDir::cleanPath(expanded);
    const QFileInfo info(folder);
    QString problem;
    if (info.exists() && !info.isDir())
        problem = QStringLiteral("A file, not a folder, is given for");
    else if (!info.exists() && !QDir().mkpath(folder))
        problem = QStringLiteral("ZELK cannot create the folder for");
    else if (use == Use::Writing && !acceptsFiles(folder))
        problem = QStringLiteral("ZELK cannot write to the folder for");
    else if (use == Use::Reading && !QDir(folder).isReadable())
        problem = QStringLiteral("ZELK cannot read the folder for");
    if (problem.isEmpty())
        return { folder, {} };
    return { folder, named(problem, label, folder, advice) };
}

QString saveFolderProblem(const QString &path)
{
    return prepare(QStringLiteral("Save File Location"), path, Use::Writing,
        QStringLiteral("Choose another save folder in Settings."))
        .refusal;
}

QString saveFolderTitle()
{
    return QStringLiteral("Save Folder Error");
}

} // namespace FolderCheck
