#include "FileBytes.h"
#include "LogQuill.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Runs action with stream diverted into a temporary file and answers what it printed meanwhile.
template <typename Action> QString printedBy(FILE *stream, Action action)
{
    QTemporaryFile file;
    std::fflush(stream);
    const int saved = ::dup(::fileno(stream));
    if (file.open())
        ::dup2(file.handle(), ::fileno(stream));
    action();
    std::fflush(stream);
    ::dup2(saved, ::fileno(stream));
    ::close(saved);
    return QString::fromLocal8Bit(readFile(file.fileName()));
}

const QString settingsName = QStringLiteral("zelk.ini");
const QString enabledKey = QString::fromLatin1(LoggingInterface::enabledKey);

QStringList readLines(const QString &path)
{
    return QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A file, and the folders above it, last written ageDays ago.
bool writeAgedFile(const QString &path, int ageDays)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.setFileTime(
            QDateTime::currentDateTime().addDays(-ageDays), QFileDevice::FileModificationTime);
}

QtMessageHandler currentHandler()
{
    const QtMessageHandler current = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(current);
    return current;
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
        // clang-format off
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");

        QTest::newRow("warning") << int(QtWarningMsg) << "disk almost full" << "W: [23:01:045] disk almost full";
        QTest::newRow("error") << int(QtCriticalMsg) << "no service" << "ERR: [23:01:045] no service";
        QTest::newRow("fatal") << int(QtFatalMsg) << "out of memory" << "FATAL: [23:01:045] out of memory";
        QTest::newRow("debug") << int(QtDebugMsg) << "ffmpeg -i a.wav" << "ffmpeg -i a.wav";
        QTest::newRow("placeholders kept") << int(QtInfoMsg) << "50%1 done %2" << "D: [23:01:045] 50%1 done %2";
        // Black-listed warnings make no line; other messages alike are kept.
        QTest::newRow("other warning") << int(QtWarningMsg) << "Unrecognized feature: 'camera'."
                                       << "W: [23:01:045] Unrecognized feature: 'camera'.";
        QTest::newRow("black-listed, upper case inside a longer text")
            << int(QtWarningMsg) << "js: UNRECOGNIZED FEATURE: 'CH-UA-FORM-FACTORS'. (page 3)" << "";
        QTest::newRow("second black-list entry") << int(QtWarningMsg)
            << "The resource https://example.com/a.css was preloaded using link preload but not used within a "
               "few seconds from the window's load event." << "";
        QTest::newRow("black-listed text in an error") << int(QtCriticalMsg) << "Unrecognized feature: 'ch-ua-form-factors'."
                                                       << "ERR: [23:01:045] Unrecognized feature: 'ch-ua-form-factors'.";
        // clang-format on
    }

    void formatLine()
    {
        QFETCH(int, type);
        QFETCH(QString, message);
        QFETCH(QString, line);

        // The hour is left out of the stamp.
        QCOMPARE(LogQuill::formatLine(QtMsgType(type), QTime(14, 23, 1, 45), message), line);
    }

    void logging_data()
    {
        // clang-format off
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("closes");

        QTest::newRow("info") << int(QtInfoMsg) << "x" << false;
        QTest::newRow("black-listed warning") << int(QtWarningMsg) << "Unrecognized feature: 'ch-ua-form-factors'." << false;
        QTest::newRow("LOG_CLOSE with blanks around") << int(QtCriticalMsg) << " \t LOG_CLOSE \n" << true;
        QTest::newRow("log_close in lower case") << int(QtCriticalMsg) << "log_close" << false;
        QTest::newRow("LOG_CLOSE as a warning") << int(QtWarningMsg) << "LOG_CLOSE" << false;
        QTest::newRow("LOG_CLOSE inside a longer text") << int(QtCriticalMsg) << "LOG_CLOSE now" << false;
        // clang-format on
    }

    void logging()
    {
        QFETCH(int, type);
        QFETCH(QString, message);
        QFETCH(bool, closes);

        const auto logger = startLogger(true);
        QVERIFY(currentHandler() != testHandler);
        const QDateTime before = QDateTime::currentDateTime();
        const QString console
            = printedBy(stdout, [&] { qt_message_output(QtMsgType(type), QMessageLogContext(), message); });
        const QDateTime after = QDateTime::currentDateTime();
        qInfo("after");

        const QStringList lines = readLines(logger->fileName());
        if (closes) {
            QCOMPARE(console, QStringLiteral(">>> LOGGING CLOSED <<<\n"));
            QCOMPARE(lines, QStringList());
            QVERIFY(currentHandler() == defaultHandler);
            return;
        }
        // The message's line as made at some moment of the call, in the file and on the console; a
        // black-listed one leaves only an empty line on the console.
        QStringList expected;
        for (QDateTime moment = before; moment <= after; moment = moment.addMSecs(1))
            expected << LogQuill::formatLine(QtMsgType(type), moment.time(), message);
        const bool written = !expected.constFirst().isEmpty();
        QCOMPARE(lines.size(), written ? 2 : 1);
        QVERIFY2(!written || expected.contains(lines.first()), qPrintable(lines.first()));
        QVERIFY2(lines.last().endsWith(QLatin1String("] after")), qPrintable(lines.last()));
        QCOMPARE(console, (written ? lines.first() : QString()) + QLatin1Char('\n'));
    }

    void removesOldLogFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageDays");
        QTest::addColumn<bool>("kept");

        QTest::newRow("txt 15 days old") << "log261120-101010.txt" << 15 << false;
        QTest::newRow("txt 13 days old") << "log261122-101010.txt" << 13 << true;
        QTest::newRow("log 15 days old") << "session.log" << 15 << true;
    }

    void removesOldLogFiles()
    {
        QFETCH(QString, name);
        QFETCH(int, ageDays);
        QFETCH(bool, kept);

        const QString path = QDir(LogQuill::logFolderPath(folder)).filePath(name);
        QVERIFY(writeAgedFile(path, ageDays));
        const auto logger = startLogger(QVariant());
        QCOMPARE(QFile::exists(path), kept);
    }

    // No stored switch: logging is off until turned on; off and on again it appends to the same file.
    void switchingOnAndOff()
    {
        const auto nameAt = [this](const QDateTime &moment) {
            return QStringLiteral("%1/log%2.txt")
                .arg(LogQuill::logFolderPath(folder), moment.toString("yyMMdd-hhmmss"));
        };
        const QString before = nameAt(QDateTime::currentDateTime());
        QString console;
        const auto logger = startLogger(QVariant(), &console);
        QCOMPARE(console, QString());
        const QString name = logger->fileName();
        QVERIFY2(name == before || name == nameAt(QDateTime::currentDateTime()), qPrintable(name));
        QVERIFY(!QFile::exists(name));
        QVERIFY(!logger->isEnabled());
        QVERIFY(currentHandler() == testHandler);

        const auto switchTo = [&](bool on) {
            const QString printed = printedBy(stdout, [&] { logger->switchLogging(on); });
            const QSettings stored(QDir(folder).filePath(settingsName), QSettings::IniFormat);
            return printed + (stored.value(enabledKey).toBool() ? "stored on" : "stored off");
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
        QVERIFY(writeFile(LogQuill::logFolderPath(folder), {}));

        QString console;
        std::unique_ptr<LogQuill> logger;
        const QString errors = printedBy(stderr, [&] { logger = startLogger(true, &console); });

        QCOMPARE(console, QString());
        QVERIFY2(errors.startsWith(QLatin1String("!!! ERROR in file output: ")), qPrintable(errors));
        QVERIFY(errors.size() > 27 && errors.endsWith(QLatin1Char('\n')));
        QVERIFY(currentHandler() == testHandler);
        QVERIFY(QFileInfo(LogQuill::logFolderPath(folder)).isFile());
    }

    void noDocumentsFolderTouchesNothing()
    {
        // The program hands over an empty path when it found no documents folder.
        const QString working = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder));
        const QString stranger = QDir(folder).filePath(QStringLiteral("Logs/notes.txt"));
        QVERIFY(writeAgedFile(stranger, 30));

        LogQuill logger;
        QString errors;
        const QString console = printedBy(
            stdout, [&] { errors = printedBy(stderr, [&] { logger.install(QString(), settingsName); }); });
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

        const QString echoed = printedBy(stdout, [&] {
            std::vector<std::unique_ptr<QThread>> threads;
            for (int t = 0; t < threadCount; ++t) {
                threads.push_back(std::unique_ptr<QThread>(QThread::create([t] {
                    for (int i = 0; i < perThread; ++i)
                        qInfo().noquote() << QStringLiteral("thread %1 message %2").arg(t).arg(i);
                })));
                threads.back()->start();
            }
            for (const auto &thread : threads)
                QVERIFY(thread->wait(60000));
            logger->close();
        });

        // Every message once, each whole on a line of its own, in the file and on the console.
        QStringList expected;
        for (int t = 0; t < threadCount; ++t)
            for (int i = 0; i < perThread; ++i)
                expected << QStringLiteral("thread %1 message %2").arg(t).arg(i);
        expected.sort();
        const auto messages = [](QStringList lines) {
            lines.replaceInStrings(
                QRegularExpression(QStringLiteral("^D: \\[\\d\\d:\\d\\d:\\d{3}\\] ")), QString());
            lines.sort();
            return lines;
        };
        QCOMPARE(messages(readLines(logger->fileName())), expected);
        QCOMPARE(messages(echoed.split(QLatin1Char('\n'), Qt::SkipEmptyParts)), expected);
    }

    void separateFolderOfSwappedCaseIsNotTakenForTheSame()
    {
        QVERIFY(QDir().mkdir(tempDir->filePath(QStringLiteral("zelk"))));
        QVERIFY(LogQuill::caseSensitiveNames(folder));
        QCOMPARE(LogQuill::logFolderPath(folder), QDir(folder).filePath(QStringLiteral("Logs")));
    }

    // In the program: the log file holds the start-up's trace lines, each also on the console.
    void programWritesStartUpTraceLines()
    {
        const QString documents = tempDir->filePath(QStringLiteral("home/Documents/ZELK"));
        QVERIFY(QDir().mkpath(documents));
        QSettings(QDir(documents).filePath(settingsName), QSettings::IniFormat).setValue(enabledKey, true);
        QProcess zelk;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), tempDir->filePath(QStringLiteral("home")));
        zelk.setProcessEnvironment(environment);
        zelk.setWorkingDirectory(tempDir->filePath(QStringLiteral("home")));
        zelk.start(QStringLiteral(ZELK_PROGRAM_PATH), {});
        QVERIFY2(zelk.waitForStarted(), qPrintable(zelk.errorString()));

        // The updater is the last plug-in the start-up asks for, just before the event loop runs.
        const QDir logs(QDir(documents).filePath(QStringLiteral("Logs")));
        const auto logName = [&logs] {
            const QStringList names = logs.entryList({ QStringLiteral("log*.txt") }, QDir::Files);
            return names.size() == 1 ? logs.filePath(names.first()) : QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(readFile(logName()).contains("libUpdater"), 20000);
        QCOMPARE(zelk.state(), QProcess::Running);
        // The program has no way to be asked to quit from outside, so its shutdown line is not awaited.
        zelk.terminate();
        QVERIFY(zelk.waitForFinished(10000));

        const QString console = QString::fromLocal8Bit(zelk.readAllStandardOutput());
        const QString errors = QString::fromLocal8Bit(zelk.readAllStandardError());
        const QString text = QString::fromUtf8(readFile(logName()));
        QVERIFY2(!text.contains(QLatin1String("LogQuill")) && !errors.contains(QLatin1String("LogQuill")),
            qPrintable(text + errors));
        // The two plug-ins not installed beside it, each warned about once.
        const QRegularExpression loadError(
            QStringLiteral("^W: \\[\\d\\d:\\d\\d:\\d{3}\\] QDebug PluginManagerHelper::Warning\\(\\) "
                           "\\[MGR\\] WARNING: \".*/lib(SysInfo|Updater)\\.\\w+\" load error: \".+\"$"));
        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.filter(QLatin1String("load error")).size(), 2);
        QCOMPARE(lines.filter(loadError).size(), 2);
        for (const QString &line : lines)
            QVERIFY2(console.contains(line + QLatin1Char('\n')), qPrintable(line));
        QVERIFY(console.startsWith(QStringLiteral("Save Logs in: %1\n").arg(logName())));
    }

private:
    // Names the log file under `folder` with the switch stored as given (absent when not set).
    std::unique_ptr<LogQuill> startLogger(const QVariant &enabled, QString *console = nullptr) const
    {
        if (enabled.isValid())
            QSettings(QDir(folder).filePath(settingsName), QSettings::IniFormat)
                .setValue(enabledKey, enabled);
        auto logger = std::make_unique<LogQuill>();
        const QString printed = printedBy(stdout, [&] { logger->install(folder, settingsName); });
        if (console)
            *console = printed;
        return logger;
    }

    QtMessageHandler testHandler = nullptr;
    QtMessageHandler defaultHandler = nullptr;
    std::unique_ptr<QTemporaryDir> tempDir;
    QString folder;
};

QTEST_GUILESS_MAIN(tst_LogQuill)

#include "tst_logquill.moc"
