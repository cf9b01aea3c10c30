#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "host/Registration.h"
#include "plist/Value.h"

namespace somnara::host {

/// Batteries and other power sources, each described by a dictionary with
/// the keys "Current Capacity" (percent) and "Time to Empty" (minutes, -1
/// when unknown or not discharging).
class PowerSources {
 public:
  /// One entry per source: its description, or nullopt when it cannot be read.
  using Snapshot = std::vector<std::optional<Dictionary>>;

  virtual ~PowerSources() = default;

  /// The current sources; nullopt when no snapshot can be taken at all.
  virtual std::optional<Snapshot> snapshot() const = 0;

  /// Whether the machine runs on external power.
  virtual bool onExternalPower() const = 0;

  /// Calls onChange on the run loop whenever the sources change; null when
  /// changes cannot be observed.
  virtual RegistrationPtr observeChanges(std::function<void()> onChange) = 0;
};

}  // namespace somnara::host
