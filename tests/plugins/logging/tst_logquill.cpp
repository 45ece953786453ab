#include "ConsoleCapture.h"
#include "LogQuill.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

namespace {

const QString settingsName = QStringLiteral("zelk.ini");
const QString enabledKey = QStringLiteral("APP_LOGFILE_ENABLED");
const QString stampPattern = QStringLiteral("\\[(\\d\\d):(\\d\\d):(\\d\\d\\d)\\]");

// Emits one message and answers what reached standard output meanwhile.
QString emitCaptured(int type, const QString &text)
{
    ConsoleCapture out(stdout);
    qt_message_output(QtMsgType(type), QMessageLogContext(), text);
    return out.finish();
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

int millisecondsOfHour(const QTime &time)
{
    return time.minute() * 60000 + time.second() * 1000 + time.msec();
}

} // namespace

class tst_LogQuill final : public QObject
{
    Q_OBJECT
public:
    tst_LogQuill() = default;
    Q_DISABLE_COPY_MOVE(tst_LogQuill)

private slots:
    void initTestCase()
    {
        testHandler = qInstallMessageHandler(nullptr);
        defaultHandler = qInstallMessageHandler(testHandler);
    }

    void init()
    {
        tempDir = std::make_unique<QTemporaryDir>();
        QVERIFY(tempDir->isValid());
        folder = tempDir->filePath(QStringLiteral("ZELK"));
        QVERIFY(QDir().mkpath(folder));
    }

    void cleanup()
    {
        // Closing restores Qt's default handler; the test framework wants its own back.
        qInstallMessageHandler(testHandler);
        tempDir.reset();
    }

    void formatLine_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");

        const QTime time(14, 23, 1, 45);
        QTest::newRow("warning") << int(QtWarningMsg) << time << "disk almost full" << "W: [23:01:045] disk almost full";
        QTest::newRow("fatal") << int(QtFatalMsg) << time << "out of memory" << "FATAL: [23:01:045] out of memory";
        QTest::newRow("debug") << int(QtDebugMsg) << time << "ffmpeg -i a.wav" << "ffmpeg -i a.wav";
        QTest::newRow("start of the hour") << int(QtInfoMsg) << QTime(9, 0, 0, 0) << "x" << "D: [00:00:000] x";
        QTest::newRow("end of the hour") << int(QtInfoMsg) << QTime(9, 59, 59, 999) << "x" << "D: [59:59:999] x";
        QTest::newRow("placeholders kept") << int(QtInfoMsg) << time << "50%1 done %2" << "D: [23:01:045] 50%1 done %2";
    }

    void formatLine()
    {
        QFETCH(int, type);
        QFETCH(QTime, time);
        QFETCH(QString, message);
        QFETCH(QString, line);

        QCOMPARE(LogQuill::formatLine(QtMsgType(type), time, message), line);
    }

    void logging_data()
    {
        // prefix: of the message's line in the file; empty when it is left out, "closed" when it ends logging.
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("prefix");

        QTest::newRow("info") << int(QtInfoMsg) << "x" << "D";
        QTest::newRow("other warning") << int(QtWarningMsg) << "Unrecognized feature: 'camera'." << "W";
        QTest::newRow("black-listed, upper case inside a longer text")
            << int(QtWarningMsg) << "js: UNRECOGNIZED FEATURE: 'CH-UA-FORM-FACTORS'. (page 3)" << "";
        QTest::newRow("second black-list entry") << int(QtWarningMsg)
            << "The resource https://example.com/a.css was preloaded using link preload but not used within a "
               "few seconds from the window's load event." << "";
        QTest::newRow("black-listed text in an error") << int(QtCriticalMsg) << "Unrecognized feature: 'ch-ua-form-factors'." << "ERR";
        QTest::newRow("LOG_CLOSE with blanks around") << int(QtCriticalMsg) << " \t LOG_CLOSE \n" << "closed";
        QTest::newRow("log_close in lower case") << int(QtCriticalMsg) << "log_close" << "ERR";
        QTest::newRow("LOG_CLOSE as a warning") << int(QtWarningMsg) << "LOG_CLOSE" << "W";
        QTest::newRow("LOG_CLOSE inside a longer text") << int(QtCriticalMsg) << "LOG_CLOSE now" << "ERR";
    }

