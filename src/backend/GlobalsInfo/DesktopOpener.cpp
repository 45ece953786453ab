#include "DesktopOpener.h"

#include "plugins/MessageBoxCustom.h"

#include <QDesktopServices>
#include <QUrl>

bool DesktopOpener::openOrExplain(const QUrl &url, const QString &shown, QWidget *parent)
{
    if (QDesktopServices::openUrl(url))
        return true;
    MessageBoxCustom::warning(parent, QStringLiteral("Cannot Open"),
        QStringLiteral("The desktop could not open:\n\n%1").arg(shown));
    return false;
}

bool DesktopOpener::openPathOrExplain(const QString &path, QWidget *parent)
{
    return openOrExplain(QUrl::fromLocalFile(path), path, parent);
}
