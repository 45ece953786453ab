#include "AppLookup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

namespace {

QStringList candidateNames(const QString &name)
{
    QString blankFree = name;
    blankFree.remove(QLatin1Char(' '));
    return blankFree == name ? QStringList { name } : QStringList { blankFree, name };
}

#if !defined(Q_OS_MACOS)

struct DesktopEntry
{
    QString name;
    QString exec;
};

DesktopEntry readDesktopEntry(const QString &path)
{
    DesktopEntry entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    QTextStream in(&file);
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        if (line.startsWith(QLatin1String("Name=")))
            entry.name = line.mid(5).trimmed();
        else if (line.startsWith(QLatin1String("Exec=")))
            entry.exec = line.mid(5).trimmed();
    }
    return entry;
}

// The program of an Exec line: its first word, quoted or not, as a path or a name on PATH.
QString resolveExec(const QString &exec)
{
    QString program;
    if (exec.startsWith(QLatin1Char('"'))) {
        const qsizetype end = exec.indexOf(QLatin1Char('"'), 1);
        program = end > 0 ? exec.mid(1, end - 1) : QString();
    } else {
        program = exec.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    }
    if (program.isEmpty())
        return {};
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isAbsolute() && info.isFile() && info.isExecutable() ? info.absoluteFilePath()
                                                                         : QString();
    }
    return QStandardPaths::findExecutable(program);
}

QString findInFolder(const QString &folder, const QString &candidate)
{
    const QDir dir(folder);
    const QStringList entries
        = dir.entryList({ QStringLiteral("*.desktop") }, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &fileName : entries) {
        const DesktopEntry entry = readDesktopEntry(dir.filePath(fileName));
        const bool matches
            = QFileInfo(fileName).completeBaseName().compare(candidate, Qt::CaseInsensitive) == 0
            || entry.name.compare(candidate, Qt::CaseInsensitive) == 0;
        if (!matches)
            continue;
        const QString program = resolveExec(entry.exec);
        if (!program.isEmpty())
            return program;
    }
    return {};
}

#endif

} // namespace

namespace AppLookup {

#if defined(Q_OS_MACOS)

QStringList folders()
{
    return { QStringLiteral("/Applications") };
}

QString find(const QStringList &folders, const QString &name)
{
    for (const QString &candidate : candidateNames(name)) {
        for (const QString &folder : folders) {
            const QString bundle = QStringLiteral("%1/%2.app").arg(folder, candidate);
            if (QFileInfo::exists(bundle))
                return bundle;
        }
    }
    return {};
}

QString dialogFolder()
{
    return QStringLiteral("/Applications");
}

QString dialogFilter(const QString &key)
{
    return key + QStringLiteral(" (*.app)");
}

#else

QStringList folders()
{
    return QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
}

QString find(const QStringList &folders, const QString &name)
{
    for (const QString &candidate : candidateNames(name)) {
        for (const QString &folder : folders) {
            const QString program = findInFolder(folder, candidate);
            if (!program.isEmpty())
                return program;
        }
    }
    return {};
}

// Without bundles, the user points at the program itself.
QString dialogFolder()
{
    return QStringLiteral("/usr/bin");
}

QString dialogFilter(const QString &key)
{
    return key + QStringLiteral(" (*)");
}

#endif

} // namespace AppLookup
