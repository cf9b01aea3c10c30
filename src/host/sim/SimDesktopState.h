#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/Inhibitors.h"
#include "host/InsomniaDriver.h"
#include "host/InsomniaService.h"
#include "host/SystemPower.h"
#include "host/sim/ObserverList.h"
#include "host/sim/SimScheduler.h"

namespace somnara::sim {

/// What the simulated machine shows a desktop program beyond its power
/// sources: idle-sleep vetoes and activity reports, the lid-closed service
/// (the Insomnia driver), the lid, the displays and the screen saver, the
/// sounds played, the notices shown, the status areas, the inhibitor locks
/// and the agent's Insomnia offer. Tests change it
/// through the setters; programs reach it through their agent ports.
///
/// A fresh machine has power management reachable, no lid-closed service,
/// no lid property, one awake display, no screen saver (both observable),
/// an unlocked session, no sound files, a notification server.
class SimDesktopState {
 public:
  using Duration = std::chrono::milliseconds;
  using Activity = host::SystemPower::Activity;

  explicit SimDesktopState(const SimScheduler& clock) : clock_(clock) {}

  // --- System power.
  bool powerManagementReachable() const { return powerManagementReachable_; }
  void setPowerManagementReachable(bool reachable) { powerManagementReachable_ = reachable; }
  /// Registrations holding the idle-sleep veto now.
  int idleSleepVetoes() const { return vetoes_; }
  void addVeto(int delta) { vetoes_ += delta; }
  /// The machine idles into sleep: it goes unless a veto is held. Returns
  /// whether it went (and records it).
  bool requestIdleSleep();
  /// The user asks for sleep: it always goes (and is recorded).
  void requestUserSleep() { sleeps_.push_back(clock_.now()); }
  /// When the machine went to sleep, by either road.
  const std::vector<Duration>& sleeps() const { return sleeps_; }
  struct Report {
    Duration at;
    Activity activity;
  };
  void reportActivity(Activity activity) { reports_.push_back({clock_.now(), activity}); }
  const std::vector<Report>& activityReports() const { return reports_; }

  // --- The lid-closed service.
  /// Instances of the service (0: none installed); nullopt: the look fails.
  std::optional<std::size_t> driverServices() const { return driverServices_; }
  void setDriverServices(std::optional<std::size_t> services) { driverServices_ = services; }
  /// Instances that refuse to be opened.
  void setDriverRefusesOpen(std::size_t index, bool refuses);
  bool driverRefusesOpen(std::size_t index) const { return refusing_.count(index) != 0; }
  void connectionOpened() { ++connections_; }
  void connectionClosed();
  int openDriverConnections() const { return connections_; }
  /// Records a call; true when a service is installed to accept it.
  bool callDriver(std::uint32_t selector);
  const std::vector<std::uint32_t>& driverCalls() const { return driverCalls_; }
  /// Whether a started lid-closed hold is in force (start taken, no stop or close since).
  bool lidClosedHoldTaken() const { return holds_ > 0; }
  /// When the lid switch put the machine to sleep: the lid closed, or the
  /// hold ended while it was closed, with no hold in force (the system's
  /// default lid handling, suspend).
  const std::vector<Duration>& lidSwitchSleeps() const { return lidSwitchSleeps_; }
  /// The reason the service gives for a refused open or start ("" for none).
  const std::string& driverFailureReason() const { return driverFailureReason_; }
  void setDriverFailureReason(std::string reason) { driverFailureReason_ = std::move(reason); }

  // --- Lid: closed, open, or (nullopt) no reading.
  std::optional<bool> lid() const { return lid_; }
  /// Sets the reading and sends the root-domain message to every observer.
  void setLid(std::optional<bool> closed);
  /// Observers of root-domain messages; called at once, in order.
  host::RegistrationPtr observeRootDomain(std::function<void()> onMessage) {
    return rootDomainObservers_.add(std::move(onMessage));
  }

  // --- The session's lock: nullopt when it cannot be told.
  const std::optional<bool>& sessionLocked() const { return sessionLocked_; }
  /// Sets the state and tells every observer when it is known.
  void setSessionLocked(std::optional<bool> locked);
  /// When false, programs cannot observe lock changes.
  bool sessionLockObservable() const { return sessionLockObservable_; }
  void setSessionLockObservable(bool observable) { sessionLockObservable_ = observable; }
  /// Observers of lock changes; called at once, in order.
  host::RegistrationPtr observeSessionLock(std::function<void(bool)> onChange) {
    return sessionLockObservers_.add(std::move(onChange));
  }
  std::size_t sessionLockObservers() const { return sessionLockObservers_.size(); }

