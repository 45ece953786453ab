#pragma once

#include "LoggingInterface.h"

#include <QFile>
#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QTextStream>
#include <QTime>

#include <memory>

// While logging is switched on, takes over the process's message handler: every message becomes one
// line with its level and time in a dated file in the documents folder, and is echoed to standard output.
class LogQuill : public QObject, public LoggingInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID LoggingInterface_iid)
    Q_INTERFACES(LoggingInterface)

public:
    explicit LogQuill(QObject *parent = nullptr);
    ~LogQuill() override;

    void close() override;
    void install() override;
    void install(const QString &folder, const QString &settingsFileName) override;
    void switchLogging(bool active) override;
    bool isEnabled() const override;

    // The current log file, named once per start by the two-argument install.
    QString fileName() const;

    // Handles one message of the process; called by the installed message handler on any thread.
    void processor(QtMsgType type, const QMessageLogContext &context, const QString &message);

    // The line a message becomes; empty for a black-listed warning.
    static QString formatLine(QtMsgType type, const QTime &time, const QString &message);
    // The folder inside `folder` that receives the log files.
    static QString logFolderPath(const QString &folder);
    // True when two names differing only in letter case name two entries in `folder`'s file system.
    static bool caseSensitiveNames(const QString &folder);

private:
    Q_DISABLE_COPY(LogQuill)

    void initSettings(const QString &folder, const QString &name);
    static void removeOldLogFiles(const QString &folder);
    void closeImpl();

    QFile logFile;
    QTextStream logStream;
    std::unique_ptr<QSettings> logSettings;
    QMutex lock;
    bool installed = false;
};
