#include "plugins/LoggingInterface.h"
#include "plugins/PluginManager.h"
#include "plugins/SysInfoInterface.h"
#include "plugins/UpdateInterface.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QStringList capturedWarnings;

void captureWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        capturedWarnings << message;
}

} // namespace

class tst_PluginManager final : public QObject
{
    Q_OBJECT
public:
    tst_PluginManager() = default;

private slots:
    void init()
    {
        capturedWarnings.clear();
        previousHandler = qInstallMessageHandler(captureWarnings);
    }

    void cleanup()
    {
        qInstallMessageHandler(previousHandler);
    }

    void pathIsBesideTheExecutable()
    {
        QCOMPARE(PluginManager<LoggingInterface>::buildPath(QStringLiteral("LogQuill")),
                 QCoreApplication::applicationDirPath() + QStringLiteral("/libLogQuill.so"));
    }

    void missingLibraryWarnsOnceAndIsNotRetried()
    {
        PluginManager<SysInfoInterface> manager(QStringLiteral("NotInstalled"));
        QVERIFY(!manager.available());
        QVERIFY(!manager);
        QCOMPARE(manager.operator->(), nullptr);

        QCOMPARE(capturedWarnings.size(), 1);
        const QString warning = capturedWarnings.first();
        QVERIFY2(warning.startsWith(QStringLiteral("QDebug PluginManagerHelper::Warning() [MGR] WARNING: \"")),
                 qPrintable(warning));
        QVERIFY(warning.contains(QStringLiteral("libNotInstalled.so\" load error: \"")));
    }

    void foreignInterfaceIsRejectedAndUnloaded()
    {
        const QString path = PluginManager<LoggingInterface>::buildPath(QStringLiteral("ForeignLogger"));
        QVERIFY(QFile::exists(path));

        PluginManager<LoggingInterface> manager(QStringLiteral("ForeignLogger"));
        QVERIFY(!manager.available());
        QVERIFY(!manager.available());

        QCOMPARE(capturedWarnings.size(), 1);
        QVERIFY2(capturedWarnings.first().endsWith(QStringLiteral("libForeignLogger.so\" iface mismatch")),
                 qPrintable(capturedWarnings.first()));
        QVERIFY(!QPluginLoader(path).isLoaded());
    }

    void matchingPluginIsBoundAndCalled()
    {
        PluginManager<UpdateInterface> manager(QStringLiteral("TestUpdater"));
        QVERIFY(manager.available());
        QVERIFY(capturedWarnings.isEmpty());

        QSignalSpy done(manager.operator->(), &UpdateInterface::updateDone);
        manager->checkForUpdates(1004, QStringLiteral("1.004"));
        QCOMPARE(done.count(), 1);
        QCOMPARE(manager->property("lastCall").toString(), QStringLiteral("checkForUpdates 1004 1.004"));
    }
private:
    Q_DISABLE_COPY_MOVE(tst_PluginManager)
    QtMessageHandler previousHandler = nullptr;
};

QTEST_GUILESS_MAIN(tst_PluginManager)
#include "tst_pluginmanager.moc"
