#include "ResultOpener.h"

#include "GlobalsInfo/DesktopOpener.h"
#include "GlobalsInfo/GlobalsInfo.h"

#include <QFileInfo>
#include <QProcess>

void ResultOpener::open(const QString &path, bool isVideo, QWidget *parent)
{
    const GlobalsInfo *globals = GlobalsInfo::getInstance();
    // The label without its blanks is the key under which the Settings window stores the path.
    QString player = isVideo ? globals->getAppForVideo() : globals->getAppForAudio();
    player.remove(QLatin1Char(' '));
    const QString application = globals->getOrvaneAppPath(player);
    // A player that is gone, or cannot start, gives way to the desktop's default.
    if (!application.isEmpty() && QFileInfo::exists(application)
        && QProcess::startDetached(application, { path }, QString()))
        return;
    DesktopOpener::openPathOrExplain(path, parent);
}
