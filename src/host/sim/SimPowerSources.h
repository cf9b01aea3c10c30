#pragma once

#include <functional>

#include "host/PowerSources.h"
#include "host/sim/ObserverList.h"
#include "host/sim/SimMachineState.h"
#include "host/sim/SimRunLoop.h"

namespace somnara::sim {

/// One program's view of the machine's power sources.
class SimPowerSources : public host::PowerSources {
 public:
  SimPowerSources(const SimMachineState& state, SimRunLoop& loop) : state_(state), loop_(loop) {}

  host::PowerReading read() const override { return state_.powerReading(); }
  host::RegistrationPtr observeChanges(std::function<void()> onChange) override;

  /// Used by the machine after a change: queues a call of every observer on
  /// this program's loop.
  void sourcesChanged();

  /// Registered observers, for leak checks.
  std::size_t observerCount() const { return observers_.size(); }

 private:
  const SimMachineState& state_;
  SimRunLoop& loop_;
  ObserverList<std::function<void()>> observers_;
};

}  // namespace somnara::sim
