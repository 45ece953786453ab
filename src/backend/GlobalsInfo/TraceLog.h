#pragma once

#include <QDebug>
#include <QTime>

// An info line that starts with the time, the source line and the function, as every trace line does.
#define ZELK_TRACE()                                                                                         \
    qInfo().noquote() << QTime::currentTime().toString(QStringLiteral("[mm:ss:zzz]")) << __LINE__            \
                      << Q_FUNC_INFO
