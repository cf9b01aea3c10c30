#pragma once

#include "host/InsomniaDriver.h"
#include "host/sim/SimDesktopState.h"

namespace somnara::sim {

/// One program's access to the simulated lid-closed service.
class SimInsomniaDriver : public host::InsomniaDriver {
 public:
  explicit SimInsomniaDriver(SimDesktopState& state) : state_(state) {}

  std::optional<std::size_t> matchingServices() override { return state_.driverServices(); }
  /// Null for an index beyond the installed instances or one set to refuse.
  std::unique_ptr<Connection> open(std::size_t index) override;
  std::string failureReason() const override { return state_.driverFailureReason(); }

 private:
  SimDesktopState& state_;
};

}  // namespace somnara::sim
