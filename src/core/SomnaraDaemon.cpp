#include "core/SomnaraDaemon.h"

#include "core/UserDefaultsController.h"
#include "hibernation/hibernation.h"

namespace somnara {

std::recursive_mutex& SomnaraDaemon::creationLock() {
  static std::recursive_mutex lock;
  return lock;
}

SomnaraDaemon& SomnaraDaemon::sharedSomnaraDaemon(host::HostContext& context) {
  std::lock_guard guard(creationLock());
  if (auto* existing = context.singleton<SomnaraDaemon>()) return *existing;
  // Published before init() runs, so init() may ask for it again.
  auto* instance = context.adoptSingleton(new SomnaraDaemon(context));
  instance->init();
  return *instance;
}

SomnaraDaemon::SomnaraDaemon(host::HostContext& context) : context_(context) {}

SomnaraDaemon::~SomnaraDaemon() { removeFromPowerRunLoop(); }

host::RunLoop::TimerId SomnaraDaemon::scheduleTimer(std::chrono::milliseconds delay, bool repeating,
                                                    void (SomnaraDaemon::*action)()) {
  // Timers are dropped rather than cancelled in places, so one may still be
  // pending when the controller goes; the token keeps it from calling in.
  std::weak_ptr<const bool> alive = alive_;
  return context_.loop().schedule(delay, repeating, [this, alive, action] {
    if (!alive.expired()) (this->*action)();
  });
}

void SomnaraDaemon::init() {
  role_ = ControllerRole::forBundleIdentifier(context_.workspace().mainBundleIdentifier());

  auto& controller = UserDefaultsController::sharedUserDefaultsController(context_);
  controller.setInitialValues({{kS_SomnaraUserDefaultsHibernateLevel, Value(kDefaultHibernateLevel)},
                               {kS_SomnaraUserDefaultsBlinkInterval, Value(kDefaultBlinkInterval)}});
  if (!role_.ownsSettings()) context_.defaults().addSuite(kS_SomnaraApplicationBundleIdentifier);

  setSleepmode(controller.integerValue(UserDefaultsController::keyPath(kS_SomnaraUserDefaultSleepModeIndex)));
  setHibernatelevel(controller.integerValue(UserDefaultsController::keyPath(kS_SomnaraUserDefaultsHibernateLevel)));
  setBlackandwhiteicon(static_cast<std::uint8_t>(controller.integerValue(
                           UserDefaultsController::keyPath(kS_SomnaraUserDefaultBlackAndWhiteIcon))) != 0);

  machinesupportssomnara_ = hibernation::hibernation_machinehasbattery(context_);

  distributedGroup_ = std::make_unique<ORVDistributedNotificationGroup>(context_, kS_SomnaraDaemonDistributedGroupName);
  distributedGroup_->setDelegate(this);

  registerObservers();

  if (role_.appliesPolicy()) {
    addToPowerRunLoop();
    setSleepStateAccordingToSettings();
    continousRetryTimer_ =
        scheduleTimer(kContinuousRetryInterval, true, &SomnaraDaemon::retryTimerFired);
  }
}

void SomnaraDaemon::registerObservers() {
  using Event = host::Workspace::Event;
  auto& workspace = context_.workspace();
  if (role_.appliesPolicy()) {
    observations_.push_back(workspace.observe(Event::SessionDidResignActive, [this] { resetSleepStateToSystemDefault(); }));
    observations_.push_back(workspace.observe(Event::SessionDidBecomeActive, [this] { workspaceDidBecomeActive(); }));
    observations_.push_back(workspace.observe(Event::WillTerminate, [this] { willTerminate(); }));
  }
  // The preferences application broadcasts what its settings window changes;
  // the other programs also follow the store, so a change that reaches them
  // without a message (written by hand, or while they were not listening)
  // is not lost.
  auto& controller = UserDefaultsController::sharedUserDefaultsController(context_);
  for (const char* key : kSettingsKeys) {
    const std::string path = UserDefaultsController::keyPath(key);
    observations_.push_back(controller.observe(path, [this, path] {
      if (role_.ownsSettings())
        observeValueForKeyPath(path);
      else
        settingsChangedInStore(path);
    }));
  }
  observations_.push_back(workspace.observe(Event::DidWake, [this] { workspaceDidWake(); }));
  observations_.push_back(workspace.observe(Event::WillSleep, [this] { workspaceWillSleep(); }));
}

std::set<std::string> SomnaraDaemon::keyPathsForValuesAffectingValueForKey(const std::string& key) const {
  if (key == kS_Property_currentStateString) return {kS_Property_currentsleepstate};
  if (key == kS_Property_sleepmodeissomnara) return {kS_Property_sleepmode};
  return {};
}

std::int64_t SomnaraDaemon::sleepmode() {
  if (static_cast<std::uint64_t>(sleepmode_) <= 4 && sleepmode_ != 1) return sleepmode_;
  if (sleepmode_ == 1 && machinesupportssomnara_) return 1;
  sleepmode_ = 0;
  return 0;
}

void SomnaraDaemon::setSleepmode(std::int64_t sleepmode) {
  if (sleepmode == sleepmode_) return;
  willChangeValueForKey(kS_Property_sleepmode);
  sleepmode_ = sleepmode;
  if (role_.ownsSettings()) {
    context_.defaults().setValue(kS_SomnaraUserDefaultSleepModeIndex, Value(sleepmode));
    context_.defaults().synchronize();
  }
  didChangeValueForKey(kS_Property_sleepmode);
}

std::optional<std::int32_t> SomnaraDaemon::currentsleepstate() {
  const auto reading = hibernation::hibernation_currenthibernationstate(context_);
  if (!currentsleepstate_ || *currentsleepstate_ != reading) {
    currentsleepstate_ = reading;
    announceCurrentSleepStateChange();
  }
  return reading;
}

void SomnaraDaemon::announceCurrentSleepStateChange() {
  willChangeValueForKey(kS_Property_currentsleepstate);
  didChangeValueForKey(kS_Property_currentsleepstate);
}

std::string SomnaraDaemon::currentStateString() {
  static const char* const kWords[4] = {"sleep", "hibernate", "do unknown sleep behaviour", "sleep and hibernate"};
  const auto reading = currentsleepstate();
  if (reading && *reading >= 0)
    currentStateString_ = std::string("Machine will ") + kWords[*reading & 3] + " on sleep";
  else if (!readSleepCapabilities().canSleep())
    currentStateString_ = "This machine can't sleep";
  else
    currentStateString_ = std::string("Machine will ") + kWords[2] + " on sleep";
  return currentStateString_;
}

}  // namespace somnara
