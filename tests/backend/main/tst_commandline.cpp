#include "GlobalsInfo/GlobalsInfo.h"
#include "MediaSamples.h"
#include "ProgramRun.h"
#include "ServiceTestBed.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

// Without any display: a window's application object would end the program here.
QProcessEnvironment headless()
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("DISPLAY"), QString());
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QString());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    return environment;
}

} // namespace

// `zelk --remove` as a script runs it, against the local service and the real ffmpeg, signed in as
// the test bed's account.
class tst_CommandLine final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(bed.setUp());
        GlobalsInfo::getInstance()->appSettings()->sync();
        for (const char *name : { "one", "two" }) {
            sources << QStringLiteral("%1/%2 %3.mp3").arg(bed.sourceFolder, QLatin1String(name), oddName);
            QVERIFY(MediaSamples::makeAudio(sources.last(), { "-c:a", "libmp3lame" }));
        }
    }

    void cleanup()
    {
        for (const QString &folder : { bed.savePath, output.path(), bed.tempPath }) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
    }

    void cleanupTestCase() { QVERIFY(bed.service.stop()); }

    void twoFilesSucceed()
    {
        const ProgramRun run = zelk(
            { "--remove", "vocals", "--format", "flac", "--save", output.path(), sources[0], sources[1] });
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));

        // Each result's path on a line of its own, in the folder given, and nothing else there.
        QStringList printed;
        for (const QString &line : run.output.split('\n'))
            if (line.startsWith(output.path() + '/'))
                printed << QFileInfo(line).fileName();
        printed.sort();
        QCOMPARE(printed,
            (QStringList { "Mix Without vocals - one " + oddName + ".flac",
                "Mix Without vocals - two " + oddName + ".flac", "vocals - one " + oddName + ".flac",
                "vocals - two " + oddName + ".flac" }));
        QCOMPARE(filesIn(output.path()), printed);
        for (const QString &name : printed)
            QVERIFY(MediaSamples::probe(output.path() + '/' + name).decodes);
        // One line per stage and file.
        for (const char *stage :
            { "preparing", "uploading", "processing", "downloading", "converting to FLAC" })
            QCOMPARE(run.output.count(QStringLiteral(": %1\n").arg(QLatin1String(stage))), 2);
        QCOMPARE(filesIn(bed.tempPath), QStringList());
    }

    void refusals_data()
    {
        // clang-format off
        QTest::addColumn<QStringList>("arguments"); // %1 is a sound file
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        QTest::newRow("a missing file, then a good one")
            << QStringList { "--remove", "vocals", "--format", "mp3", "/nowhere/gone.mp3", "%1" } << true << 1
            << "[1/2] gone.mp3: File Processing Error: This file cannot be opened: /nowhere/gone.mp3";
        QTest::newRow("a bad instrument") << QStringList { "--remove", "kazoo", "--format", "mp3", "%1" } << true << 2
                                          << "Unknown instrument 'kazoo'";
        QTest::newRow("no format") << QStringList { "--remove", "vocals", "%1" } << true << 2 << "--format is missing.";
        QTest::newRow("no sign-in") << QStringList { "--remove", "vocals", "--format", "mp3", "%1" } << false << 3
                                    << "Not signed in. Start ZELK, sign in, and try again.";
        // clang-format on
    }

    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, signedIn);
        QFETCH(int, status);
        QFETCH(QString, message);

        arguments.replaceInStrings("%1", sources[0]);
        QTemporaryDir nobody;
        const ProgramRun run = zelk(arguments, signedIn ? QDir::homePath() : nobody.path());
        QVERIFY2(run.exitCode == status, qPrintable(run.output));
        QVERIFY2(run.output.contains("zelk: " + message), qPrintable(run.output));
        // The good file after a missing one is still done.
        QCOMPARE(filesIn(bed.savePath).size(), status == 1 ? 2 : 0);
    }

    void interruptMidRun()
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(headless());
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("default.debug=true"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(ZELK_PROGRAM), { "--remove", "vocals", "--format", "mp3", sources[0] });
        QString seen;
        QTRY_VERIFY_WITH_TIMEOUT(
            (seen += QString::fromUtf8(process.readAll())).contains(": processing\n"), 30000);
        QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        QVERIFY(process.waitForFinished(20000));
        seen += QString::fromUtf8(process.readAll());

        QCOMPARE(process.exitCode(), 130);
        // The service took the cancel.
        QVERIFY2(seen.contains(QRegularExpression("Successfully canceled! \"success\"")), qPrintable(seen));
        QCOMPARE(filesIn(bed.savePath), QStringList());
        QCOMPARE(filesIn(bed.tempPath), QStringList());
    }

private:
    ProgramRun zelk(const QStringList &arguments, const QString &home = QDir::homePath()) const
    {
        return ProgramRun::run(QStringLiteral(ZELK_PROGRAM), home, arguments, headless(), 90000);
    }

    const QString oddName = QStringLiteral("Björk's \"Song\" #2 + & Säng");
    ServiceTestBed bed;
    QTemporaryDir output;
    QStringList sources;
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