  // --- Displays and the screen saver.
  bool mainDisplayAsleep() const { return displayAsleep_; }
  /// Sets the state and tells every observer of the display.
  void setMainDisplayAsleep(bool asleep);
  bool screenSaverActive() const { return screenSaver_; }
  /// Sets the state and tells every observer of the screen saver.
  void setScreenSaverActive(bool active);
  /// When false, programs cannot observe the display's (or the screen
  /// saver's) changes and must read them.
  bool mainDisplayObservable() const { return displayObservable_; }
  void setMainDisplayObservable(bool observable) { displayObservable_ = observable; }
  bool screenSaverObservable() const { return screenSaverObservable_; }
  void setScreenSaverObservable(bool observable) { screenSaverObservable_ = observable; }
  /// Observers of either; called at once, in order.
  host::RegistrationPtr observeMainDisplay(std::function<void(bool)> onChange) {
    return displayObservers_.add(std::move(onChange));
  }
  host::RegistrationPtr observeScreenSaver(std::function<void(bool)> onChange) {
    return screenSaverObservers_.add(std::move(onChange));
  }
  /// How many watch the display or the screen saver now.
  std::size_t presenceWatchers() const { return displayObservers_.size() + screenSaverObservers_.size(); }
  /// How often a program read the display's or the screen saver's state.
  int presenceReads() const { return presenceReads_; }
  void countPresenceRead() { ++presenceReads_; }
  std::size_t activeDisplays() const { return activeDisplays_; }
  void setActiveDisplays(std::size_t n) { activeDisplays_ = n; }
  /// Probe passes made, with the number of displays each asked.
  const std::vector<std::size_t>& probePasses() const { return probePasses_; }
  void recordProbePass(std::size_t displays) { probePasses_.push_back(displays); }

  // --- Sounds: readable sound files, and the plays as (sound, volume).
  void addSoundFile(const std::string& path) { soundFiles_.insert(path); }
  bool hasSoundFile(const std::string& path) const { return soundFiles_.count(path) != 0; }
  struct Play {
    std::string sound;
    float volume;
  };
  void recordPlay(Play play) { plays_.push_back(std::move(play)); }
  const std::vector<Play>& plays() const { return plays_; }

  // --- Inhibitor locks, as logind and the session services would list them.
  /// Takes a lock; it is held until dropInhibitor(id). Observers are told.
  int takeInhibitor(host::Inhibitor inhibitor);
  void dropInhibitor(int id);
  /// The locks held now, oldest first; each call counts as a query.
  std::vector<host::Inhibitor> listInhibitors();
  /// How often the locks were listed; how many watch their changes now.
  int inhibitorQueries() const { return inhibitorQueries_; }
  std::size_t inhibitorWatchers() const { return inhibitorObservers_.size(); }
  host::RegistrationPtr observeInhibitors(std::function<void()> onChange) {
    return inhibitorObservers_.add(std::move(onChange));
  }

  // --- The agent's Insomnia offer: one at a time.
  /// Null when another handler is offered already.
  host::RegistrationPtr publishInsomnia(host::InsomniaService::Handler& handler);
  host::InsomniaService::Handler* insomniaHandler() const { return insomniaHandler_; }

  // --- Notices to the user: shown while a notification server runs.
  struct Notice {
    std::string summary;
    std::string body;
  };
  void setNotificationServer(bool running) { notificationServer_ = running; }
  /// Records the notice when a server runs; whether it did.
  bool showNotice(Notice notice);
  const std::vector<Notice>& notices() const { return notices_; }

 private:
  const SimScheduler& clock_;
  bool powerManagementReachable_ = true;
  int vetoes_ = 0;
  std::vector<Duration> sleeps_;
  std::vector<Report> reports_;

  std::optional<std::size_t> driverServices_ = 0;
  std::set<std::size_t> refusing_;
  int connections_ = 0;
  int holds_ = 0;
  std::vector<std::uint32_t> driverCalls_;
  std::string driverFailureReason_;
  std::vector<Duration> lidSwitchSleeps_;
  void lidSwitchCheck();

  std::optional<bool> lid_;
  ObserverList<std::function<void()>> rootDomainObservers_;

  std::optional<bool> sessionLocked_ = false;
  bool sessionLockObservable_ = true;
  ObserverList<std::function<void(bool)>> sessionLockObservers_;

  bool displayAsleep_ = false;
  bool screenSaver_ = false;
  bool displayObservable_ = true;
  bool screenSaverObservable_ = true;
  ObserverList<std::function<void(bool)>> displayObservers_;
  ObserverList<std::function<void(bool)>> screenSaverObservers_;
  int presenceReads_ = 0;
  std::size_t activeDisplays_ = 1;
  std::vector<std::size_t> probePasses_;

  std::set<std::string> soundFiles_;
  std::vector<Play> plays_;

  std::vector<std::pair<int, host::Inhibitor>> inhibitors_;
  int nextInhibitor_ = 1;
  int inhibitorQueries_ = 0;
  ObserverList<std::function<void()>> inhibitorObservers_;
  host::InsomniaService::Handler* insomniaHandler_ = nullptr;

  bool notificationServer_ = true;
  std::vector<Notice> notices_;
};

}  // namespace somnara::sim
