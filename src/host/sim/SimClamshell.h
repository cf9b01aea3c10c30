#pragma once

#include "host/Clamshell.h"
#include "host/sim/SimDesktopState.h"
#include "host/sim/SimRunLoop.h"

namespace somnara::sim {

/// One program's view of the simulated lid; root-domain messages reach it
/// on its own loop.
class SimClamshell : public host::Clamshell {
 public:
  SimClamshell(SimDesktopState& state, SimRunLoop& loop) : state_(state), loop_(loop) {}

  std::optional<bool> clamshellState() const override { return state_.lid(); }
  host::RegistrationPtr observeRootDomain(std::function<void()> onMessage) override;

 private:
  SimDesktopState& state_;
  SimRunLoop& loop_;
};

}  // namespace somnara::sim
