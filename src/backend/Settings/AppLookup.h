#pragma once

#include <QString>
#include <QStringList>

// Where the players this program hands its results to are installed, and how one is found there.
// This is the only place that knows how each desktop declares its applications.
namespace AppLookup {

// macOS: "/Applications". Elsewhere: the XDG applications folders holding the desktop entries.
QStringList folders();

// The application called `name` in `folders`, tried with its blanks removed and then as written;
// the bundle on macOS, elsewhere the executable of the matching desktop entry. Empty when missing.
QString find(const QStringList &folders, const QString &name);

// Where the dialog that lets the user point at an application starts, and what it shows.
QString dialogFolder();
QString dialogFilter(const QString &key);

} // namespace AppLookup
