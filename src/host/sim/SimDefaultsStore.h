#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plist/Value.h"

namespace somnara::sim {

class SimDefaults;

/// The user-defaults domains of the machine's user (domain name → values),
/// shared by every program. Writes tell every program whose search list
/// includes the domain, so its observers see changes made by others.
class SimDefaultsStore {
 public:
  /// The values of a domain; null when nothing was ever written to it.
  const Dictionary* domain(const std::string& name) const;
  std::optional<Value> value(const std::string& domain, const std::string& key) const;

  /// Writes (or, with nullopt, removes) a value, as any process would;
  /// programs' observers are told when the value they find changes.
  void write(const std::string& domain, const std::string& key, std::optional<Value> value);

  // Programs' stores register themselves here while they exist.
  void attach(SimDefaults* reader);
  void detach(SimDefaults* reader);

 private:
  std::map<std::string, Dictionary> domains_;
  std::vector<SimDefaults*> readers_;
};

}  // namespace somnara::sim
