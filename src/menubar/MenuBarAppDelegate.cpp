// Start-up, status item, icon and menu of the menu bar agent.
#include "menubar/MenuBarAppDelegate.h"

#include "core/SleepPolicy.h"

#include <cmath>
#include <filesystem>

#include "core/UserDefaultsController.h"
#include "platform/LogLine.h"
#include "platform/ORVCrashReporter.h"

namespace somnara {
namespace {

constexpr const char* kAwakeFromNib = "-[MenuBarAppDelegate awakeFromNib]";
constexpr const char* kDidFinishLaunching = "-[MenuBarAppDelegate applicationDidFinishLaunching:]";
constexpr const char* kUserDefaultsResource = "UserDefaults.plist";
/// A blink interval at or below this means no blinking.
constexpr float kShortestBlinkInterval = 0.5f;
constexpr double kBlinkFlashSeconds = 0.1;

std::string keyPath(const char* key) { return UserDefaultsController::keyPath(key); }

}  // namespace

MenuBarAppDelegate::MenuBarAppDelegate(host::HostContext& context, const host::AgentPorts& ports,
                                       StatusItem& statusItem)
    : context_(context),
      ports_(ports),
      statusItem_(statusItem),
      inhibitorList_(ports.inhibitors),
      insomniaRules_(context, ports.sessionLock,
                     {[this] { followInsomniaRules(); }, [this] { externalPowerCame(); }}),
      userPresence_(ports.displays) {}

MenuBarAppDelegate::~MenuBarAppDelegate() {
  insomniaDriverConnection_.reset();
  systemPower_.reset();
  rootDomain_.reset();
  for (auto* timer : {&blinkTimer_, &flashTimer_, &insomniaTimer_, &clamshellChangedTimer_}) cancel(*timer);
  if (sharedSomnaraDaemon_) sharedSomnaraDaemon_->removeObserver(currentSleepStateObserver_);
}

host::RunLoop::TimerId MenuBarAppDelegate::schedule(double seconds, bool repeating,
                                                    void (MenuBarAppDelegate::*action)()) {
  const auto delay = std::chrono::milliseconds(std::llround(seconds * 1000.0));
  return context_.loop().schedule(delay, repeating, [this, action] { (this->*action)(); });
}

void MenuBarAppDelegate::cancel(host::RunLoop::TimerId& timer) {
  if (timer) context_.loop().cancel(timer);
  timer = 0;
}

std::set<std::string> MenuBarAppDelegate::keyPathsForValuesAffectingValueForKey(const std::string& key) const {
  if (key == kProperty_insomniaString) return {kProperty_insomnia};
  if (key == kProperty_insomniaLengthString) return {kProperty_insomniaTimeInterval};
  return {};
}

void MenuBarAppDelegate::awakeFromNib() {
  platform::ORVCrashReporter::testForCrashWithBodyString(context_, nullptr);
  registerDefaults();
  ORV_LOG(context_.logger(), this, kAwakeFromNib, "sliderTimerMenuItem:" + statusItem_.attachInsomniaSlider());
  insomniaDriverConnection_.reset();
  statusItem_.show();

  willChangeValueForKey(kProperty_sharedSomnaraDaemon);
  sharedSomnaraDaemon_ = &SomnaraDaemon::sharedSomnaraDaemon(context_);
  didChangeValueForKey(kProperty_sharedSomnaraDaemon);
  currentSleepStateObserver_ = sharedSomnaraDaemon_->addObserver(
      kS_Property_currentsleepstate, [this](const std::string&, KeyValueObservable::Phase phase) {
        if (phase == KeyValueObservable::Phase::DidChange) updateMenuBarIcon();
      });
  updateMenuBarIcon();
  checkIfDisplaysChanged();

  auto& defaults = UserDefaultsController::sharedUserDefaultsController(context_);
  setInsomniaTimeInterval(defaults.doubleValue(keyPath(kInsomniaTimeKey)).value_or(0.0));
  observations_.push_back(defaults.observe(keyPath(kInsomniaSliderValueKey), [this, &defaults] {
    const double seconds = defaults.doubleValue(keyPath(kInsomniaSliderValueKey)).value_or(0.0);
    // This program's own slider has applied its value already.
    if (seconds != insomniaTimeInterval_) setInsomniaTimeInterval(seconds);
  }));

  const auto blinkSeconds =
      static_cast<float>(defaults.doubleValue(keyPath(kS_SomnaraUserDefaultsBlinkInterval)).value_or(0.0));
  if (blinkSeconds > kShortestBlinkInterval) {
    blinkInterval_ = blinkSeconds;
    blinkTimer_ = schedule(blinkSeconds, true, &MenuBarAppDelegate::blink);
  }

  registerForSystemPower();
  loadInsomniaSound();
  registerForRootDomain();
  insomniaRules_.start();
}

void MenuBarAppDelegate::registerDefaults() {
  // A missing or unreadable resource registers nothing.
  const auto registered = context_.workspace().propertyListResource(kUserDefaultsResource);
  if (!registered) return;
  context_.defaults().registerDefaults(*registered);
  UserDefaultsController::sharedUserDefaultsController(context_).setInitialValues(*registered);
}

void MenuBarAppDelegate::applicationDidFinishLaunching() {
  if (!UserDefaultsController::sharedUserDefaultsController(context_).boolValue(
          keyPath(kS_SomnaraUserDefaultsEnableInsomniaOnStart)))
    return;
  ORV_LOG(context_.logger(), this, kDidFinishLaunching, "Insomnia on launch is set");
  setInsomnia(true);
}

void MenuBarAppDelegate::updateMenuBarIconBlink(bool blink) {
  const char* normal;
  const char* flash;
  if (hasInsomnia() && !insomniaPaused_) {
    normal = kImageInsomnia;
    flash = kImageHibernate;
  } else if (const auto state = sharedSomnaraDaemon_->currentsleepstate(); !state || *state < 0) {
    // No mode in force: the machine does what the system does by itself
    // (a plain sleep), or, where it cannot sleep at all, stays awake.
    const bool canSleep = sharedSomnaraDaemon_->readSleepCapabilities().canSleep();
    normal = canSleep ? kImageSleep : kImageInsomnia;
    flash = kImageHibernate;
  } else {
    // Reading the state may announce its change, which comes back here once.
    switch (*state & 3) {
      case 0:
        normal = kImageSleep;
        flash = kImageHibernate;
        break;
      case 1:
        normal = kImageHibernate;
        flash = kImageHibernateSleep;
        break;
      default:
        normal = kImageHibernateSleep;
        flash = kImageHibernate;
        break;
    }
  }
  statusItem_.setImage(blink ? flash : normal, sharedSomnaraDaemon_->blackandwhiteicon());
  statusItem_.setToolTip(toolTipString());
}

void MenuBarAppDelegate::blink() {
  updateMenuBarIconBlink(true);
  cancel(flashTimer_);
  flashTimer_ = schedule(kBlinkFlashSeconds, false, &MenuBarAppDelegate::updateMenuBarIcon);
}

void MenuBarAppDelegate::menuWillOpen() {
  inhibitorList_.beginLooking();
  updateMenuBarIcon();
  announceInsomniaStringChange();
  checkForInsomniaPlugin();
}

bool MenuBarAppDelegate::sleepNowAvailable(std::int64_t state) {
  if (!sharedSomnaraDaemon_) return true;
  const auto& caps = sharedSomnaraDaemon_->readSleepCapabilities();
  const auto mode = policy::hibernateModeForSleepState(state, false);
  return mode && powertool::abilityForHibernateMode(caps, *mode).possible();
}

void MenuBarAppDelegate::sleepNowWithState(std::int64_t state) {
  if (!sharedSomnaraDaemon_) return;
  if (const auto failure = sharedSomnaraDaemon_->sleepNowWithState(state))
    ports_.notices.post(std::string(sleepNowTitle(state)) + " failed", *failure);
}

const char* MenuBarAppDelegate::sleepNowTitle(std::int64_t state) {
  switch (state) {
    case kSleepStateHibernate:
      return "Hibernate Now";
    case kSleepStateSleepAndHibernate:
      return "Sleep and Hibernate Now";
    default:
      return "Sleep Now";
  }
}

void MenuBarAppDelegate::menuDidClose() {
  inhibitorList_.endLooking();
  updateMenuBarIcon();
}

void MenuBarAppDelegate::showPreferences() {
  const std::string bundle = context_.workspace().mainBundlePath();
  std::string application = std::filesystem::path(bundle + "/../../../../").lexically_normal().string();
  while (application.size() > 1 && application.back() == '/') application.pop_back();
  // The answer is not looked at: without an enclosing application nothing happens.
  context_.workspace().openFile(bundle, application);
}

std::string MenuBarAppDelegate::toolTipString() {
  std::string text = sharedSomnaraDaemon_->currentStateString();
  if (!hasInsomnia()) return text;
  text += insomniaPaused_ ? "\nInsomnia paused on battery" : "\nInsomnia on";
  text += insomniaEndDate_ ? remainingInsomniaText() : " until stopped";
  return text;
}

}  // namespace somnara
