#include "core/UserDefaultsController.h"

namespace somnara {

UserDefaultsController& UserDefaultsController::sharedUserDefaultsController(host::HostContext& context) {
  if (auto* existing = context.singleton<UserDefaultsController>()) return *existing;
  return *context.adoptSingleton(new UserDefaultsController(context.defaults()));
}

std::optional<std::string> UserDefaultsController::keyOf(const std::string& keyPath) {
  static const std::string prefix = "values.";
  if (keyPath.size() <= prefix.size() || keyPath.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  return keyPath.substr(prefix.size());
}

std::optional<Value> UserDefaultsController::value(const std::string& keyPath) const {
  const auto key = keyOf(keyPath);
  if (!key) return std::nullopt;
  if (auto stored = defaults_.value(*key)) return stored;
  auto it = initialValues_.find(*key);
  if (it == initialValues_.end()) return std::nullopt;
  return it->second;
}

bool UserDefaultsController::boolValue(const std::string& keyPath) const {
  const auto v = value(keyPath);
  return v && v->boolean();
}

std::optional<double> UserDefaultsController::doubleValue(const std::string& keyPath) const {
  const auto v = value(keyPath);
  if (!v) return std::nullopt;
  return v->numberValue();
}

host::RegistrationPtr UserDefaultsController::observe(const std::string& keyPath, std::function<void()> onChange) {
  const auto key = keyOf(keyPath);
  if (!key) return nullptr;
  return defaults_.observe(*key, std::move(onChange));
}

}  // namespace somnara
