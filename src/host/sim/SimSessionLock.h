#pragma once

#include "host/SessionLock.h"
#include "host/sim/SimDesktopState.h"
#include "host/sim/SimRunLoop.h"

namespace somnara::sim {

/// One program's view of the simulated session lock; changes reach it on
/// its own loop.
class SimSessionLock : public host::SessionLock {
 public:
  SimSessionLock(SimDesktopState& state, SimRunLoop& loop) : state_(state), loop_(loop) {}

  std::optional<bool> locked() const override { return state_.sessionLocked(); }
  host::RegistrationPtr observeLocked(std::function<void(bool locked)> onChange) override;

 private:
  SimDesktopState& state_;
  SimRunLoop& loop_;
};

}  // namespace somnara::sim
