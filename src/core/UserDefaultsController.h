#pragma once

#include <functional>
#include <optional>
#include <string>

#include "host/HostContext.h"
#include "plist/Value.h"

namespace somnara {

/// The program's shared defaults controller: reads settings at key paths
/// "values.<key>" from the defaults store, falling back to its initial
/// values, which the store itself never sees.
class UserDefaultsController {
 public:
  static UserDefaultsController& sharedUserDefaultsController(host::HostContext& context);

  /// Replaces all initial values.
  void setInitialValues(Dictionary values) { initialValues_ = std::move(values); }

  /// The value at "values.<key>"; nullopt for a missing setting or another path.
  std::optional<Value> value(const std::string& keyPath) const;
  /// The value as an integer, 0 when missing or not a number.
  std::int64_t integerValue(const std::string& keyPath) const { return integerOrZero(value(keyPath)); }
  /// The same, but missing when the setting is missing.
  std::int64_t integerValue(const std::string& keyPath, std::int64_t missing) const {
    const auto v = value(keyPath);
    return v ? integerOrZero(v) : missing;
  }
  bool boolValue(const std::string& keyPath) const;
  /// The value as a double, converted as Value::numberValue (a string's
  /// leading number, other kinds 0); nullopt when missing.
  std::optional<double> doubleValue(const std::string& keyPath) const;

  /// Calls onChange after the value at keyPath may have changed.
  host::RegistrationPtr observe(const std::string& keyPath, std::function<void()> onChange);

  /// "values.<key>".
  static std::string keyPath(const std::string& key) { return "values." + key; }

 private:
  explicit UserDefaultsController(host::Defaults& defaults) : defaults_(defaults) {}
  static std::optional<std::string> keyOf(const std::string& keyPath);

  host::Defaults& defaults_;
  Dictionary initialValues_;
};

}  // namespace somnara
