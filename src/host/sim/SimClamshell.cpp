#include "host/sim/SimClamshell.h"

namespace somnara::sim {

host::RegistrationPtr SimClamshell::observeRootDomain(std::function<void()> onMessage) {
  return state_.observeRootDomain([this, onMessage = std::move(onMessage)] { loop_.post(onMessage); });
}

}  // namespace somnara::sim
