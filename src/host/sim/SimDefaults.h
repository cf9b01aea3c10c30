#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/Defaults.h"
#include "host/sim/ObserverList.h"
#include "host/sim/SimDefaultsStore.h"
#include "host/sim/SimRunLoop.h"

namespace somnara::sim {

/// One program's user defaults over the machine's shared store. The own
/// domain is the program's bundle identifier.
///
/// Observers are called on the program's loop, at the virtual time of the
/// change, once per key however many changes came before that turn.
class SimDefaults : public host::Defaults {
 public:
  SimDefaults(SimDefaultsStore& store, SimRunLoop& loop, std::string ownDomain);
  ~SimDefaults() override;
  SimDefaults(const SimDefaults&) = delete;
  SimDefaults& operator=(const SimDefaults&) = delete;

  std::optional<Value> value(const std::string& key) const override;
  void setValue(const std::string& key, const Value& value) override;
  void removeValue(const std::string& key) override;
  void addSuite(const std::string& domain) override;
  void registerDefaults(const Dictionary& d) override;
  /// Anything was ever written to the own domain, by any program.
  bool ownDomainExists() const override { return store_.domain(ownDomain_) != nullptr; }
  bool synchronize() override;
  host::RegistrationPtr observe(const std::string& key, std::function<void()> onChange) override;

  const std::string& ownDomain() const { return ownDomain_; }
  const std::vector<std::string>& suites() const { return suites_; }
  const Dictionary& registeredDefaults() const { return registered_; }
  int synchronizeCount() const { return synchronizeCount_; }
  /// Registered observers, for leak checks.
  std::size_t observerCount() const { return observers_.size(); }

  // Used by the store.
  bool searches(const std::string& domain) const;
  bool observes(const std::string& key) const;
  /// The value found for key may have changed: tell its observers on the loop.
  void valueChanged(const std::string& key);

 private:
  struct Observer {
    std::string key;
    std::function<void()> onChange;
  };

  SimDefaultsStore& store_;
  SimRunLoop& loop_;
  std::string ownDomain_;
  std::vector<std::string> suites_;
  Dictionary registered_;
  ObserverList<Observer> observers_;
  std::set<std::string> pendingKeys_;
  int synchronizeCount_ = 0;
};

}  // namespace somnara::sim
