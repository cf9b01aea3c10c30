#include "menubar/UserPresenceWatch.h"

namespace somnara {

void UserPresenceWatch::start() {
  // Watch first, then read: a change between the two is not lost.
  displayAsleep_.watch = displays_.observeMainDisplayAsleep([this](bool asleep) { displayAsleep_.value = asleep; });
  if (displayAsleep_.watch) displayAsleep_.value = displays_.mainDisplayAsleep();
  screenSaver_.watch = displays_.observeScreenSaver([this](bool active) { screenSaver_.value = active; });
  if (screenSaver_.watch) screenSaver_.value = displays_.screenSaverActive();
}

void UserPresenceWatch::stop() {
  displayAsleep_.watch.reset();
  screenSaver_.watch.reset();
}

bool UserPresenceWatch::userAway() const {
  return (displayAsleep_.watch ? displayAsleep_.value : displays_.mainDisplayAsleep()) ||
         (screenSaver_.watch ? screenSaver_.value : displays_.screenSaverActive());
}

}  // namespace somnara
