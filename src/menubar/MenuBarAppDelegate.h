#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/KeyValueObservable.h"
#include "core/SomnaraDaemon.h"
#include "host/AgentPorts.h"
#include "host/ApplicationDelegate.h"
#include "host/HostContext.h"
#include "menubar/InhibitorList.h"
#include "menubar/InsomniaRuleWatch.h"
#include "menubar/ORVTimeFormatter.h"
#include "menubar/StatusItem.h"
#include "menubar/UserPresenceWatch.h"

namespace somnara {

/// The menu bar agent's logic: the status item's icon and blink, the menu's
/// commands and texts, the Insomnia keep-awake mode with its driver, and the
/// watch on the lid and the displays, and Insomnia's rules (battery floor,
/// external power, session lock). Observable properties for the menu:
/// "insomnia", "insomniaString" (depends on "insomnia"), "insomniaTimeInterval"
/// and "insomniaLengthString" (depends on "insomniaTimeInterval").
///
/// Everything runs on the program's run loop. Timers: the icon blink (the
/// "blinkinterval" setting) with its 0.1 s flash, the 29 s keep-awake tick
/// while Insomnia is on, and the 2 s display probe for 10 s after a lid
/// change during Insomnia with the driver. The context, the ports and the
/// status item must outlive the delegate.
class MenuBarAppDelegate final : public KeyValueObservable, public host::ApplicationDelegate {
 public:
  static constexpr const char* kImageSleep = "Somnara-Menu-Icon-Sleep";
  static constexpr const char* kImageHibernate = "Somnara-Menu-Icon-Hibernate";
  static constexpr const char* kImageHibernateSleep = "Somnara-Menu-Icon-HibernateSleep";
  static constexpr const char* kImageInsomnia = "Somnara-Menu-Icon-Insomnia";

  /// Announced once, when start-up creates the controller.
  static constexpr const char* kProperty_sharedSomnaraDaemon = "sharedSomnaraDaemon";
  static constexpr const char* kProperty_insomnia = "insomnia";
  static constexpr const char* kProperty_insomniaString = "insomniaString";
  static constexpr const char* kProperty_insomniaTimeInterval = "insomniaTimeInterval";
  static constexpr const char* kProperty_insomniaLengthString = "insomniaLengthString";

  /// The settings written by the length slider and read at each start.
  static constexpr const char* kInsomniaSliderValueKey = "insomniaslidervalue";
  static constexpr const char* kInsomniaTimeKey = "insomniatime";

  MenuBarAppDelegate(host::HostContext& context, const host::AgentPorts& ports, StatusItem& statusItem);
  /// Closes the driver connection and ends the power and lid registrations.
  ~MenuBarAppDelegate() override;
  MenuBarAppDelegate(const MenuBarAppDelegate&) = delete;
  MenuBarAppDelegate& operator=(const MenuBarAppDelegate&) = delete;

  /// The start-up: defaults, status item, controller, first lid reading,
  /// length, slider observation, blink, system power, sound, lid watch.
  void awakeFromNib() override;
  /// Starts Insomnia when "enableinsomniaonlaunch" is set.
  void applicationDidFinishLaunching() override;

  // --- status item and menu ---
  /// The menu opens: the icon and the Insomnia title are brought up to date,
  /// the driver is looked for, and the inhibitor list is read and kept
  /// current until the menu closes.
  void menuWillOpen();
  void menuDidClose();
  void updateMenuBarIcon() { updateMenuBarIconBlink(false); }
  /// Normal (false) or flash (true) image.
  void updateMenuBarIconBlink(bool blink);
  void blink();
  /// Opens the application four directory levels above the agent's bundle
  /// with the agent's bundle path; nothing happens when there is none.
  void showPreferences();
  /// The status line is never enabled.
  bool currentstatusstringenabled() const { return false; }
  /// Whether a sleep-now command for state (2, 3 or 4) can work on this
  /// machine, as it reads now; true before the controller exists.
  bool sleepNowAvailable(std::int64_t state);
  /// The sleep-now command for state (2, 3 or 4): the controller puts the
  /// machine to sleep in that state; when it cannot, a notice tells the
  /// user why. Nothing happens before the controller exists.
  void sleepNowWithState(std::int64_t state);
  /// The menu title of the sleep-now command for state (2, 3 or 4).
  static const char* sleepNowTitle(std::int64_t state);
  /// The controller; null before start-up created it.
  SomnaraDaemon* sharedSomnaraDaemon() const { return sharedSomnaraDaemon_; }
  /// The status line, and the remaining Insomnia time while Insomnia is on.
  std::string toolTipString();
  /// The locks keeping the machine awake, current while the menu is open.
  InhibitorList& inhibitorList() { return inhibitorList_; }
  /// The period of the icon blink in seconds; nullopt when it does not blink.
  std::optional<double> blinkInterval() const { return blinkInterval_; }

