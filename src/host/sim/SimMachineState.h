#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/PowerManager.h"
#include "host/PowerSources.h"
#include "host/sim/SimScheduler.h"
#include "powertool/SavedPowerSettings.h"
#include "powertool/SleepCapabilities.h"

namespace somnara::sim {

/// What the simulated machine is: its power sources, its power manager's
/// state, the owner and mode bits of files, the sleep requests it received
/// and its operating-system version. Tests change it through the setters;
/// the programs read it through their ports.
///
/// A fresh machine is a laptop on mains power with a full battery, sleep
/// enabled, hibernate mode 3 in force and saved, and no privileged files.
class SimMachineState {
 public:
  using Duration = std::chrono::milliseconds;
  /// How long a written hibernate mode takes to read back: it appears once
  /// `reads` further reads have returned the old value and `time` has passed.
  struct ReadBackLag {
    int reads = 0;
    Duration time{0};
  };

  explicit SimMachineState(const SimScheduler& clock);

  // --- Power sources. Every change calls the change listener.
  /// The batteries and the external-power flag as a program reads them.
  const host::PowerReading& powerReading() const { return power_; }
  /// The batteries taken together: this charge (percent) and time to empty
  /// (minutes, nullopt unknown).
  void setBattery(int capacityPercent, std::optional<int> minutesToEmpty);
  /// A machine without batteries, readable or not.
  void removeBatteries();
  /// Adds a battery whose charge cannot be read.
  void addUnreadableBattery();
  void setOnExternalPower(bool on);
  /// When false, programs cannot register for power-source changes.
  bool powerSourceChangesObservable() const { return changesObservable_; }
  void setPowerSourceChangesObservable(bool observable) { changesObservable_ = observable; }
  /// Called after every change of the sources or the external-power flag.
  void setPowerSourcesListener(std::function<void()> listener) { listener_ = std::move(listener); }

  // --- Power manager.
  bool sleepEnabled() const { return sleepEnabled_; }
  void setSleepEnabled(bool enabled) { sleepEnabled_ = enabled; }
  /// Which kinds of sleep work: every kind on a fresh machine; none while
  /// sleep is disabled.
  powertool::SleepCapabilities sleepCapabilities() const;
  void setSleepCapabilities(const powertool::SleepCapabilities& caps) { capabilities_ = caps; }
  int sleepCapabilityReads() const { return capabilityReads_; }

  /// The hibernate mode as a program reads it: counts the read and lets a
  /// pending write appear once its lag is over.
  host::HibernateModeReading readHibernateMode();
  /// The hibernate mode as it stands, without counting or applying anything.
  const host::HibernateModeReading& peekHibernateMode() const { return hibernateMode_; }
  /// Sets the reading at once, as something outside the programs would;
  /// drops a pending write.
  void setHibernateMode(host::HibernateModeReading reading);

  /// The power tool writing the hibernate mode: visible after the read-back lag.
  void writeHibernateMode(int mode);
  void setReadBackLag(ReadBackLag lag) { lag_ = lag; }
  int hibernateModeReads() const { return reads_; }
  int hibernateModeWrites() const { return writes_; }

  /// Saved power-management settings, decoded as the real file is.
  powertool::SavedPowerSettings savedSettings() const;
  /// The bytes of the saved settings file; nullopt while unreadable.
  const std::optional<std::string>& savedSettingsBytes() const { return savedSettings_; }
  void setSavedSettings(std::string bytes);
  void setSavedSettingsUnreadable(std::string error);
  /// Stores mode in the saved settings as the power tool does, starting
  /// afresh when they are unreadable or not a dictionary.
  void saveHibernateMode(std::int64_t mode);

  // --- Files: whether a file is owned by root with set-user-id and set-group-id bits.
  bool isPrivileged(const std::string& path) const { return privileged_.count(path) != 0; }
  void setPrivileged(const std::string& path, bool privileged);

  // --- Sleep requests received (virtual time of each).
  const std::vector<Duration>& sleepRequests() const { return sleepRequests_; }
  void requestSleep() { sleepRequests_.push_back(clock_.now()); }

  std::int32_t osVersion() const { return osVersion_; }
  void setOsVersion(std::int32_t version) { osVersion_ = version; }

 private:
  struct PendingWrite {
    int mode;
    int readsLeft;
    Duration visibleAt;
  };
  void sourcesChanged();

  const SimScheduler& clock_;
  host::PowerReading power_;
  bool changesObservable_ = true;
  std::function<void()> listener_;

  bool sleepEnabled_ = true;
  powertool::SleepCapabilities capabilities_ = powertool::SleepCapabilities::all();
  mutable int capabilityReads_ = 0;
  host::HibernateModeReading hibernateMode_ = host::HibernateModeReading::of(3);
  std::optional<PendingWrite> pending_;
  ReadBackLag lag_;
  int reads_ = 0;
  int writes_ = 0;
  std::optional<std::string> savedSettings_;
  std::string savedSettingsError_;

  std::set<std::string> privileged_;
  std::vector<Duration> sleepRequests_;
  std::int32_t osVersion_ = 0x60100;
};

}  // namespace somnara::sim
