#include "SourceCheck.h"

#include "ConvertingFile.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QtEndian>

namespace {

constexpr quint16 formatPcm = 1;
constexpr quint16 formatExtensible = 0xFFFE;
constexpr int maxChannels = 32;

quint16 le16(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 le32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

bool acceptedFormat(const QByteArray &fmt)
{
    if (fmt.size() < 16)
        return false;
    quint16 tag = le16(fmt, 0);
    // The extensible header names the real format in the first two bytes of its sub-format.
    if (tag == formatExtensible && fmt.size() >= 26)
        tag = le16(fmt, 24);
    const quint16 channels = le16(fmt, 2);
    return tag == formatPcm && le16(fmt, 14) == 16 && channels >= 1 && channels <= maxChannels
        && le32(fmt, 4) > 0;
}

// ffmpeg's report on its input: the file's own "  Metadata:" block, one "    key : value" line per tag
// (a value's further lines start with blanks and ": "), then a line per stream.
SourceCheck::Tags parseReport(const QString &report)
{
    static const QRegularExpression tag(QStringLiteral("^ {4}(\\S[^:]*?) *: (.*)$"));
    static const QRegularExpression cover(
        QStringLiteral("^ {2}Stream #0:(\\d+)[^:]*: Video: .*\\(attached pic\\)"));
    SourceCheck::Tags tags;
    bool inInput = false;
    bool inFileTags = false;
    QString key;
    for (QString line : report.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!inInput) {
            inInput = line.startsWith(QLatin1String("Input #0"));
            continue;
        }
        if (!line.startsWith(QLatin1Char(' ')))
            break; // the input's report ends where the outputs' begins
        if (!line.startsWith(QLatin1String("   "))) {
            inFileTags = line == QLatin1String("  Metadata:");
            if (const QRegularExpressionMatch match = cover.match(line);
                match.hasMatch() && tags.coverStream < 0)
                tags.coverStream = match.captured(1).toInt();
            continue;
        }
        if (!inFileTags)
            continue;
        if (const QRegularExpressionMatch match = tag.match(line); match.hasMatch()) {
            key = match.captured(1).toLower();
            if (key == QLatin1String("title"))
                tags.title = match.captured(2);
        } else if (key == QLatin1String("title") && line.trimmed().startsWith(QLatin1Char(':'))) {
            tags.title += QLatin1Char('\n') + line.trimmed().mid(1).trimmed();
        }
    }
    return tags;
}

} // namespace

SourceCheck::Sound SourceCheck::sound(const QString &path, std::chrono::milliseconds limit)
{
    QProcess ffmpeg;
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.setStandardOutputFile(QProcess::nullDevice());
    // Decodes a moment of the first sound stream and writes it nowhere.
    ffmpeg.start(ConvertingFile::programPath(),
        { "-hide_banner", "-v", "error", "-i", path, "-map", "0:a:0", "-t", "0.2", "-f", "null", "-" });
    if (!ffmpeg.waitForStarted()) {
        qWarning().noquote() << "ffmpeg could not be started:" << ffmpeg.errorString();
        return Sound::Unknown;
    }
    QEventLoop loop;
    QTimer limitTimer;
    limitTimer.setSingleShot(true);
    QObject::connect(&limitTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&ffmpeg, &QProcess::finished, &loop, &QEventLoop::quit);
    limitTimer.start(limit);
    if (ffmpeg.state() != QProcess::NotRunning)
        loop.exec();
    if (ffmpeg.state() != QProcess::NotRunning) {
        ffmpeg.kill();
        ffmpeg.waitForFinished(1000);
        qDebug() << "The sound check took too long:" << path;
        return Sound::Unknown;
    }
    if (ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0)
        return Sound::Readable;
    qDebug().noquote() << "No readable sound in" << path << ":" << ffmpeg.readAllStandardError().trimmed();
    return Sound::Unreadable;
}

SourceCheck::Tags SourceCheck::tags(
    const QString &path, const std::function<bool()> &stop, std::chrono::milliseconds limit)
{
    QProcess ffmpeg;
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.setStandardOutputFile(QProcess::nullDevice());
    // Opening the file is enough for its report; nothing is decoded.
    ffmpeg.start(ConvertingFile::programPath(), { "-hide_banner", "-i", path, "-t", "0", "-f", "null", "-" });
    const QDeadlineTimer deadline(limit);
    while (ffmpeg.state() != QProcess::NotRunning && !stop() && !deadline.hasExpired())
        ffmpeg.waitForFinished(100);
    if (ffmpeg.error() == QProcess::FailedToStart)
        return {};
    if (ffmpeg.state() != QProcess::NotRunning) {
        ffmpeg.kill();
        ffmpeg.waitForFinished(1000);
        qDebug() << "No tags read from" << path;
        return {};
    }
    return parseReport(QString::fromUtf8(ffmpeg.readAllStandardError()));
}

bool SourceCheck::isServiceWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return false;
    bool formatOk = false;
    // Chunks follow one another, each padded to an even length; "data" must come after "fmt ".
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return false;
        const quint32 size = le32(chunk, 4);
        const qint64 body = file.pos();
        if (chunk.startsWith("fmt ")) {
            formatOk = acceptedFormat(file.read(qMin<quint32>(size, 64)));
            if (!formatOk)
                return false;
        } else if (chunk.startsWith("data")) {
            return formatOk && size > 0;
        }
        if (!file.seek(body + size + (size & 1)))
            return false;
    }
    return false;
}
