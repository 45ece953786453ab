#include "SourceCheck.h"

#include "ConvertingFile.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
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
