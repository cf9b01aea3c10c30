#pragma once

#include <string>

#include "host/SystemPower.h"
#include "host/sim/SimDesktopState.h"

namespace somnara::sim {

/// One program's link to the simulated power management: registrations
/// hold the machine's idle-sleep veto, listed as an "idle" block lock of
/// the program (who, pid); a sleep the user asks for never waits for them.
class SimSystemPower : public host::SystemPower {
 public:
  SimSystemPower(SimDesktopState& state, std::string who, int pid) : state_(state), who_(std::move(who)), pid_(pid) {}

  /// Null while the machine's power management is unreachable.
  std::unique_ptr<Registration> registerForSystemPower() override;
  void reportActivity(Activity activity) override { state_.reportActivity(activity); }

 private:
  SimDesktopState& state_;
  std::string who_;
  int pid_;
};

}  // namespace somnara::sim
