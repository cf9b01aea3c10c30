#include "Application/Classes/UpdateMenuPlacement.h"

namespace somnara {

std::size_t updateMenuItemIndex(const std::vector<std::string>& titles) {
  for (std::size_t i = 0; i < titles.size(); ++i)
    if (titles[i].starts_with("Preferences")) return i + 1;
  return titles.size() < 3 ? titles.size() : 2;
}

}  // namespace somnara
