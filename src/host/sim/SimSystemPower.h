#pragma once

#include "host/SystemPower.h"
#include "host/sim/SimDesktopState.h"

namespace somnara::sim {

/// One program's link to the simulated power management: registrations
/// hold the machine's idle-sleep veto; a sleep the user asks for never waits
/// for them.
class SimSystemPower : public host::SystemPower {
 public:
  explicit SimSystemPower(SimDesktopState& state) : state_(state) {}

  /// Null while the machine's power management is unreachable.
  std::unique_ptr<Registration> registerForSystemPower() override;
  void reportActivity(Activity activity) override { state_.reportActivity(activity); }

 private:
  SimDesktopState& state_;
};

}  // namespace somnara::sim
