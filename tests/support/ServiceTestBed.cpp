#include "ServiceTestBed.h"

#include "FaultyFfmpeg.h"
#include "FileProcessing/ConvertingFile.h"
#include "GlobalsInfo/GlobalsInfo.h"
#include "MediaSamples.h"
#include "TempHome.h"
#include "UserAuth/UserAuth.h"
#include "main/Startup.h"

#include <QDebug>
#include <QDir>
#include <QQuickStyle>

bool ServiceTestBed::setUp()
{
    const QString oddFolder = QStringLiteral("Ünïcode 'quoted' \"dq\" #1 + & more");
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    registerQmlTypes();
    documents = TempHome::createDocumentsFolder();
    savePath = documents + QStringLiteral("/Save ") + oddFolder;
    tempPath = documents + QStringLiteral("/Temp ") + oddFolder;
    sourceFolder = documents + QStringLiteral("/Music ") + oddFolder;
    for (const QString &folder : { savePath, tempPath, sourceFolder }) {
        if (!QDir().mkpath(folder))
            return (qWarning() << "cannot make" << folder, false);
    }
    QSettings *settings = GlobalsInfo::getInstance()->appSettings();
    settings->setValue(QStringLiteral("default_path_save"), savePath);
    settings->setValue(QStringLiteral("default_path_temp"), tempPath);

    // Conversions run the stand-in, which runs the real ffmpeg unless a test asks for a fault.
    ffmpegWrapper = documents + QStringLiteral("/ffmpeg-wrapper.sh");
    if (!FaultyFfmpeg::install(ffmpegWrapper))
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
    settings->setValue(QStringLiteral("service_url"), base.toString());
    settings->setValue(QStringLiteral("probe_url"), base.resolved(QUrl(QStringLiteral("/generate_204"))).toString());
}