  // --- Insomnia ---
  bool hasInsomnia() const { return insomniaTimer_ != 0; }
  /// Starts (after the rules had their say: they may pause it, or stop it
  /// at once) or stops Insomnia.
  void setInsomnia(bool insomnia);
  /// Insomnia is on but keeps nothing awake: paused on battery by its rule.
  bool insomniaPaused() const { return insomniaPaused_; }
  const InsomniaRuleWatch& insomniaRules() const { return insomniaRules_; }
  void toggleInsomnia() { setInsomnia(!hasInsomnia()); }
  /// Seconds; below 1 means no end.
  double insomniaTimeInterval() const { return insomniaTimeInterval_; }
  void setInsomniaTimeInterval(double seconds);
  /// A length in seconds the user chose with a slider: taken as the length
  /// and written to "insomniaslidervalue", also when that setting holds it
  /// already (the store tells of changed values only).
  void takeInsomniaSliderValue(double seconds);
  /// A preset length in whole seconds (0: no end); starts Insomnia when off.
  void takeInsomniaLengthFromSender(std::int64_t tag);
  /// Seconds since 1970 at which the running Insomnia ends; nullopt for none.
  std::optional<double> insomniaEndDate() const { return insomniaEndDate_; }
  std::string insomniaString() const;
  std::string insomniaLengthString() const;
  void keepMeAwake();
  bool hasInsomniaPlugin() const { return insomniaDriverConnection_ != nullptr; }
  void checkForInsomniaPlugin();
  bool callInsomniaPluginWithMode(std::uint32_t mode);
  /// Whether the system-power registration is in place.
  bool registeredForSystemPower() const { return systemPower_ != nullptr; }
  host::Sounds::Sound* insomniaSound() const { return insomniaSound_.get(); }

  // --- lid and displays ---
  /// 0 no reading, 1 closed, 2 open.
  std::int64_t getCurrentClamshellState() const;
  std::int64_t clamshellstate() const { return clamshellstate_; }
  void checkIfDisplaysChanged();
  void detectDisplays();
  std::optional<double> clamshellChangedDate() const { return clamshellChangedDate_; }
  bool hasClamshellChangedTimer() const { return clamshellChangedTimer_ != 0; }

 protected:
  std::set<std::string> keyPathsForValuesAffectingValueForKey(const std::string& key) const override;

 private:
  host::RunLoop::TimerId schedule(double seconds, bool repeating, void (MenuBarAppDelegate::*action)());
  void cancel(host::RunLoop::TimerId& timer);
  void registerDefaults();
  void registerForSystemPower();
  void loadInsomniaSound();
  void registerForRootDomain();
  void announceInsomniaStringChange();
  void reportLidLockFailure();
  /// Holds (driver start, idle-sleep veto, the watch on the user's presence)
  /// or releases what keeps the machine awake.
  void holdAwake(bool hold);
  /// Applies the rules' verdict to a running Insomnia: pause, resume or stop.
  void followInsomniaRules();
  void stopByInsomniaRule(InsomniaRules::Verdict verdict, const InsomniaRules::Conditions& conditions);
  void externalPowerCame();
  std::string remainingInsomniaText() const;
  double now() const { return context_.loop().now(); }

  host::HostContext& context_;
  host::AgentPorts ports_;
  StatusItem& statusItem_;
  ORVTimeFormatter orvTimeFormatter_;
  InhibitorList inhibitorList_;
  SomnaraDaemon* sharedSomnaraDaemon_ = nullptr;
  KeyValueObservable::ObserverId currentSleepStateObserver_ = 0;
  std::vector<host::RegistrationPtr> observations_;

  std::optional<double> blinkInterval_;
  host::RunLoop::TimerId blinkTimer_ = 0;
  host::RunLoop::TimerId flashTimer_ = 0;

  double insomniaTimeInterval_ = 0;
  std::optional<double> insomniaEndDate_;
  host::RunLoop::TimerId insomniaTimer_ = 0;
  std::unique_ptr<host::InsomniaDriver::Connection> insomniaDriverConnection_;
  std::unique_ptr<host::SystemPower::Registration> systemPower_;
  std::unique_ptr<host::Sounds::Sound> insomniaSound_;
  InsomniaRuleWatch insomniaRules_;
  bool insomniaPaused_ = false;
  /// Watched while Insomnia keeps the machine awake (on and not paused).
  UserPresenceWatch userPresence_;

  host::RegistrationPtr rootDomain_;
  std::int64_t clamshellstate_ = 0;
  std::optional<double> clamshellChangedDate_;
  host::RunLoop::TimerId clamshellChangedTimer_ = 0;
};

}  // namespace somnara
