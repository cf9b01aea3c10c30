#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace somnara {

/// Observers per property name with will-change and did-change notices.
/// A notice for a property also reaches the observers of every property
/// that declares it among the keys affecting its value.
class KeyValueObservable {
 public:
  enum class Phase { WillChange, DidChange };
  using Observer = std::function<void(const std::string& key, Phase phase)>;
  using ObserverId = std::uint64_t;

  virtual ~KeyValueObservable() = default;

  ObserverId addObserver(const std::string& key, Observer observer);
  void removeObserver(ObserverId id);

 protected:
  void willChangeValueForKey(const std::string& key) { notify(key, Phase::WillChange); }
  void didChangeValueForKey(const std::string& key) { notify(key, Phase::DidChange); }

  /// Properties whose change also changes key.
  virtual std::set<std::string> keyPathsForValuesAffectingValueForKey(const std::string& key) const;

 private:
  void notify(const std::string& changedKey, Phase phase);

  struct Entry {
    std::string key;
    Observer observer;
  };
  std::map<ObserverId, Entry> observers_;
  ObserverId nextId_ = 1;
};

}  // namespace somnara
