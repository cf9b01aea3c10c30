#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ORVPrivate/Appkit/ORVDistributedNotificationGroup.h"
#include "core/Constants.h"
#include "core/FailureStreak.h"
#include "core/ControllerRole.h"
#include "core/KeyValueObservable.h"
#include "host/HostContext.h"

namespace somnara {

/// The sleep controller. Each program holds exactly one, created on first
/// use and living as long as the program's host context. What it does
/// depends on the program it runs in: the daemon's controller applies the
/// sleep policy to the machine; the others mirror its state, forward the
/// user's commands and, in the preferences application, broadcast settings.
///
/// Everything runs on the program's run loop; applying a state blocks it
/// while the helper tool runs (the wait itself keeps serving the loop).
class SomnaraDaemon final : public KeyValueObservable, public ORVDistributedNotificationGroupDelegateProtocol {
 public:
  /// The program's controller, created (and initialised) on the first call.
  /// Calls made while it initialises get the instance under construction.
  static SomnaraDaemon& sharedSomnaraDaemon(host::HostContext& context);

  SomnaraDaemon(const SomnaraDaemon&) = delete;
  SomnaraDaemon& operator=(const SomnaraDaemon&) = delete;
  ~SomnaraDaemon() override;

  std::int64_t processtype() const { return role_.processType(); }

  // --- settings properties ---
  /// The sleep mode index 0..4; 1 only on a machine with battery. Other
  /// stored values read (and are reset to) 0 without a change notice.
  std::int64_t sleepmode();
  /// Stores the index as given; in the preferences application also writes
  /// "somnaramodeindex" and synchronises the defaults.
  void setSleepmode(std::int64_t sleepmode);
  /// Whether the stored index is 1 (adaptive), without normalisation.
  bool sleepmodeissomnara() const { return sleepmode_ == 1; }
  bool blackandwhiteicon() const { return blackandwhiteicon_; }
  void setBlackandwhiteicon(bool value) { blackandwhiteicon_ = value; }
  std::int64_t hibernatelevel() const { return hibernatelevel_; }
  void setHibernatelevel(std::int64_t value) { hibernatelevel_ = value; }
  /// Whether saved (hard) values are written instead of forced runtime ones.
  bool usehardvalues() const;

  // --- machine state ---
  /// The hibernatemode read from the power manager now, nullopt when no
  /// mode is in force; observers are told when it differs from the last
  /// reading (and of the first one).
  std::optional<std::int32_t> currentsleepstate();
  /// "Machine will <sleep|hibernate|sleep and hibernate|do unknown sleep behaviour> on sleep";
  /// "This machine can't sleep" where no kind of sleep works. An unreadable
  /// mode is an unknown behaviour.
  std::string currentStateString();
  /// Which kinds of sleep the machine can do, as last read (every kind
  /// before the first reading). Each application of a state reads it again.
  const powertool::SleepCapabilities& sleepCapabilities() const { return capabilities_; }
  /// Reads the capabilities afresh; in the daemon a change is logged once.
  const powertool::SleepCapabilities& readSleepCapabilities();

  /// Seconds since 1970, nullopt when unset.
  std::optional<double> workspaceWillSleepDate() const { return workspaceWillSleepDate_; }
  std::optional<double> quickSleepEndDate() const { return quickSleepEndDate_; }
  bool quickSleepWindowOpen() const { return quickSleepEndTimer_ != 0; }

  // --- policy ---
  void setSleepStateAccordingToSettings();
  void setSleepStateAccordingToSettings(bool scheduleRetry);
  void retryTimerFired();
  void resetSleepStateToSystemDefault();
  void workspaceWillSleep();
  void workspaceDidWake();
  void workspaceDidBecomeActive();
  void addToPowerRunLoop();
  void removeFromPowerRunLoop();
  bool registeredForPowerChanges() const { return powerRunLoop_ != nullptr; }

