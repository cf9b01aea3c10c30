#pragma once

#include <functional>
#include <optional>
#include <string>

#include "host/Registration.h"
#include "plist/Value.h"

namespace somnara::host {

/// The program's user-defaults store. Reads look in the program's own
/// domain, then in each added suite in the order added, then in the
/// registered defaults. Writes go to the program's own domain.
class Defaults {
 public:
  virtual ~Defaults() = default;

  virtual std::optional<Value> value(const std::string& key) const = 0;
  virtual void setValue(const std::string& key, const Value& value) = 0;
  virtual void removeValue(const std::string& key) = 0;

  /// Adds another domain to the search list; adding one twice does nothing.
  virtual void addSuite(const std::string& domain) = 0;

  /// Merges d into the registered defaults (volatile, never persisted).
  virtual void registerDefaults(const Dictionary& d) = 0;

  /// Whether the own domain exists: it was stored before (even where it
  /// cannot be read now) or this program has written to it since.
  virtual bool ownDomainExists() const = 0;

  /// Writes pending changes of the own domain to persistent storage now.
  virtual bool synchronize() = 0;

  /// Calls onChange on the run loop after the value found for key may have
  /// changed: by this program, or by another program writing a searched domain.
  virtual RegistrationPtr observe(const std::string& key, std::function<void()> onChange) = 0;
};

}  // namespace somnara::host
