#include "MediaSamples.h"
#include "ProgramRun.h"
#include "RecordingPlayer.h"
#include "ServiceProcess.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// A newcomer's first run: the program against the local service, registering through the window,
// then a second start that signs in silently from the stored sign-in, drops a song on the window and
// opens both results in the player the settings name.
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

    RecordingPlayer player;
    QVERIFY(player.create(home.path()));
    {
        QSettings settings(documents + QStringLiteral("/zelk.ini"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("default_audio_player"), QStringLiteral("Sound Recorder"));
        settings.setValue(QStringLiteral("SoundRecorder"), player.program());
        settings.setValue(QStringLiteral("default_audio_format"), QStringLiteral("MP3"));
    }
    const QString song = home.filePath(QStringLiteral("My Song.flac"));
    QVERIFY(MediaSamples::makeAudio(song, { "-c:a", "flac" }));
    const QString third = runProgram(home.path(), QStringLiteral("process:%1:drums").arg(song));
    const QString mainResult = documents + QStringLiteral("/Save/drums - My Song.mp3");
    const QString mixResult = documents + QStringLiteral("/Save/Mix Without drums - My Song.mp3");
    const QByteArray shown = third.right(1500).toUtf8();
    QVERIFY2(third.contains(QStringLiteral("title: Process is Successful!\nresults: %1 | %2\n").arg(mainResult, mixResult)),
        shown);
    // Short files are downloaded and converted within the delay of those two screens.
    QVERIFY2(third.contains(QRegularExpression(
                 QStringLiteral("screens: converting uploading processing( downloading)?( converting)? success\n"))),
        shown);
    QVERIFY2(third.contains(QStringLiteral("layer: hidden\nsize: 470x210\n")), shown);
    QVERIFY2(third.endsWith(QStringLiteral("exit: 0\n")), shown);
    QTRY_COMPARE(player.opened(), (QStringList { mixResult, mainResult }));

    QVERIFY(service.stop());
}

QTEST_GUILESS_MAIN(tst_FirstRun)
#include "tst_firstrun.moc"
