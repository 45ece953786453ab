#include "TempHome.h"

#include <QDir>
#include <QStandardPaths>

QString TempHome::home()
{
    return QDir::homePath();
}

QString TempHome::createDocumentsFolder()
{
    const QString path
        = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/ZELK");
    QDir().mkpath(path);
    return path;
}
