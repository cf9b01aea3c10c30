#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace somnara {

/// Where "Check for Updates..." goes in an application menu with these item
/// titles: right after the first item whose title begins with "Preferences";
/// without one, at the end of a menu of fewer than 3 items, else at index 2.
std::size_t updateMenuItemIndex(const std::vector<std::string>& titles);

}  // namespace somnara
