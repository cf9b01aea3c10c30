#include "host/sim/SimDisplays.h"

#include <algorithm>

namespace somnara::sim {

bool SimDisplays::mainDisplayAsleep() const {
  state_.countPresenceRead();
  return state_.mainDisplayAsleep();
}

bool SimDisplays::screenSaverActive() const {
  state_.countPresenceRead();
  return state_.screenSaverActive();
}

std::function<void(bool)> SimDisplays::onLoop(std::function<void(bool)> onChange) {
  return [this, onChange = std::move(onChange)](bool value) { loop_.post([onChange, value] { onChange(value); }); };
}

host::RegistrationPtr SimDisplays::observeMainDisplayAsleep(std::function<void(bool)> onChange) {
  if (!state_.mainDisplayObservable()) return nullptr;
  return state_.observeMainDisplay(onLoop(std::move(onChange)));
}

host::RegistrationPtr SimDisplays::observeScreenSaver(std::function<void(bool)> onChange) {
  if (!state_.screenSaverObservable()) return nullptr;
  return state_.observeScreenSaver(onLoop(std::move(onChange)));
}

std::size_t SimDisplays::probeActiveDisplays(std::size_t maxDisplays) {
  const std::size_t asked = std::min(maxDisplays, state_.activeDisplays());
  state_.recordProbePass(asked);
  return asked;
}

}  // namespace somnara::sim
