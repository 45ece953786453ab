#include "FileBytes.h"
#include "ProgramRun.h"
#include "plugins/LoggingInterface.h"
#include "plugins/PluginManager.h"

#include <QDir>
#include <QPluginLoader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Runs the real start-up sequence in a separate process for each case, each with a home of its own; the
// plug-ins it binds there match, and the libraries its plug-in manager must refuse are tried here.
class tst_Startup final : public QObject
{
    Q_OBJECT
public:
    tst_Startup() = default;
    Q_DISABLE_COPY_MOVE(tst_Startup)

private slots:
    void startup_data()
    {
        // clang-format off
        QTest::addColumn<bool>("documentsFolder");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expectedLines");
        QTest::addColumn<QStringList>("absentLines");

        QTest::newRow("normal start") << true << QStringList() << 0
                                      << QStringList { "sysinfo: setApplicationInfo 1.004 25.0805 1 1",
                                                       "updater: startupCheck 1004 1.004", "updater: onQuit",
                                                       "window: [Zelk 1.004: | DEV MODE: ON] 400x430", "DONE: 0" }
                                      << QStringList { "box:", "checkForUpdates", "libUpdater.so", "libSysInfo.so" };
        QTest::newRow("no documents folder")
                << false << QStringList() << 52
                << QStringList { "!!! ERROR: Couldn't create application documents folder",
                                 "box: [ERROR] Couldn't create application documents folder" }
                << QStringList { "startupCheck" };
        QTest::newRow("update-as a number")
                << true << QStringList { "--update-as", "1003" } << 0
                << QStringList { "------------------", "Update as version: 1003", "updater: checkForUpdates 1003 1.004" }
                << QStringList();
        QTest::newRow("update-as not a number") << true << QStringList { "--update-as", "v2" } << 0
                                                << QStringList { "updater: checkForUpdates 0 1.004" } << QStringList();
        QTest::newRow("update-as empty prints help")
                << true << QStringList { "--update-as", "" } << 0
                << QStringList { "--update-as <version>", "update this app as some version", "--uid" }
                << QStringList { "checkForUpdates", "DONE:" };
        QTest::newRow("unknown option") << true << QStringList { "--colour" } << 1
                                        << QStringList { "Unknown option 'colour'" } << QStringList { "DONE:" };
        QTest::newRow("uid after update-as")
                << true << QStringList { "--uid", "--update-as", "7" } << 0
                << QStringList { "updater: checkForUpdates 7 1.004\nsysinfo: showUid" } << QStringList();
        // clang-format on
    }

    void startup()
    {
        QFETCH(bool, documentsFolder);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expectedLines);
        QFETCH(QStringList, absentLines);

        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString documents = home.filePath(QStringLiteral("Documents/ZELK"));
        if (documentsFolder)
            QVERIFY(QDir().mkpath(documents));

        const ProgramRun run
            = ProgramRun::run(QStringLiteral(STARTUP_DRIVER), home.path(), arguments, {}, 30000);
        QVERIFY2(run.exitCode == exitCode,
            qPrintable(QStringLiteral("exit %1:\n%2").arg(run.exitCode).arg(run.output)));
        for (const QString &line : expectedLines)
            QVERIFY2(run.output.contains(line), qPrintable(line + QStringLiteral("\n---\n") + run.output));
        for (const QString &line : absentLines)
            QVERIFY2(!run.output.contains(line), qPrintable(line + QStringLiteral("\n---\n") + run.output));

        if (documentsFolder && exitCode == 0 && !arguments.contains(QStringLiteral("")))
            for (const char *name : { "Save", "Audio", "Logs", "Temp" })
                QVERIFY2(QFileInfo(documents + QLatin1Char('/') + QLatin1String(name)).isDir(), name);
        if (!documentsFolder)
            QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("Documents"))));
    }

    void oneFolderFailsTheOthersAreStillMade()
    {
        QTemporaryDir home;
        const QString documents = home.filePath(QStringLiteral("Documents/ZELK"));
        QVERIFY(QDir().mkpath(documents));
        // A plain file where "Audio" should be: that folder cannot be made, the ones after it still are.
        QVERIFY(writeFile(documents + QStringLiteral("/Audio"), {}));

        const ProgramRun run = ProgramRun::run(QStringLiteral(STARTUP_DRIVER), home.path(), {}, {}, 30000);
        QVERIFY2(run.exitCode == 65, qPrintable(run.output));
        const QString message
            = QStringLiteral("Couldn't create application documents folder: '%1'").arg(documents);
        QVERIFY2(run.output.contains(QStringLiteral("box: [ERROR] ") + message), qPrintable(run.output));
        for (const char *name : { "Save", "Logs", "Temp" })
            QVERIFY2(QFileInfo(documents + QLatin1Char('/') + QLatin1String(name)).isDir(), name);
        QVERIFY(!run.output.contains(QStringLiteral("startupCheck")));
    }

    void unusableLibraryIsNotBound_data()
    {
        // clang-format off
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem");

        QTest::newRow("missing") << "NotInstalled" << "load error: \"";
        QTest::newRow("another program's interface") << "ForeignLogger" << "iface mismatch";
        // clang-format on
    }

    void unusableLibraryIsNotBound()
    {
        QFETCH(QString, name);
        QFETCH(QString, problem);

        // Looked up beside the executable, warned about once, not tried again.
        const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/lib%1.so").arg(name);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression('^'
                + QRegularExpression::escape(
                    QStringLiteral("QDebug PluginManagerHelper::Warning() [MGR] WARNING: \"%1\" %2")
                        .arg(path, problem))));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        PluginManager<LoggingInterface> manager(name);
        QVERIFY(!manager.available() && !manager && !manager.operator->());
        QVERIFY(!QPluginLoader(path).isLoaded());
    }
};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
