#pragma once

#include <functional>
#include <optional>

#include "host/Registration.h"

namespace somnara::host {

/// The batteries that power the machine, taken together.
struct BatteryReading {
  /// Charge in percent, 0..100.
  int percent = 0;
  /// Running time left on battery in minutes, below 2^31; nullopt when
  /// unknown or when no battery is discharging.
  std::optional<int> minutesToEmpty;
  bool operator==(const BatteryReading&) const = default;
};

/// The power sources at one moment.
struct PowerReading {
  /// Every battery whose charge can be read, combined; nullopt when there is
  /// none (no battery, or none readable).
  std::optional<BatteryReading> battery;
  /// Batteries whose charge cannot be read; they are left out of battery.
  int unreadableBatteries = 0;
  /// Whether the machine runs on external power.
  bool onExternalPower = false;
  bool operator==(const PowerReading&) const = default;
};

/// Batteries and other power sources. Called on the run loop; every read
/// asks the machine afresh.
class PowerSources {
 public:
  virtual ~PowerSources() = default;

  virtual PowerReading read() const = 0;

  /// Calls onChange on the run loop whenever the reading changes; null when
  /// changes cannot be observed.
  virtual RegistrationPtr observeChanges(std::function<void()> onChange) = 0;
};

}  // namespace somnara::host
