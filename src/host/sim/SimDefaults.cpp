#include "host/sim/SimDefaults.h"

#include <algorithm>

namespace somnara::sim {

SimDefaults::SimDefaults(SimDefaultsStore& store, SimRunLoop& loop, std::string ownDomain)
    : store_(store), loop_(loop), ownDomain_(std::move(ownDomain)) {
  store_.attach(this);
}

SimDefaults::~SimDefaults() { store_.detach(this); }

std::optional<Value> SimDefaults::value(const std::string& key) const {
  if (auto v = store_.value(ownDomain_, key)) return v;
  for (const auto& suite : suites_)
    if (auto v = store_.value(suite, key)) return v;
  if (auto it = registered_.find(key); it != registered_.end()) return it->second;
  return std::nullopt;
}

void SimDefaults::setValue(const std::string& key, const Value& value) { store_.write(ownDomain_, key, value); }

void SimDefaults::removeValue(const std::string& key) { store_.write(ownDomain_, key, std::nullopt); }

void SimDefaults::addSuite(const std::string& domain) {
  if (domain == ownDomain_ || searches(domain)) return;
  suites_.push_back(domain);
}

void SimDefaults::registerDefaults(const Dictionary& d) {
  std::vector<std::pair<std::string, std::optional<Value>>> before;
  for (const auto& [key, unused] : d)
    if (observes(key)) before.emplace_back(key, value(key));
  for (const auto& [key, v] : d) registered_[key] = v;
  for (const auto& [key, found] : before)
    if (value(key) != found) valueChanged(key);
}

bool SimDefaults::synchronize() {
  ++synchronizeCount_;
  return true;
}

host::RegistrationPtr SimDefaults::observe(const std::string& key, std::function<void()> onChange) {
  return observers_.add({key, std::move(onChange)});
}

bool SimDefaults::searches(const std::string& domain) const {
  return domain == ownDomain_ || std::find(suites_.begin(), suites_.end(), domain) != suites_.end();
}

bool SimDefaults::observes(const std::string& key) const {
  for (const auto& [id, observer] : observers_.snapshot())
    if (observer.key == key) return true;
  return false;
}

void SimDefaults::valueChanged(const std::string& key) {
  if (!pendingKeys_.insert(key).second) return;  // already told for this turn
  loop_.post([this, key] {
    pendingKeys_.erase(key);
    observers_.forEach([&](const Observer& o) { return o.key == key; }, [](const Observer& o) { o.onChange(); });
  });
}

}  // namespace somnara::sim