    void logging()
    {
        QFETCH(int, type);
        QFETCH(QString, message);
        QFETCH(QString, prefix);

        QString started;
        const auto logger = startLogger(true, &started);
        QCOMPARE(started, QStringLiteral("Save Logs in: %1\n").arg(logger->fileName()));
        QVERIFY(currentHandler() != testHandler);
        const QTime before = QTime::currentTime();
        const QString console = emitCaptured(type, message);
        const QTime after = QTime::currentTime();
        qInfo("after");

        const QStringList lines = readLines(logger->fileName());
        if (prefix == QLatin1String("closed")) {
            QCOMPARE(console, QStringLiteral(">>> LOGGING CLOSED <<<\n"));
            QCOMPARE(lines, QStringList());
            QVERIFY(currentHandler() == defaultHandler);
            return;
        }
        QCOMPARE(lines.size(), prefix.isEmpty() ? 1 : 2);
        QVERIFY2(lines.last().endsWith(QLatin1String("] after")), qPrintable(lines.last()));
        QCOMPARE(console, prefix.isEmpty() ? QStringLiteral("\n") : lines.first() + QLatin1Char('\n'));
        if (prefix.isEmpty())
            return;
        const QRegularExpressionMatch match
            = QRegularExpression(QStringLiteral("^%1: %2 %3$").arg(prefix, stampPattern, QRegularExpression::escape(message)))
                  .match(lines.first());
        QVERIFY2(match.hasMatch(), qPrintable(lines.first()));
        // The stamp is the current time's minutes, seconds and milliseconds.
        const int written = match.captured(1).toInt() * 60000 + match.captured(2).toInt() * 1000 + match.captured(3).toInt();
        const int from = millisecondsOfHour(before);
        const int to = millisecondsOfHour(after);
        QVERIFY(from <= to ? written >= from && written <= to : written >= from || written <= to);
    }

    void removesOldLogFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageDays");
        QTest::addColumn<bool>("kept");

