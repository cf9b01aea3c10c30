#pragma once

#include <optional>
#include <string>

#include "plist/Value.h"
#include "powertool/SavedPowerSettings.h"
#include "powertool/SleepCapabilities.h"

namespace somnara::host {

/// The machine's power manager: whether it can sleep and which kinds of
/// sleep work, the properties of its root entry ("Hibernate Mode") and its
/// saved settings file.
class PowerManager {
 public:
  virtual ~PowerManager() = default;

  virtual bool sleepEnabled() const = 0;

  /// Which kinds of sleep work now, and why not. Asked afresh on each call
  /// (swap and kernel settings change while programs run); on the main
  /// thread, it may wait briefly for the system's sleep manager.
  virtual powertool::SleepCapabilities sleepCapabilities() const = 0;

  /// A property of the root power-management entry; nullopt when missing.
  virtual std::optional<Value> rootDomainProperty(const std::string& key) const = 0;

  /// The saved power-management settings, decoded; without a list (and
  /// with the reason) when the file is unreadable or not a property list.
  virtual powertool::SavedPowerSettings savedSettings() const = 0;
};

}  // namespace somnara::host
