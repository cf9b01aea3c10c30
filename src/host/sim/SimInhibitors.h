#pragma once

#include "host/Inhibitors.h"
#include "host/sim/SimDesktopState.h"

namespace somnara::sim {

/// The machine's inhibitor locks as the simulated desktop holds them; a lock
/// whose holder gives one of Somnara's names is marked as Somnara's own.
class SimInhibitors : public host::Inhibitors {
 public:
  explicit SimInhibitors(SimDesktopState& state) : state_(state) {}

  std::vector<host::Inhibitor> list() override;
  host::RegistrationPtr observeChanges(std::function<void()> onChange) override {
    return state_.observeInhibitors(std::move(onChange));
  }

 private:
  SimDesktopState& state_;
};

}  // namespace somnara::sim
