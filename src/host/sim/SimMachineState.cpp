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

powertool::SleepCapabilities SimMachineState::sleepCapabilities() const {
  ++capabilityReads_;
  if (!sleepEnabled_) return {};
  return capabilities_;
}

powertool::SavedPowerSettings SimMachineState::savedSettings() const {
  return savedSettings_ ? powertool::SavedPowerSettings::decode(*savedSettings_)
                        : powertool::SavedPowerSettings::unreadable(savedSettingsError_);
}

void SimMachineState::setSavedSettings(std::string bytes) { savedSettings_ = std::move(bytes); }

void SimMachineState::setSavedSettingsUnreadable(std::string error) {
  savedSettings_.reset();
  savedSettingsError_ = std::move(error);
}

void SimMachineState::saveHibernateMode(std::int64_t mode) {
  std::optional<Value> existing = savedSettings().list;
  if (existing && !existing->dictionary()) existing.reset();
  savedSettings_ = powertool::encode(powertool::withHibernateMode(existing, mode));
}

void SimMachineState::setPrivileged(const std::string& path, bool privileged) {
  if (privileged)
    privileged_.insert(path);
  else
    privileged_.erase(path);
}

}  // namespace somnara::sim
