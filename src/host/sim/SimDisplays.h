#pragma once

#include "host/Displays.h"
#include "host/sim/SimDesktopState.h"
#include "host/sim/SimRunLoop.h"

namespace somnara::sim {

/// One program's view of the simulated displays and screen saver; every
/// read is counted, and changes reach observers on the program's own loop.
class SimDisplays : public host::Displays {
 public:
  SimDisplays(SimDesktopState& state, SimRunLoop& loop) : state_(state), loop_(loop) {}

  bool mainDisplayAsleep() const override;
  bool screenSaverActive() const override;
  /// Null while the machine makes the display unobservable.
  host::RegistrationPtr observeMainDisplayAsleep(std::function<void(bool asleep)> onChange) override;
  /// Null while the machine makes the screen saver unobservable.
  host::RegistrationPtr observeScreenSaver(std::function<void(bool active)> onChange) override;
  /// Records the pass with the number of displays asked.
  std::size_t probeActiveDisplays(std::size_t maxDisplays) override;

 private:
  std::function<void(bool)> onLoop(std::function<void(bool)> onChange);

  SimDesktopState& state_;
  SimRunLoop& loop_;
};

}  // namespace somnara::sim
