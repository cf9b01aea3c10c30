#pragma once

#include <optional>

#include "powertool/SavedPowerSettings.h"
#include "powertool/SleepCapabilities.h"

namespace somnara::host {

/// The hibernate mode in force, as the power manager reports it.
struct HibernateModeReading {
  /// Why no mode is in force.
  enum class Absence {
    NotRecorded,   ///< no active mode is recorded
    NotAnInteger,  ///< the record holds something other than a 32-bit integer
    OutOfStep,     ///< a mode is recorded, but suspend requests do something else
  };
  /// The mode in force; nullopt when there is none.
  std::optional<int> mode;
  /// Why there is no mode; NotRecorded alongside a mode.
  Absence absence = Absence::NotRecorded;

  static HibernateModeReading of(int m) { return {m, Absence::NotRecorded}; }
  static HibernateModeReading none(Absence why) { return {std::nullopt, why}; }
  bool operator==(const HibernateModeReading&) const = default;
};

/// The machine's power manager: whether it can sleep and which kinds of
/// sleep work, the hibernate mode in force and its saved settings file.
class PowerManager {
 public:
  virtual ~PowerManager() = default;

  virtual bool sleepEnabled() const = 0;

  /// Which kinds of sleep work now, and why not. Asked afresh on each call
  /// (swap and kernel settings change while programs run); on the main
  /// thread, it may wait briefly for the system's sleep manager.
  virtual powertool::SleepCapabilities sleepCapabilities() const = 0;

  /// The active hibernate mode, read afresh.
  virtual HibernateModeReading hibernateMode() const = 0;

  /// The saved power-management settings, decoded; without a list (and
  /// with the reason) when the file is unreadable or not a property list.
  virtual powertool::SavedPowerSettings savedSettings() const = 0;
};

}  // namespace somnara::host
