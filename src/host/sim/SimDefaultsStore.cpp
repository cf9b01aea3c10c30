#include "host/sim/SimDefaultsStore.h"

#include <algorithm>
#include <utility>

#include "host/sim/SimDefaults.h"

namespace somnara::sim {

const Dictionary* SimDefaultsStore::domain(const std::string& name) const {
  auto it = domains_.find(name);
  return it == domains_.end() ? nullptr : &it->second;
}

std::optional<Value> SimDefaultsStore::value(const std::string& domain, const std::string& key) const {
  const Dictionary* values = this->domain(domain);
  if (!values) return std::nullopt;
  auto it = values->find(key);
  if (it == values->end()) return std::nullopt;
  return it->second;
}

void SimDefaultsStore::write(const std::string& domain, const std::string& key, std::optional<Value> value) {
  struct Before {
    SimDefaults* reader;
    std::optional<Value> found;
  };
  std::vector<Before> before;
  for (SimDefaults* reader : readers_)
    if (reader->searches(domain) && reader->observes(key)) before.push_back({reader, reader->value(key)});

  if (value)
    domains_[domain][key] = std::move(*value);
  else if (auto it = domains_.find(domain); it != domains_.end())
    it->second.erase(key);

  for (auto& [reader, found] : before)
    if (reader->value(key) != found) reader->valueChanged(key);
}

void SimDefaultsStore::attach(SimDefaults* reader) { readers_.push_back(reader); }

void SimDefaultsStore::detach(SimDefaults* reader) { std::erase(readers_, reader); }

}  // namespace somnara::sim