        QTest::newRow("txt 15 days old") << "log261120-101010.txt" << 15 << false;
        QTest::newRow("txt 13 days old") << "log261122-101010.txt" << 13 << true;
        QTest::newRow("txt of today") << "notes.txt" << 0 << true;
        QTest::newRow("log 15 days old") << "session.log" << 15 << true;
        QTest::newRow("log 400 days old") << "session.log" << 400 << true;
    }

    void removesOldLogFiles()
    {
        QFETCH(QString, name);
        QFETCH(int, ageDays);
        QFETCH(bool, kept);

        const QString logs = LogQuill::logFolderPath(folder);
        QVERIFY(QDir().mkpath(logs));
        const QString path = QDir(logs).filePath(name);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier run\n");
        file.flush();
        QVERIFY(
            file.setFileTime(QDateTime::currentDateTime().addDays(-ageDays), QFileDevice::FileModificationTime));
        file.close();

        const auto logger = startLogger(QVariant());
        QCOMPARE(QFile::exists(path), kept);
    }

    // No stored switch: logging is off until turned on; off and on again it appends to the same file.
    void switchingOnAndOff()
    {
        const QDateTime started = QDateTime::currentDateTime().addMSecs(-1000);
        QString console;
        const auto logger = startLogger(QVariant(), &console);
        QCOMPARE(console, QString());
        const QString name = logger->fileName();
        const QRegularExpressionMatch match
            = QRegularExpression(QStringLiteral("^%1/log(\\d{6}-\\d{6})\\.txt$")
                                     .arg(QRegularExpression::escape(LogQuill::logFolderPath(folder))))
                  .match(name);
        QVERIFY2(match.hasMatch(), qPrintable(name));
        const QDateTime stamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyMMdd-hhmmss")).addYears(100);
        QVERIFY2(stamp >= started && stamp <= QDateTime::currentDateTime(), qPrintable(name));
        QVERIFY(!QFile::exists(name));
        QVERIFY(!logger->isEnabled());
        QVERIFY(currentHandler() == testHandler);

        const auto switchTo = [&](bool on) {
            ConsoleCapture out(stdout);
            logger->switchLogging(on);
            const QSettings stored(QDir(folder).filePath(settingsName), QSettings::IniFormat);
            return out.finish() + (stored.value(enabledKey).toBool() ? "stored on" : "stored off");
        };
        QCOMPARE(switchTo(true), QStringLiteral("~ Logging: Enable\nSave Logs in: %1\nstored on").arg(name));
        QVERIFY(logger->isEnabled());
        qInfo("first");
        QCOMPARE(switchTo(false), QStringLiteral("~ Logging: Disable\nstored off"));
        qInstallMessageHandler(testHandler);
        qInfo("while off");
        switchTo(true);
        qInfo("second");
        logger->close();

        QCOMPARE(logger->fileName(), name);
        const QStringList lines = readLines(name);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith(QLatin1String("] first")));
        QVERIFY(lines.at(1).endsWith(QLatin1String("] second")));
    }

    void unwritableLogFolderLeavesLoggingOff()
    {
        // A plain file where the log folder belongs: the folder cannot be made, nor the log file opened.
        QFile blocker(LogQuill::logFolderPath(folder));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        ConsoleCapture err(stderr);
        QString console;
        const auto logger = startLogger(true, &console);
        const QString errors = err.finish();

        QCOMPARE(console, QString());
        QVERIFY2(errors.startsWith(QLatin1String("!!! ERROR in file output: ")), qPrintable(errors));
        QVERIFY(errors.size() > 27 && errors.endsWith(QLatin1Char('\n')));
        QVERIFY(currentHandler() == testHandler);
        QVERIFY(QFileInfo(blocker.fileName()).isFile());
    }

    void noDocumentsFolderTouchesNothing()
    {
        // The program hands over an empty path when it found no documents folder.
        const QString working = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder));
        const QString stranger = QDir(folder).filePath(QStringLiteral("Logs/notes.txt"));
        QVERIFY(QDir().mkpath(QFileInfo(stranger).path()));
        QFile file(stranger);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(-30), QFileDevice::FileModificationTime));
        file.close();

        LogQuill logger;
        ConsoleCapture out(stdout);
        ConsoleCapture err(stderr);
        logger.install(QString(), settingsName);
        const QString errors = err.finish();
        const QString console = out.finish();
        QVERIFY(QDir::setCurrent(working));

        QVERIFY(QFile::exists(stranger));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList { QStringLiteral("Logs") });
        QCOMPARE(logger.fileName(), QString());
        QVERIFY(!logger.isEnabled());
        QCOMPARE(console + errors, QString());
    }

    void eightThreadsKeepLinesWhole()
    {
        constexpr int threadCount = 8;
        constexpr int perThread = 1000;
        const auto logger = startLogger(true);

        ConsoleCapture out(stdout);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.push_back(std::unique_ptr<QThread>(QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    qInfo().noquote() << QStringLiteral("thread %1 message %2").arg(t).arg(i);
            })));
        }
        for (const auto &thread : threads)
            thread->start();
        for (const auto &thread : threads)
            QVERIFY(thread->wait(60000));
        logger->close();
        const QStringList echoed = out.finish().split(QLatin1Char('\n'), Qt::SkipEmptyParts);

        const QRegularExpression whole(QStringLiteral("^D: %1 thread (\\d) message (\\d+)$").arg(stampPattern));
        const auto check = [&](const QStringList &lines) {
            QSet<QString> seen;
            for (const QString &line : lines) {
                const QRegularExpressionMatch match = whole.match(line);
                if (!match.hasMatch())
                    return QStringLiteral("broken line: ") + line;
                seen.insert(match.captured(4) + QLatin1Char('/') + match.captured(5));
            }
            if (lines.size() != threadCount * perThread || seen.size() != threadCount * perThread)
                return QStringLiteral("%1 lines, %2 different").arg(lines.size()).arg(seen.size());
            return QString();
        };
        const QString inFile = check(readLines(logger->fileName()));
        QVERIFY2(inFile.isEmpty(), qPrintable(inFile));
        const QString onConsole = check(echoed);
        QVERIFY2(onConsole.isEmpty(), qPrintable(onConsole));
    }

    void separateFolderOfSwappedCaseIsNotTakenForTheSame()
    {
        const QString other = tempDir->filePath(QStringLiteral("zelk"));
        if (QFileInfo::exists(other)) {
            // "zelk" already names "ZELK": one folder serves both spellings.
            QVERIFY(!LogQuill::caseSensitiveNames(folder));
            QVERIFY(LogQuill::logFolderPath(folder).endsWith(QLatin1String("/logs")));
            return;
        }
        QVERIFY(QDir().mkdir(other));
        QVERIFY(LogQuill::caseSensitiveNames(folder));
        QCOMPARE(LogQuill::logFolderPath(folder), QDir(folder).filePath(QStringLiteral("Logs")));
    }
private:
    // Names the log file under `folder` with the switch stored as given (absent when not set).
    std::unique_ptr<LogQuill> startLogger(const QVariant &enabled, QString *console = nullptr) const;
    QtMessageHandler currentHandler() const;

    QtMessageHandler testHandler = nullptr;
    QtMessageHandler defaultHandler = nullptr;
    std::unique_ptr<QTemporaryDir> tempDir;
    QString folder;
};

std::unique_ptr<LogQuill> tst_LogQuill::startLogger(const QVariant &enabled, QString *console) const
{
    if (enabled.isValid()) {
        QSettings settings(QDir(folder).filePath(settingsName), QSettings::IniFormat);
        settings.setValue(enabledKey, enabled);
    }
    auto logger = std::make_unique<LogQuill>();
    ConsoleCapture out(stdout);
    logger->install(folder, settingsName);
    const QString printed = out.finish();
    if (console)
        *console = printed;
    return logger;
}

QtMessageHandler tst_LogQuill::currentHandler() const
{
    const QtMessageHandler current = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(current);
    return current;
}

QTEST_GUILESS_MAIN(tst_LogQuill)

#include "tst_logquill.moc"
