#include "ServiceTestBed.h"

#include "FileBytes.h"
#include "FileProcessing/ConvertingFile.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "GlobalsInfo/SettingsKeys.h"
#include "MediaSamples.h"
#include "TempHome.h"
#include "UserAuth/UserAuth.h"
#include "main/Startup.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QQuickStyle>

namespace {

// The sound check and the look at a source's tags write to the null muxer, preparation writes 16-bit PCM;
// every other run is a final conversion.
const char ffmpegScript[] = R"(#!/bin/sh
[ -n "$ZELK_FFMPEG_LOG" ] && printf '%s\n' "$*" >> "$ZELK_FFMPEG_LOG"
for last; do :; done
case "$*" in *"-f null"*) step=probe;; *pcm_s16le*) step=prepare;; *) step=final;; esac
case "$ZELK_FFMPEG_FAULT" in
  "hang-$step") exec sleep 60;;
  "fail-$step") exit 1;;
  "unreadable-$step") mkdir "$last"; exit 0;;
esac
exec "%1" "$@"
)";

} // namespace

bool ServiceTestBed::setUp()
{
    const QString oddFolder = QStringLiteral("Ünïcode 'quoted' \"dq\" #1 + & more");
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    registerQmlTypes();
    documents = TempHome::createDocumentsFolder();
    savePath = documents + QStringLiteral("/Save ") + oddFolder;
    tempPath = documents + QStringLiteral("/Temp ") + oddFolder;
    sourceFolder = documents + QStringLiteral("/Music ") + oddFolder;
    for (const QString &folder : { savePath, tempPath, sourceFolder })
        if (!QDir().mkpath(folder))
            return (qWarning() << "cannot make" << folder, false);
    QSettings *settings = GlobalsInfo::getInstance()->appSettings();
    settings->setValue(SettingsKeys::pathSave(), savePath);
    settings->setValue(SettingsKeys::pathTemp(), tempPath);

    // Conversions run the stand-in, which runs the real ffmpeg beside the test program unless a test asks
    // for a fault.
    ffmpegWrapper = documents + QStringLiteral("/ffmpeg-wrapper.sh");
    const QString real = QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg");
    if (!writeFile(ffmpegWrapper, QString::fromLatin1(ffmpegScript).arg(real).toUtf8())
        || !QFile::setPermissions(ffmpegWrapper, QFile::permissions(ffmpegWrapper) | QFileDevice::ExeOwner))
        return (qWarning() << "cannot write" << ffmpegWrapper, false);
    ConvertingFile::setProgramPath(ffmpegWrapper);
    resultWav = documents + QStringLiteral("/result.wav");
    if (!MediaSamples::makeResultWav(resultWav))
        return false;

    if (!service.start(serviceData.path(), 1))
        return (qWarning().noquote() << service.output(), false);
    useService(service.url(QString()));
    UserAuth auth;
    const QString refused = auth.registration(QStringLiteral("Tester"), QStringLiteral("tester@example.org"),
        QStringLiteral("secret12"), QStringLiteral("secret12"));
    if (!refused.isEmpty() || GlobalsInfo::getInstance()->getUserHash().isEmpty())
        return (qWarning() << "registration:" << refused, false);
    return true;
}

void ServiceTestBed::useService(const QUrl &base)
{
    QSettings *settings = GlobalsInfo::getInstance()->appSettings();
    settings->setValue(SettingsKeys::serviceUrl(), base.toString());
    settings->setValue(
        SettingsKeys::probeUrl(), base.resolved(QUrl(QStringLiteral("/generate_204"))).toString());
}
