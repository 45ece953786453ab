#include "plugins/LoggingInterface.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QPluginLoader>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class tst_LogQuillPlugin final : public QObject
{
    Q_OBJECT

public:
    tst_LogQuillPlugin() = default;
    Q_DISABLE_COPY_MOVE(tst_LogQuillPlugin)

private slots:
    void declaresTheLoggingInterface();
    void handsOutOneInstance();
    void logsThroughTheInterface();
};

void tst_LogQuillPlugin::declaresTheLoggingInterface()
{
    const QPluginLoader loader(QStringLiteral(LOGQUILL_PATH));
    const QJsonObject metaData = loader.metaData();
    QCOMPARE(metaData.value(QStringLiteral("IID")).toString(), QStringLiteral(LoggingInterface_iid));
    QVERIFY(metaData.value(QStringLiteral("IID")).toString().endsWith(QLatin1String(".LoggingInterface")));
    QCOMPARE(metaData.value(QStringLiteral("className")).toString(), QStringLiteral("LogQuill"));
    QVERIFY(metaData.value(QStringLiteral("MetaData")).toObject().isEmpty());
}

void tst_LogQuillPlugin::handsOutOneInstance()
{
    QPluginLoader first(QStringLiteral(LOGQUILL_PATH));
    QVERIFY2(first.load(), qPrintable(first.errorString()));
    QObject *instance = first.instance();
    QVERIFY(instance);
    QVERIFY(qobject_cast<LoggingInterface *>(instance));
    QCOMPARE(instance->parent(), nullptr);

    QPluginLoader second(QStringLiteral(LOGQUILL_PATH));
    QCOMPARE(second.instance(), instance);
}

void tst_LogQuillPlugin::logsThroughTheInterface()
{
    // Every call goes through the interface's table, as the program's calls do.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("ZELK"));
    QVERIFY(QDir().mkpath(folder));
    QPluginLoader loader(QStringLiteral(LOGQUILL_PATH));
    auto *logging = qobject_cast<LoggingInterface *>(loader.instance());
    QVERIFY(logging);

    const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(testHandler);
    logging->install(folder, QStringLiteral("zelk.ini"));
    QVERIFY(!logging->isEnabled());
    logging->switchLogging(true);
    QVERIFY(logging->isEnabled());
    qWarning("through the plug-in");
    logging->close();
    qInstallMessageHandler(testHandler);

    const QStringList logFiles
        = QDir(folder + QStringLiteral("/Logs")).entryList({ QStringLiteral("log*.txt") });
    QCOMPARE(logFiles.size(), 1);
    QFile file(folder + QStringLiteral("/Logs/") + logFiles.first());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(
        text.startsWith(QLatin1String("W: [")) && text.endsWith(QLatin1String("] through the plug-in\n")),
        qPrintable(text));
    QCOMPARE(QSettings(folder + QStringLiteral("/zelk.ini"), QSettings::IniFormat)
                 .value(QStringLiteral("APP_LOGFILE_ENABLED"))
                 .toBool(),
        true);
}

QTEST_GUILESS_MAIN(tst_LogQuillPlugin)

#include "tst_logquillplugin.moc"
