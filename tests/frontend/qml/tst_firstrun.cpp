#include "ProgramRun.h"
#include "ServiceProcess.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// A newcomer's first run: the program against the local service, registering through the window,
// then a second start that signs in silently from the stored sign-in.
class tst_FirstRun final : public QObject
{
    Q_OBJECT

public:
    tst_FirstRun() = default;

private slots:
    void registerThenStartSignedIn();

private:
    Q_DISABLE_COPY_MOVE(tst_FirstRun)
    static QString runProgram(const QString &home, const QString &script);
};

QString tst_FirstRun::runProgram(const QString &home, const QString &script)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("ZELK_E2E"), script);
    const ProgramRun run = ProgramRun::run(QStringLiteral(FIRSTRUN_DRIVER), home, {}, environment);
    return run.output + QStringLiteral("exit: %1\n").arg(run.exitCode);
}

void tst_FirstRun::registerThenStartSignedIn()
{
    QTemporaryDir data;
    ServiceProcess service;
    QVERIFY(service.start(data.path(), 0));

    // As the run script does: an empty "ZELK" documents folder, pointed at the local service.
    QTemporaryDir home;
    const QString documents = home.filePath(QStringLiteral("Documents/ZELK"));
    QVERIFY(QDir().mkpath(documents));
    {
        QSettings settings(documents + QStringLiteral("/zelk.ini"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("service_url"), service.url(QString()).toString());
        settings.setValue(QStringLiteral("probe_url"), service.url(QStringLiteral("/generate_204")).toString());
    }

    const QString first = runProgram(home.path(), QStringLiteral("register:Ada Lovelace:ada@example.org:engine1843"));
    QVERIFY2(first.contains(QStringLiteral("error: \nlayer: hidden\nsize: 470x210\n")), qPrintable(first));
    QVERIFY2(first.endsWith(QStringLiteral("exit: 0\n")), qPrintable(first));

    const QString second = runProgram(home.path(), QStringLiteral("report"));
    QVERIFY2(second.contains(QStringLiteral("layer: hidden\nsize: 470x210\n")), qPrintable(second));
    QVERIFY2(second.endsWith(QStringLiteral("exit: 0\n")), qPrintable(second));
    for (const char *folder : { "Save", "Audio", "Logs", "Temp" })
        QVERIFY2(QFileInfo(documents + QLatin1Char('/') + QLatin1String(folder)).isDir(), folder);

    QVERIFY(service.stop());
}

QTEST_GUILESS_MAIN(tst_FirstRun)
#include "tst_firstrun.moc"
