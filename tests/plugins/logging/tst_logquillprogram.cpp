#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString logFileText(const QString &logs)
{
    const QStringList names = QDir(logs).entryList({ QStringLiteral("log*.txt") }, QDir::Files);
    if (names.size() != 1)
        return {};
    QFile file(QDir(logs).filePath(names.first()));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class tst_LogQuillProgram final : public QObject
{
    Q_OBJECT
public:
    tst_LogQuillProgram() = default;
    Q_DISABLE_COPY_MOVE(tst_LogQuillProgram)

private slots:
    void writesStartUpTraceLines()
    {
        QTemporaryDir home(QDir::home().filePath(QStringLiteral("program-home-XXXXXX")));
        QVERIFY(home.isValid());
        const QString documents = home.filePath(QStringLiteral("Documents/ZELK"));
        QVERIFY(QDir().mkpath(documents));
        {
            QSettings settings(QDir(documents).filePath(QStringLiteral("zelk.ini")), QSettings::IniFormat);
            settings.setValue(QStringLiteral("APP_LOGFILE_ENABLED"), true);
        }

        QProcess zelk;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        zelk.setProcessEnvironment(environment);
        zelk.setWorkingDirectory(home.path());
        zelk.start(QStringLiteral(ZELK_PROGRAM_PATH), {});
        QVERIFY2(zelk.waitForStarted(), qPrintable(zelk.errorString()));

        // The updater is the last plug-in the start-up asks for, just before the event loop runs.
        const QString logs = QDir(documents).filePath(QStringLiteral("Logs"));
        QTRY_VERIFY_WITH_TIMEOUT(logFileText(logs).contains(QLatin1String("libUpdater")), 20000);
        QCOMPARE(zelk.state(), QProcess::Running);
        // The program has no way to be asked to quit from outside, so its shutdown line is not awaited.
        zelk.terminate();
        QVERIFY(zelk.waitForFinished(10000));

        const QString console = QString::fromLocal8Bit(zelk.readAllStandardOutput());
        const QString errors = QString::fromLocal8Bit(zelk.readAllStandardError());
        const QString text = logFileText(logs);
        QVERIFY2(!text.contains(QLatin1String("LogQuill")) && !errors.contains(QLatin1String("LogQuill")),
            qPrintable(text + errors));

        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QRegularExpression loadError(
            QStringLiteral("^W: \\[\\d\\d:\\d\\d:\\d\\d\\d\\] QDebug PluginManagerHelper::Warning\\(\\) "
                           "\\[MGR\\] WARNING: \".*/lib(\\w+)\\.\\w+\" load error: \".+\"$"));
        QStringList missing;
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = loadError.match(line);
            if (match.hasMatch())
                missing << match.captured(1);
            QVERIFY2(console.contains(line + QLatin1Char('\n')), qPrintable(line));
        }
        QCOMPARE(missing, QStringList({ QStringLiteral("SysInfo"), QStringLiteral("Updater") }));

        const QString logName = QDir(logs).entryList({ QStringLiteral("log*.txt") }).value(0);
        QVERIFY(console.startsWith(QStringLiteral("Save Logs in: %1\n").arg(QDir(logs).filePath(logName))));
    }
};

QTEST_GUILESS_MAIN(tst_LogQuillProgram)

#include "tst_logquillprogram.moc"
