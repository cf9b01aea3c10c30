#pragma once

#include <algorithm>

#include "host/Displays.h"
#include "host/sim/SimDesktopState.h"

namespace somnara::sim {

/// One program's view of the simulated displays.
class SimDisplays : public host::Displays {
 public:
  explicit SimDisplays(SimDesktopState& state) : state_(state) {}

  bool mainDisplayAsleep() const override { return state_.mainDisplayAsleep(); }
  bool screenSaverActive() const override { return state_.screenSaverActive(); }
  /// Records the pass with the number of displays asked.
  std::size_t probeActiveDisplays(std::size_t maxDisplays) override {
    const std::size_t asked = std::min(maxDisplays, state_.activeDisplays());
    state_.recordProbePass(asked);
    return asked;
  }

 private:
  SimDesktopState& state_;
};

}  // namespace somnara::sim
