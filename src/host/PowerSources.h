#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "host/Registration.h"

namespace somnara::host {

/// What one power source (a battery) reports.
struct PowerSourceReading {
  /// Charge in percent, 0..100.
  std::int64_t percent = 0;
  /// Running time left on this source in minutes; -1 when unknown or when
  /// the source is not discharging.
  std::int64_t minutesToEmpty = -1;
  bool operator==(const PowerSourceReading&) const = default;
};

/// The power sources at one moment.
struct PowerReading {
  /// One entry per source, nullopt for a source that cannot be read;
  /// nullopt when no list of sources can be had at all.
  std::optional<std::vector<std::optional<PowerSourceReading>>> sources;
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
