#pragma once

#include <QString>

// Every test program runs with a fresh, empty HOME (see run-isolated.sh); these helpers lay out the
// folders the program expects inside it.
namespace TempHome {
QString home();
// "~/Documents/ZELK", created when missing.
QString createDocumentsFolder();
} // namespace TempHome
