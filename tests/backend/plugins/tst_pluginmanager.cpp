#include "plugins/LoggingInterface.h"
#include "plugins/PluginManager.h"

#include <QPluginLoader>
#include <QTest>

namespace {

QStringList capturedWarnings;

void captureWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        capturedWarnings << message;
}

} // namespace

// The start-up test binds matching plug-ins; these are the libraries that must not be bound.
class tst_PluginManager final : public QObject
{
    Q_OBJECT
public:
    tst_PluginManager() = default;
    Q_DISABLE_COPY_MOVE(tst_PluginManager)

private slots:
    void init()
    {
        capturedWarnings.clear();
        previousHandler = qInstallMessageHandler(captureWarnings);
    }

    void cleanup() { qInstallMessageHandler(previousHandler); }

    void unusableLibraryIsNotBound_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem");

        QTest::newRow("missing") << "NotInstalled" << "load error: \"";
        QTest::newRow("another program's interface") << "ForeignLogger" << "iface mismatch";
    }

    void unusableLibraryIsNotBound()
    {
        QFETCH(QString, name);
        QFETCH(QString, problem);

        // Looked up beside the executable, warned about once, not tried again.
        const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/lib%1.so").arg(name);
        PluginManager<LoggingInterface> manager(name);
        QVERIFY(!manager.available());
        QVERIFY(!manager);
        QCOMPARE(manager.operator->(), nullptr);
        QCOMPARE(capturedWarnings.size(), 1);
        QVERIFY2(capturedWarnings.first().startsWith(
                     QStringLiteral("QDebug PluginManagerHelper::Warning() [MGR] WARNING: \"%1\" %2").arg(path, problem)),
            qPrintable(capturedWarnings.first()));
        QVERIFY(!QPluginLoader(path).isLoaded());
    }

private:
    QtMessageHandler previousHandler = nullptr;
};

QTEST_GUILESS_MAIN(tst_PluginManager)
#include "tst_pluginmanager.moc"
