#pragma once

#include <chrono>

#include "host/PowerSources.h"
#include "host/linux/MachineRoot.h"

namespace somnara::linuxhost {

/// Power sources from sys/class/power_supply under the machine root.
/// Every entry whose `type` is Battery (and whose `scope` is not Device, a
/// peripheral's battery) is one source, in name order:
///   "Current Capacity"  `capacity`, clamped to 0..100
///   "Time to Empty"     minutes: `time_to_empty_now` (seconds), else
///                       energy_now/power_now, else charge_now/current_now
///                       (hours); -1 when unknown or `status` is not Discharging
/// A battery whose capacity cannot be read has no description.
/// External power: any Mains or USB supply with `online` 1; with no such
/// supply at all, any battery that is not discharging (or no battery).
class SysfsPowerSources final : public host::PowerSources {
 public:
  struct Reading {
    std::optional<Snapshot> snapshot;
    bool onExternalPower = false;
    bool operator==(const Reading&) const = default;
  };

  /// pollInterval: how often readings are compared while observed, for the
  /// sysfs attributes that never raise inotify events.
  explicit SysfsPowerSources(MachineRoot root, std::chrono::milliseconds pollInterval = std::chrono::seconds(5));

  std::optional<Snapshot> snapshot() const override;
  bool onExternalPower() const override;

  /// Reports on the run loop each time the readings differ from the last
  /// reported ones (file change notices plus a poll). Always a registration.
  host::RegistrationPtr observeChanges(std::function<void()> onChange) override;

  static Reading read(const MachineRoot& root);

 private:
  MachineRoot root_;
  std::chrono::milliseconds pollInterval_;
};

}  // namespace somnara::linuxhost