  // --- applying a state ---
  bool setSleepStateTo(std::int64_t state);
  bool pmset(std::int64_t state);
  std::int64_t pmsetvalueForSleepState(std::int64_t state);
  /// Puts the machine to sleep in state now. Returns why it could not (one
  /// sentence for the user), nullopt when the sleep request went out.
  std::optional<std::string> sleepNowWithState(std::int64_t state);
  std::optional<std::string> sleepNow() { return sleepNowWithState(kSleepStateSleep); }
  std::optional<std::string> hibernateNow() { return sleepNowWithState(kSleepStateHibernate); }
  std::optional<std::string> sleepAndHibernateNow() { return sleepNowWithState(kSleepStateSleepAndHibernate); }

  // --- messages ---
  void receivedMessage(std::int64_t type, const std::optional<Value>& userInfo) override;
  /// Settings observation of the preferences application: takes the
  /// settings from the store and broadcasts them.
  void observeValueForKeyPath(const std::string& keyPath);
  /// Settings observation of the other programs, for changes written to the
  /// store without a settings message reaching them: takes the one setting
  /// at keyPath (a value a message set for another key stays) and, in the
  /// daemon, applies the policy.
  void settingsChangedInStore(const std::string& keyPath);

 protected:
  std::set<std::string> keyPathsForValuesAffectingValueForKey(const std::string& key) const override;

 private:
  explicit SomnaraDaemon(host::HostContext& context);
  void init();
  void registerObservers();
  host::RunLoop::TimerId scheduleTimer(std::chrono::milliseconds delay, bool repeating,
                                      void (SomnaraDaemon::*action)());
  void announceCurrentSleepStateChange();
  void takeSettingFromStore(const std::string& keyPath);
  std::int64_t sleepStateAccordingToSettings();
  bool repairHelperPrivileges(const std::string& helperPath);
  void sendSettingsMessage();
  void runDeferredApplications();
  void willTerminate();
  // Logs line unless it was logged already in the current failure streak.
  void logApplyFailure(int sourceLine, const char* method, const std::string& message);

  static std::recursive_mutex& creationLock();

  host::HostContext& context_;
  std::unique_ptr<ORVDistributedNotificationGroup> distributedGroup_;
  // Decided from the bundle identifier at the start of init().
  ControllerRole role_ = ControllerRole::forBundleIdentifier({});
  host::RegistrationPtr powerRunLoop_;
  std::int64_t sleepmode_ = 0;
  std::int64_t hibernatelevel_ = 0;
  bool blackandwhiteicon_ = false;
  // The last reading of currentsleepstate; nullopt before the first.
  std::optional<std::optional<std::int32_t>> currentsleepstate_;
  std::string currentStateString_;
  bool machinesupportssomnara_ = false;
  std::optional<double> workspaceWillSleepDate_;
  std::optional<double> quickSleepEndDate_;
  host::RunLoop::TimerId quickSleepEndTimer_ = 0;
  host::RunLoop::TimerId delayToRetryTimer_ = 0;
  host::RunLoop::TimerId continousRetryTimer_ = 0;
  std::vector<host::RegistrationPtr> observations_;
  // Expires with the controller; pending timers check it before calling in.
  std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);

  // An application of a state is in progress (the helper may be running and
  // the loop being served). Requests arriving meanwhile are deferred: the
  // latest one runs when the current application ends.
  enum class Deferred { None, Policy, State };
  bool applying_ = false;
  Deferred deferred_ = Deferred::None;
  std::int64_t deferredState_ = kSleepStateSystemDefault;
  // The program is ending: the policy is no longer applied.
  bool terminating_ = false;

  powertool::SleepCapabilities capabilities_ = powertool::SleepCapabilities::all();
  bool capabilitiesRead_ = false;
  // Failed applications of the policy's state in a row; set by pmset() when
  // an application fails (not when it is refused or deferred).
  FailureStreak streak_;
  bool applyFailed_ = false;
  // The lines the last lookup of the system default wrote.
  std::vector<std::string> defaultLookupLines_;
  // Why the latest application of a state failed, for the user; set with each failure.
  std::string applyFailure_;
};

}  // namespace somnara
