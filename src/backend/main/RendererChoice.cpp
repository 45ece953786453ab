#include "RendererChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace RendererChoice {

bool openGlIsEmulated(const QString &deviceFolder)
{
#if defined(Q_OS_LINUX)
    const QByteArray forced = qgetenv("LIBGL_ALWAYS_SOFTWARE").toLower();
    if (!forced.isEmpty() && forced != "0" && forced != "false")
        return true;
    const QDir dri(deviceFolder + QStringLiteral("/dri"));
    if (!dri.entryList({ QStringLiteral("renderD*") }, QDir::System | QDir::Files).isEmpty())
        return false;
    return !QFileInfo::exists(deviceFolder + QStringLiteral("/nvidia0"));
#else
    // macOS always has Metal, and Windows its own drivers.
    Q_UNUSED(deviceFolder)
    return false;
#endif
}

void apply()
{
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QSG_RHI_BACKEND"))
        return;
    if (openGlIsEmulated())
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace RendererChoice
