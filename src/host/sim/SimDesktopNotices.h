#pragma once

#include "host/DesktopNotices.h"
#include "host/sim/SimDesktopState.h"

namespace somnara::sim {

/// One program's notices on the simulated desktop: recorded while a
/// notification server runs there, dropped otherwise.
class SimDesktopNotices : public host::DesktopNotices {
 public:
  explicit SimDesktopNotices(SimDesktopState& state) : state_(state) {}

  bool post(const std::string& summary, const std::string& body) override {
    return state_.showNotice({summary, body});
  }

 private:
  SimDesktopState& state_;
};

}  // namespace somnara::sim
