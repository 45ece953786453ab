#pragma once

#include <string>

// The pages the program's help menu opens on the service: a short guide to the program.
namespace UserGuide {

// The page for path, or empty when path is not a help page.
std::string page(const std::string &path);

} // namespace UserGuide
