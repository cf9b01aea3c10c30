#include "host/sim/SimMachineState.h"

#include "plist/PlistCodec.h"

namespace somnara::sim {

SimMachineState::SimMachineState(const SimScheduler& clock)
    : clock_(clock), power_{host::BatteryReading{100, std::nullopt}, 0, true} {
  saveHibernateMode(3);
}

void SimMachineState::sourcesChanged() {
  if (listener_) listener_();
}

void SimMachineState::setBattery(int capacityPercent, std::optional<int> minutesToEmpty) {
  const host::BatteryReading battery{capacityPercent, minutesToEmpty};
  if (power_.battery == battery) return;
  power_.battery = battery;
  sourcesChanged();
}

void SimMachineState::removeBatteries() {
  if (!power_.battery && power_.unreadableBatteries == 0) return;
  power_.battery.reset();
  power_.unreadableBatteries = 0;
  sourcesChanged();
}

void SimMachineState::addUnreadableBattery() {
  ++power_.unreadableBatteries;
  sourcesChanged();
}

void SimMachineState::setOnExternalPower(bool on) {
  if (on == power_.onExternalPower) return;
  power_.onExternalPower = on;
  sourcesChanged();
}

host::HibernateModeReading SimMachineState::readHibernateMode() {
  ++reads_;
  if (pending_) {
    if (pending_->readsLeft > 0) {
      --pending_->readsLeft;
    } else if (clock_.now() >= pending_->visibleAt) {
      hibernateMode_ = host::HibernateModeReading::of(pending_->mode);
      pending_.reset();
    }
  }
  return hibernateMode_;
}

void SimMachineState::setHibernateMode(host::HibernateModeReading reading) {
  pending_.reset();
  hibernateMode_ = reading;
}

void SimMachineState::writeHibernateMode(int mode) {
  ++writes_;
  pending_ = PendingWrite{mode, lag_.reads, clock_.now() + lag_.time};
  if (lag_.reads == 0 && lag_.time <= Duration{0}) {
    hibernateMode_ = host::HibernateModeReading::of(mode);
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
