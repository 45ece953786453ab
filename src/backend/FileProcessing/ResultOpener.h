#pragma once

#include <QString>

class QWidget;

// Opens a result file the way the user asked in the settings: the video or audio player whose label
// names a stored application path, or else the desktop's default application; when neither
// can, a "Cannot Open" box says so.
namespace ResultOpener {
void open(const QString &path, bool isVideo, QWidget *parent = nullptr);
} // namespace ResultOpener
