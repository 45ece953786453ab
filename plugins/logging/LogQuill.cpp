#include "LogQuill.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

std::atomic<LogQuill *> g_loggerInstance { nullptr };

const QString logSubdir = QStringLiteral("logs");
// The program's own sub-folder, which its "Show Logs" opens.
const QString appLogsSubdir = QStringLiteral("Logs");
const QString enabledKey = QString::fromLatin1(LoggingInterface::enabledKey);
const QString closeOrder = QStringLiteral("LOG_CLOSE");
constexpr int keptDays = 14;

// Warnings that browsers embedded in pages repeat endlessly and that say nothing about this program.
const QStringList &BlackList()
{
    static const QStringList list {
        QStringLiteral("Unrecognized feature: 'ch-ua-form-factors'."),
        QStringLiteral("was preloaded using link preload but not used within a few seconds from the "
                       "window's load event."),
    };
    return list;
}

void writeConsole(FILE *stream, const char *format, const QString &text)
{
    std::fprintf(stream, format, text.toLocal8Bit().constData());
    std::fflush(stream);
}

void qt_message_proxy(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (LogQuill *logger = g_loggerInstance.load())
        logger->processor(type, context, message);
}

std::filesystem::path nativePath(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString swappedCase(const QString &text)
{
    QString swapped = text;
    for (QChar &c : swapped)
        c = c.isUpper() ? c.toLower() : c.toUpper();
    return swapped;
}

} // namespace

LogQuill::LogQuill(QObject *parent)
    : QObject(parent)
{ }

LogQuill::~LogQuill()
{
    closeImpl();
}

void LogQuill::close()
{
    closeImpl();
}

void LogQuill::install()
{
    QMutexLocker locker(&lock);
    if (installed)
        return;

    if (!logFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
        writeConsole(stderr, "!!! ERROR in file output: %s\n", logFile.errorString());
        return;
    }
    logStream.setDevice(&logFile);
    writeConsole(stdout, "Save Logs in: %s\n", logFile.fileName());
    installed = true;
    g_loggerInstance = this;
    qInstallMessageHandler(qt_message_proxy);
}

void LogQuill::install(const QString &folder, const QString &settingsFileName)
{
    {
        QMutexLocker locker(&lock);
        if (installed)
            return;
    }
    // Without a documents folder the paths would fall into the working directory, where old "*.txt"
    // files are not ours to delete.
    if (folder.isEmpty())
        return;

    const QString logsPath = logFolderPath(folder);
    QDir().mkdir(logsPath);
    removeOldLogFiles(logsPath);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyMMdd-hhmmss"));
    logFile.setFileName(QStringLiteral("%1/log%2.txt").arg(logsPath, stamp));
    initSettings(folder, settingsFileName);
    if (isEnabled())
        install();
}

void LogQuill::switchLogging(bool active)
{
    writeConsole(stdout, "~ Logging: %s\n", active ? QStringLiteral("Enable") : QStringLiteral("Disable"));
    if (logSettings) {
        logSettings->setValue(enabledKey, active);
        // The choice must survive a run that does not end normally.
        logSettings->sync();
    }
    if (active)
        install();
    else
        close();
}

bool LogQuill::isEnabled() const
{
    return logSettings && logSettings->value(enabledKey, false).toBool();
}

QString LogQuill::fileName() const
{
    return logFile.fileName();
}

void LogQuill::processor(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context)

    if (type == QtCriticalMsg && message.trimmed() == closeOrder) {
        closeImpl();
        std::printf(">>> LOGGING CLOSED <<<\n");
        std::fflush(stdout);
        return;
    }

    QMutexLocker locker(&lock);
    const QString line = formatLine(type, QTime::currentTime(), message);
    if (logFile.isOpen() && !line.isEmpty()) {
        logStream << line << '\n';
        logStream.flush();
    }
    writeConsole(stdout, "%s\n", line);
}

QString LogQuill::formatLine(QtMsgType type, const QTime &time, const QString &message)
{
    const QString stamp = time.toString(QStringLiteral("[mm:ss:zzz]"));
    switch (type) {
    case QtInfoMsg:
        return QStringLiteral("D: %1 %2").arg(stamp, message);
    case QtWarningMsg:
        for (const QString &text : BlackList()) {
            if (message.contains(text, Qt::CaseInsensitive))
                return {};
        }
        return QStringLiteral("W: %1 %2").arg(stamp, message);
    case QtCriticalMsg:
        return QStringLiteral("ERR: %1 %2").arg(stamp, message);
    case QtFatalMsg:
        return QStringLiteral("FATAL: %1 %2").arg(stamp, message);
    case QtDebugMsg:
    default:
        return message;
    }
}

QString LogQuill::logFolderPath(const QString &folder)
{
    // Where "logs" and "Logs" are one folder the log folder keeps its lower-case name; elsewhere the
    // files go into the program's "Logs", so that "Show Logs" finds them.
    const QString name = caseSensitiveNames(folder) ? appLogsSubdir : logSubdir;
    return QDir(folder).absoluteFilePath(name);
}

bool LogQuill::caseSensitiveNames(const QString &folder)
{
    const QFileInfo info(QDir::cleanPath(QDir(folder).absolutePath()));
    const QString swapped = swappedCase(info.fileName());
    // A name without letters proves nothing; "Logs" is right on either kind of file system.
    if (swapped == info.fileName())
        return true;

    // Comparing the entries themselves, not just testing the swapped name, keeps a separate folder
    // of that name from passing for the same one.
    std::error_code error;
    const bool same = std::filesystem::equivalent(
        nativePath(info.absoluteFilePath()), nativePath(info.absoluteDir().filePath(swapped)), error);
    return error || !same;
}

void LogQuill::initSettings(const QString &folder, const QString &name)
{
    if (!logSettings)
        logSettings
            = std::make_unique<QSettings>(QStringLiteral("%1/%2").arg(folder, name), QSettings::IniFormat);
}

void LogQuill::removeOldLogFiles(const QString &folder)
{
    const QDir dir(folder);
    const QFileInfoList files
        = dir.entryInfoList({ QStringLiteral("*.txt") }, QDir::Files | QDir::CaseSensitive, QDir::NoSort);
    const QDateTime cutOff = QDateTime::currentDateTime().addDays(-keptDays);
    for (const QFileInfo &file : files) {
        if (file.lastModified() < cutOff)
            QFile::remove(file.absoluteFilePath());
    }
}

void LogQuill::closeImpl()
{
    // Under the lock, so that a message being written on another thread finishes before the file closes.
    QMutexLocker locker(&lock);
    if (!installed)
        return;

    installed = false;
    LogQuill *self = this;
    if (g_loggerInstance.compare_exchange_strong(self, nullptr))
        qInstallMessageHandler(nullptr);
    logStream.flush();
    logFile.close();
}
