#pragma once

#include <string>

namespace DiskSync {

// Flushes a file's data, or a folder's entries, to the disk; false when it cannot.
bool sync(const std::string &path);

} // namespace DiskSync
