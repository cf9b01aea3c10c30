#include "host/sim/SimSessionLock.h"

namespace somnara::sim {

host::RegistrationPtr SimSessionLock::observeLocked(std::function<void(bool locked)> onChange) {
  if (!state_.sessionLockObservable()) return nullptr;
  return state_.observeSessionLock(
      [this, onChange = std::move(onChange)](bool locked) { loop_.post([onChange, locked] { onChange(locked); }); });
}

}  // namespace somnara::sim
