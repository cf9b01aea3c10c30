#include "host/sim/SimMachineState.h"

#include "plist/PlistCodec.h"

namespace somnara::sim {

SimMachineState::SimMachineState(const SimScheduler& clock)
    : clock_(clock), sources_(Sources{host::PowerSourceReading{100, -1}}) {
  rootDomain_[kHibernateModeKey] = Value(3);
  saveHibernateMode(3);
}

void SimMachineState::sourcesChanged() {
  if (listener_) listener_();
}

void SimMachineState::setPowerSources(std::optional<Sources> sources) {
  if (sources == sources_) return;
  sources_ = std::move(sources);
  sourcesChanged();
}

void SimMachineState::setBattery(int capacityPercent, int minutesToEmpty) {
  setPowerSources(Sources{host::PowerSourceReading{capacityPercent, minutesToEmpty}});
}

void SimMachineState::removeBatteries() { setPowerSources(Sources{}); }

void SimMachineState::addUnreadableSource() {
  Sources next = sources_.value_or(Sources{});
  next.push_back(std::nullopt);
  setPowerSources(std::move(next));
}

void SimMachineState::setOnExternalPower(bool on) {
  if (on == onExternalPower_) return;
  onExternalPower_ = on;
  sourcesChanged();
}

std::optional<Value> SimMachineState::readRootDomainProperty(const std::string& key) {
  if (key == kHibernateModeKey) {
    ++reads_;
    if (pending_) {
      if (pending_->readsLeft > 0) {
        --pending_->readsLeft;
      } else if (clock_.now() >= pending_->visibleAt) {
        rootDomain_[key] = pending_->value;
        pending_.reset();
      }
    }
  }
  return peekRootDomainProperty(key);
}

std::optional<Value> SimMachineState::peekRootDomainProperty(const std::string& key) const {
  auto it = rootDomain_.find(key);
  if (it == rootDomain_.end()) return std::nullopt;
  return it->second;
}

void SimMachineState::setRootDomainProperty(const std::string& key, std::optional<Value> value) {
  if (key == kHibernateModeKey) pending_.reset();
  if (value)
    rootDomain_[key] = std::move(*value);
  else
    rootDomain_.erase(key);
}

void SimMachineState::writeHibernateMode(std::int64_t mode) {
  ++writes_;
  pending_ = PendingWrite{Value(static_cast<long long>(mode)), lag_.reads, clock_.now() + lag_.time};
  if (lag_.reads == 0 && lag_.time <= Duration{0}) {
    rootDomain_[kHibernateModeKey] = pending_->value;
    pending_.reset();
  }
}

std::optional<std::string> SimMachineState::savedSettings(std::string* error) const {
  if (!savedSettings_ && error) *error = savedSettingsError_;
  return savedSettings_;
}

void SimMachineState::setSavedSettings(std::string bytes) { savedSettings_ = std::move(bytes); }

void SimMachineState::setSavedSettingsUnreadable(std::string error) {
  savedSettings_.reset();
  savedSettingsError_ = std::move(error);
}

void SimMachineState::saveHibernateMode(std::int64_t mode) {
  Dictionary root;
  if (savedSettings_)
    if (auto parsed = plist::parse(*savedSettings_); parsed && parsed->dictionary()) root = *parsed->dictionary();
  // A dictionary stored under key in d, or an empty one.
  auto dictionaryAt = [](const Dictionary& d, const std::string& key) {
    auto it = d.find(key);
    return it != d.end() && it->second.dictionary() ? *it->second.dictionary() : Dictionary{};
  };
  Dictionary profiles = dictionaryAt(root, "Custom Profile");
  for (const char* profile : {"AC Power", "Battery Power"}) {
    Dictionary settings = dictionaryAt(profiles, profile);
    settings[kHibernateModeKey] = Value(static_cast<long long>(mode));
    profiles[profile] = Value(std::move(settings));
  }
  root["Custom Profile"] = Value(std::move(profiles));
  savedSettings_ = plist::toXml(Value(std::move(root)));
}

void SimMachineState::setPrivileged(const std::string& path, bool privileged) {
  if (privileged)
    privileged_.insert(path);
  else
    privileged_.erase(path);
}

}  // namespace somnara::sim
