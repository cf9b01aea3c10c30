#pragma once

#include "host/PowerManager.h"
#include "host/sim/SimMachineState.h"

namespace somnara::sim {

/// One program's view of the machine's power manager.
class SimPowerManager : public host::PowerManager {
 public:
  explicit SimPowerManager(SimMachineState& state) : state_(state) {}

  bool sleepEnabled() const override { return state_.sleepEnabled(); }
  powertool::SleepCapabilities sleepCapabilities() const override { return state_.sleepCapabilities(); }
  /// Each read is counted by the machine.
  host::HibernateModeReading hibernateMode() const override { return state_.readHibernateMode(); }
  powertool::SavedPowerSettings savedSettings() const override { return state_.savedSettings(); }

 private:
  SimMachineState& state_;
};

}  // namespace somnara::sim
