#include "FileBytes.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "MediaSamples.h"
#include "ProgramRun.h"
#include "ServiceProcess.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// One user's whole story in the real program, against the local service and ffmpeg: from the first
// start to signing in again after a logout. The driver prints what the user saw at each step; every
// line is checked here.
class tst_Journey final : public QObject
{
    Q_OBJECT

private slots:
    void fromFirstStartToSigningInAgain()
    {
        QTemporaryDir data;
        ServiceProcess service;
        // Slow enough for the countdown to show a few seconds.
        QVERIFY(service.start(data.path(), 3));

        // A brand-new home: only the run script's settings file, naming the local service, and the
        // stand-in player in place of the desktop's.
        QTemporaryDir home;
        const QString documents = home.filePath(QStringLiteral("Documents/ZELK"));
        QVERIFY(QDir().mkpath(documents));
        // The player writes down each file it is asked to open; the log's path comes from its own.
        const QString player = home.filePath(QStringLiteral("player.sh"));
        QVERIFY(writeFile(player, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened.txt\"\n"));
        QVERIFY(QFile::setPermissions(player, QFile::permissions(player) | QFile::ExeOwner));
        {
            QSettings settings(documents + QStringLiteral("/zelk.ini"), QSettings::IniFormat);
            settings.setValue(SettingsKeys::serviceUrl(), service.url(QString()).toString());
            settings.setValue(
                SettingsKeys::probeUrl(), service.url(QStringLiteral("/generate_204")).toString());
            settings.setValue(SettingsKeys::videoPlayer(), QStringLiteral("Clipwright"));
            settings.setValue(QStringLiteral("Clipwright"), player);
        }
        const QString title = QStringLiteral("Fête à Zürich");
        const QString video = home.filePath(title + QStringLiteral(".mp4"));
        QVERIFY(MediaSamples::makeVideo(video, { "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac" }));

        QProcessEnvironment environment;
        environment.insert(QStringLiteral("ZELK_E2E"),
            QStringLiteral("journey:%1:Ada Lovelace:ada@example.org:engine1843:Ada King").arg(video));
        const ProgramRun run
            = ProgramRun::run(QStringLiteral(FIRSTRUN_DRIVER), home.path(), {}, environment, 90000);
        qInfo().noquote() << run.output;

        const QString save = documents + QStringLiteral("/Save/");
        const QString mainResult = save + QStringLiteral("vocals - %1.mp4").arg(title);
        const QString mixResult = save + QStringLiteral("Mix Without vocals - %1.mp4").arg(title);
        const QString signedIn = QStringLiteral("error '', layer hidden, account ada@example.org");
        // In the order the user lives them; the short file is fetched and converted within the delay of
        // those two screens, so they may pass unseen.
        const QStringList steps {
            QStringLiteral("first start: layer shown, usable '', size 400x430\n"),
            QStringLiteral("eye: open\n"),
            QStringLiteral("registered: %1\n").arg(signedIn),
            QStringLiteral("file: %1.mp4\n").arg(title),
            QStringLiteral("chosen: vocals MP4\n"),
            QStringLiteral("screens: converting uploading processing( downloading)?( converting)? success\n"),
            QStringLiteral("countdown: [^\n]*0:0[1-9]"),
            QStringLiteral("title: Process is Successful!\n"),
            QStringLiteral("results: %1 \\| %2\n")
                .arg(QRegularExpression::escape(mainResult), QRegularExpression::escape(mixResult)),
            QStringLiteral("archive: %1\n").arg(title),
            QStringLiteral("fetched: Mix Without vocals - %1\\.flac\n").arg(title),
            QStringLiteral("settings: saved\n"),
            QStringLiteral("preselected: MKV\n"),
            QStringLiteral("renamed: saved\nmy account: Ada King\n"),
            QStringLiteral(
                "logged out: layer shown, usable '', size 400x430, form login, address ada@example.org, "
                "kept '', sign-in deleted\n"),
            QStringLiteral("signed in: %1\n").arg(signedIn),
            // Read back from the service at sign-in, not from the window that changed it.
            QStringLiteral("my account: Ada King\n"),
            QStringLiteral("boxes: \n"),
            QStringLiteral(
                "end: layer hidden, usable 'myAccountButton helpButton selectFileButton settingsButton "
                "archiveButton', size 470x210, account ada@example.org\n"),
        };
        qsizetype from = 0;
        for (const QString &step : steps) {
            const QRegularExpressionMatch match = QRegularExpression(step).match(run.output, from);
            QVERIFY2(match.hasMatch(), qPrintable(step));
            from = match.capturedEnd();
        }
        QCOMPARE(run.exitCode, 0);
        // Both players start at once and may write in either order; the story went on long after.
        QStringList opened = QString::fromUtf8(readFile(home.filePath(QStringLiteral("opened.txt"))))
                                 .split('\n', Qt::SkipEmptyParts);
        opened.sort();
        QCOMPARE(opened, (QStringList { mixResult, mainResult }));
        QVERIFY(QFileInfo(save + QStringLiteral("Mix Without vocals - %1.flac").arg(title)).size() > 0);
        QVERIFY(service.stop());
    }
};

QTEST_GUILESS_MAIN(tst_Journey)
#include "tst_journey.moc"
