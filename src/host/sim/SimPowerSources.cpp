#include "host/sim/SimPowerSources.h"

namespace somnara::sim {

host::RegistrationPtr SimPowerSources::observeChanges(std::function<void()> onChange) {
  if (!state_.powerSourceChangesObservable()) return nullptr;
  return observers_.add(std::move(onChange));
}

void SimPowerSources::sourcesChanged() {
  if (observers_.empty()) return;
  loop_.post([this] {
    observers_.forEach([](const auto&) { return true; }, [](const std::function<void()>& fn) { fn(); });
  });
}

}  // namespace somnara::sim
