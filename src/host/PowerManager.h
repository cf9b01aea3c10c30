#pragma once

#include <optional>
#include <string>

#include "plist/Value.h"

namespace somnara::host {

/// The machine's power manager: whether it can sleep, the properties of its
/// root entry ("Hibernate Mode") and its saved settings file.
class PowerManager {
 public:
  virtual ~PowerManager() = default;

  virtual bool sleepEnabled() const = 0;

  /// A property of the root power-management entry; nullopt when missing.
  virtual std::optional<Value> rootDomainProperty(const std::string& key) const = 0;

  /// Bytes of the saved power-management settings (a property list);
  /// nullopt when unreadable, with the reason in *error when given.
  virtual std::optional<std::string> savedSettings(std::string* error) const = 0;
};

}  // namespace somnara::host
