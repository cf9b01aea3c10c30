// The Insomnia keep-awake mode of the menu bar agent.
#include "core/UserDefaultsController.h"
#include "menubar/MenuBarAppDelegate.h"
#include "platform/LogLine.h"

namespace somnara {
namespace {

constexpr const char* kAwakeFromNib = "-[MenuBarAppDelegate awakeFromNib]";
constexpr const char* kCheckForInsomniaPlugin = "-[MenuBarAppDelegate checkForInsomniaPlugin]";
constexpr double kKeepAwakeTickSeconds = 29.0;
/// Lengths below this have no end.
constexpr double kShortestTimedLength = 1.0;
constexpr float kDefaultSoundVolume = 0.2f;

}  // namespace

void MenuBarAppDelegate::setInsomnia(bool insomnia) {
  auto verdict = InsomniaRules::Verdict::Run;
  if (insomnia) {
    const auto conditions = insomniaRules_.conditions();
    verdict = InsomniaRules::verdict(insomniaRules_.settings(), conditions);
    if (InsomniaRules::stops(verdict)) return stopByInsomniaRule(verdict, conditions);
  }
  willChangeValueForKey(kProperty_insomnia);
  cancel(insomniaTimer_);
  insomniaEndDate_.reset();
  if (insomnia) {
    insomniaTimer_ = schedule(kKeepAwakeTickSeconds, true, &MenuBarAppDelegate::keepMeAwake);
    if (insomniaTimeInterval_ >= kShortestTimedLength) insomniaEndDate_ = now() + insomniaTimeInterval_;
  }
  insomniaPaused_ = verdict == InsomniaRules::Verdict::Pause;
  holdAwake(insomnia && !insomniaPaused_);
  insomniaRules_.setInsomniaOn(insomnia);
  didChangeValueForKey(kProperty_insomnia);
  updateMenuBarIcon();
}

void MenuBarAppDelegate::holdAwake(bool hold) {
  if (!hold)
    callInsomniaPluginWithMode(host::InsomniaDriver::kStop);
  else if (!callInsomniaPluginWithMode(host::InsomniaDriver::kStart))
    reportLidLockFailure();
  if (systemPower_) systemPower_->setIdleSleepVetoed(hold);
  // The tick then takes the display's and the screen saver's state from
  // their change notices instead of asking for them.
  if (hold)
    userPresence_.start();
  else
    userPresence_.stop();
}

void MenuBarAppDelegate::setInsomniaTimeInterval(double seconds) {
  willChangeValueForKey(kProperty_insomniaTimeInterval);
  insomniaTimeInterval_ = seconds;
  if (hasInsomnia()) {
    // Strictly greater here: a length of exactly 1.0 set while running removes the end.
    insomniaEndDate_.reset();
    if (seconds > kShortestTimedLength) insomniaEndDate_ = now() + seconds;
    announceInsomniaStringChange();
  }
  context_.defaults().setValue(kInsomniaTimeKey, Value(seconds));
  didChangeValueForKey(kProperty_insomniaTimeInterval);
}

void MenuBarAppDelegate::takeInsomniaSliderValue(double seconds) {
  // The length first: the setting's change notice then finds it in force.
  setInsomniaTimeInterval(seconds);
  context_.defaults().setValue(kInsomniaSliderValueKey, Value(seconds));
}

void MenuBarAppDelegate::takeInsomniaLengthFromSender(std::int64_t tag) {
  setInsomniaTimeInterval(static_cast<double>(tag));
  if (!hasInsomnia()) toggleInsomnia();
}

void MenuBarAppDelegate::announceInsomniaStringChange() {
  willChangeValueForKey(kProperty_insomniaString);
  didChangeValueForKey(kProperty_insomniaString);
}

std::string MenuBarAppDelegate::remainingInsomniaText() const {
  if (!insomniaEndDate_) return {};
  const double remaining = *insomniaEndDate_ - now();
  if (remaining < 60.0) return " (less than a minute remaining)";
  return " (stops in " + orvTimeFormatter_.stringForSeconds(remaining) + ")";
}

std::string MenuBarAppDelegate::insomniaString() const {
  std::string rules;
  if (hasInsomnia())
    rules = InsomniaRules::titleNote(insomniaRules_.settings(), insomniaRules_.powerConditions(),
                                     insomniaPaused_ ? InsomniaRules::Verdict::Pause : InsomniaRules::Verdict::Run);
  return std::string(hasInsomnia() ? "Stop" : "Start") + " Insomnia" + remainingInsomniaText() + rules +
         (hasInsomniaPlugin() ? " (using plugin)" : "");
}

std::string MenuBarAppDelegate::insomniaLengthString() const {
  const std::string length = insomniaTimeInterval_ < kShortestTimedLength
                                 ? std::string("forever")
                                 : orvTimeFormatter_.stringForSeconds(insomniaTimeInterval_);
  return "Insomnia length (" + length + ")";
}

void MenuBarAppDelegate::keepMeAwake() {
  // A paused Insomnia keeps nothing awake; only its end is looked at.
  if (!insomniaPaused_) {
    const bool userAway = userPresence_.userAway();
    if (!userAway)
      ports_.systemPower.reportActivity(host::SystemPower::Activity::Overall);
    else if (!systemPower_)
      // Without the registration there is no veto: idle activity keeps the machine up instead.
      ports_.systemPower.reportActivity(host::SystemPower::Activity::Idle);
  }
  if (insomniaEndDate_ && *insomniaEndDate_ - now() < 0) {
    insomniaEndDate_.reset();
    toggleInsomnia();
  } else {
    statusItem_.setToolTip(toolTipString());
  }
}

void MenuBarAppDelegate::checkForInsomniaPlugin() {
  if (insomniaDriverConnection_) return;
  const auto services = ports_.insomniaDriver.matchingServices();
  if (!services) return;
  auto& log = context_.logger();
  ORV_LOG(log, this, kCheckForInsomniaPlugin, "Found Insomnnia plugin driver");
  for (std::size_t i = 0; i < *services; ++i) {
    insomniaDriverConnection_ = ports_.insomniaDriver.open(i);
    if (!insomniaDriverConnection_) {
      ORV_LOG(log, this, kCheckForInsomniaPlugin, "Weird result connecting to plugin");
      continue;
    }
    ORV_LOG(log, this, kCheckForInsomniaPlugin, "Connected to insomnia plugin");
    announceInsomniaStringChange();
    return;
  }
}

void MenuBarAppDelegate::reportLidLockFailure() {
  // Without any lid-closed service nothing failed: Insomnia then holds the
  // machine awake while its lid is open, as the menu shows.
  const auto services = ports_.insomniaDriver.matchingServices();
  if (services && *services == 0) return;
  std::string reason = ports_.insomniaDriver.failureReason();
  if (reason.empty()) reason = services ? "the service refused it" : "the service can't be reached";
  ports_.notices.post("Insomnia can't keep a closed laptop awake", "The lid switch lock failed: " + reason);
}

bool MenuBarAppDelegate::callInsomniaPluginWithMode(std::uint32_t mode) {
  checkForInsomniaPlugin();
  return insomniaDriverConnection_ && insomniaDriverConnection_->callMethod(mode);
}

void MenuBarAppDelegate::registerForSystemPower() {
  systemPower_ = ports_.systemPower.registerForSystemPower();
  if (!systemPower_)
    ORV_LOG(context_.logger(), this, kAwakeFromNib, "failed to IORegisterForSystemPower - using old way to stay awake");
}

void MenuBarAppDelegate::loadInsomniaSound() {
  auto& defaults = UserDefaultsController::sharedUserDefaultsController(context_);
  const auto file = defaults.value(UserDefaultsController::keyPath(kS_SomnaraUserDefaultsInsomniaSound));
  if (!file)
    insomniaSound_ = ports_.sounds.namedSound(kS_SomnaraUserDefaultsInsomniaSoundNameDefault);
  else if (const std::string* path = file->string())
    insomniaSound_ = ports_.sounds.soundFromFile(*path);
  // A set value that is not a path names no sound.
  if (!insomniaSound_) return;
  insomniaSound_->setVolume(static_cast<float>(
      defaults.doubleValue(UserDefaultsController::keyPath(kS_SomnaraUserDefaultsInsomniaSoundVolume))
          .value_or(kDefaultSoundVolume)));
}

}  // namespace somnara
