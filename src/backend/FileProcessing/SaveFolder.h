#pragma once

#include <QString>

// The folder results are written into, checked before any work is done for them.
namespace SaveFolder {

// Makes the folder when it is missing. Empty when results can be written there, else the text that
// tells the user what is wrong with it, naming it.
QString problem(const QString &path);

// Title of the box that shows a problem.
QString title();

} // namespace SaveFolder
