// A stand-in for ffmpeg. It appends {"pid", "args"} as one JSON line to $ZELK_FAKE_FFMPEG_LOG and writes
// a small file to its last argument, which is where ffmpeg writes its output. Environment switches:
//   ZELK_FAKE_FFMPEG_FAIL_IF=<arg>   a run with this argument leaves a partial output and ends with status 1
//   ZELK_FAKE_FFMPEG_HANG_IF=<arg>   a run with this argument leaves a partial output and sleeps up to 60 s
//   ZELK_FAKE_FFMPEG_IGNORE_TERM=1   ignore the terminate request, so only a kill ends it
//   ZELK_FAKE_FFMPEG_NO_OUTPUT=1     end with status 0 but write nothing
// Like ffmpeg, without "-y" it asks on its input before overwriting an existing output and ends on no.

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QString switchValue(const char *name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    if (switchValue("ZELK_FAKE_FFMPEG_IGNORE_TERM") == QLatin1String("1"))
        std::signal(SIGTERM, SIG_IGN);

    const QString logPath = switchValue("ZELK_FAKE_FFMPEG_LOG");
    if (!logPath.isEmpty()) {
        QFile log(logPath);
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
            return 2;
        const QJsonObject entry { { "pid", static_cast<qint64>(getpid()) },
            { "args", QJsonArray::fromStringList(args) } };
        log.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
    }
    if (args.isEmpty())
        return 1;

    const QString output = args.last();
    if (!args.contains(QLatin1String("-y")) && QFile::exists(output)) {
        std::fprintf(stderr, "File '%s' already exists. Overwrite? [y/N] ", qPrintable(output));
        char answer[16] = {};
        if (!std::fgets(answer, sizeof answer, stdin) || answer[0] != 'y') {
            std::fprintf(stderr, "Not overwriting - exiting\n");
            return 1;
        }
    }

    const QString failIf = switchValue("ZELK_FAKE_FFMPEG_FAIL_IF");
    const QString hangIf = switchValue("ZELK_FAKE_FFMPEG_HANG_IF");
    if (!failIf.isEmpty() && args.contains(failIf)) {
        writeFile(output, "partial");
        return 1;
    }
    if (!hangIf.isEmpty() && args.contains(hangIf)) {
        writeFile(output, "partial");
        for (int i = 0; i < 600; ++i)
            usleep(100 * 1000);
    }
    if (switchValue("ZELK_FAKE_FFMPEG_NO_OUTPUT") == QLatin1String("1"))
        return 0;
    return writeFile(output, "converted media\n") ? 0 : 1;
}
