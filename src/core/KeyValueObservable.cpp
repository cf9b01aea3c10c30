#include "core/KeyValueObservable.h"

#include <vector>

namespace somnara {

KeyValueObservable::ObserverId KeyValueObservable::addObserver(const std::string& key, Observer observer) {
  const ObserverId id = nextId_++;
  observers_.emplace(id, Entry{key, std::move(observer)});
  return id;
}

void KeyValueObservable::removeObserver(ObserverId id) { observers_.erase(id); }

std::set<std::string> KeyValueObservable::keyPathsForValuesAffectingValueForKey(const std::string&) const {
  return {};
}

void KeyValueObservable::notify(const std::string& changedKey, Phase phase) {
  // Observers may add or remove observers while being called: walk a copy of the ids.
  std::vector<ObserverId> ids;
  ids.reserve(observers_.size());
  for (const auto& [id, entry] : observers_) ids.push_back(id);
  for (ObserverId id : ids) {
    auto it = observers_.find(id);
    if (it == observers_.end()) continue;
    const std::string& key = it->second.key;
    if (key == changedKey || keyPathsForValuesAffectingValueForKey(key).count(changedKey)) {
      Observer copy = it->second.observer;
      copy(key, phase);
    }
  }
}

}  // namespace somnara
