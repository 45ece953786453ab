#pragma once

#include <QString>

class QUrl;
class QWidget;

// Hands an address, file or folder to the desktop. Without a browser, player or file manager nothing
// would happen at all, so a refusal is said in a "Cannot Open" box that shows what was asked for.
namespace DesktopOpener {

bool openOrExplain(const QUrl &url, const QString &shown, QWidget *parent = nullptr);
bool openPathOrExplain(const QString &path, QWidget *parent = nullptr);

} // namespace DesktopOpener
