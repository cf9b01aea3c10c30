#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/PowerSources.h"
#include "host/sim/SimScheduler.h"
#include "plist/Value.h"
#include "powertool/SavedPowerSettings.h"
#include "powertool/SleepCapabilities.h"

namespace somnara::sim {

/// What the simulated machine is: its power sources, its power manager's
/// state, the owner and mode bits of files, the sleep requests it received
/// and its operating-system version. Tests change it through the setters;
/// the programs read it through their ports.
///
/// A fresh machine is a laptop on mains power with a full battery, sleep
/// enabled, "Hibernate Mode" 3 in force and saved, and no privileged files.
class SimMachineState {
 public:
  using Duration = std::chrono::milliseconds;
  using Sources = std::vector<std::optional<host::PowerSourceReading>>;

  static constexpr const char* kHibernateModeKey = "Hibernate Mode";

  /// How long a written "Hibernate Mode" takes to read back: it appears once
  /// `reads` further reads have returned the old value and `time` has passed.
  struct ReadBackLag {
    int reads = 0;
    Duration time{0};
  };

  explicit SimMachineState(const SimScheduler& clock);

  // --- Power sources. Every change calls the change listener.
  /// The sources and the external-power flag as a program reads them.
  host::PowerReading powerReading() const { return {sources_, onExternalPower_}; }
  /// nullopt: no list of sources can be had at all.
  void setPowerSources(std::optional<Sources> sources);
  /// One battery with this capacity (percent) and time to empty (minutes, -1 unknown).
  void setBattery(int capacityPercent, int minutesToEmpty);
  /// A machine without batteries: an empty list of sources.
  void removeBatteries();
  /// Adds a source whose description cannot be read.
  void addUnreadableSource();
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

  /// A property of the root entry as a program reads it: counts reads of
  /// "Hibernate Mode" and lets a pending write appear once its lag is over.
  std::optional<Value> readRootDomainProperty(const std::string& key);
  /// The stored property, without counting or applying anything.
  std::optional<Value> peekRootDomainProperty(const std::string& key) const;
  /// Sets or (nullopt) removes a property at once, as something outside the
  /// programs would; drops a pending write of the same key.
  void setRootDomainProperty(const std::string& key, std::optional<Value> value);

  /// The power tool writing "Hibernate Mode": visible after the read-back lag.
  void writeHibernateMode(std::int64_t mode);
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
    Value value;
    int readsLeft;
    Duration visibleAt;
  };
  void sourcesChanged();

  const SimScheduler& clock_;
  std::optional<Sources> sources_;
  bool onExternalPower_ = true;
  bool changesObservable_ = true;
  std::function<void()> listener_;

  bool sleepEnabled_ = true;
  powertool::SleepCapabilities capabilities_ = powertool::SleepCapabilities::all();
  mutable int capabilityReads_ = 0;
  std::map<std::string, Value> rootDomain_;
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
