#include "menubar/InsomniaRuleWatch.h"

#include "core/UserDefaultsController.h"

namespace somnara {
namespace {

constexpr const char* kRuleKeys[] = {
    kS_SomnaraUserDefaultsInsomniaBatteryFloor, kS_SomnaraUserDefaultsInsomniaOnlyOnExternalPower,
    kS_SomnaraUserDefaultsInsomniaStartOnExternalPower, kS_SomnaraUserDefaultsInsomniaStopWhenLocked};

std::string keyPath(const char* key) { return UserDefaultsController::keyPath(key); }

// A lock that comes while a new watch is still being set up on the bus (its
// match rule not yet in force) is caught by one look this long after.
constexpr std::chrono::milliseconds kLockLookAfterWatching{1000};

}  // namespace

InsomniaRuleWatch::InsomniaRuleWatch(host::HostContext& context, host::SessionLock& sessionLock, Events events)
    : context_(context), sessionLock_(sessionLock), events_(std::move(events)) {}

InsomniaRuleWatch::~InsomniaRuleWatch() { context_.loop().cancel(lockLook_); }

void InsomniaRuleWatch::start() {
  auto& defaults = UserDefaultsController::sharedUserDefaultsController(context_);
  settingsWatches_.clear();
  for (const char* key : kRuleKeys)
    settingsWatches_.push_back(defaults.observe(keyPath(key), [this] {
      readSettings();
      updateWatches();
      if (insomniaOn_) events_.changed();
    }));
  readSettings();
  updateWatches();
}

void InsomniaRuleWatch::readSettings() {
  const auto& defaults = UserDefaultsController::sharedUserDefaultsController(context_);
  settings_.batteryFloor =
      defaults.integerValue(keyPath(kS_SomnaraUserDefaultsInsomniaBatteryFloor), kDefaultInsomniaBatteryFloor);
  settings_.onlyOnExternalPower = defaults.boolValue(keyPath(kS_SomnaraUserDefaultsInsomniaOnlyOnExternalPower));
  settings_.startOnExternalPower = defaults.boolValue(keyPath(kS_SomnaraUserDefaultsInsomniaStartOnExternalPower));
  settings_.stopWhenLocked = defaults.boolValue(keyPath(kS_SomnaraUserDefaultsInsomniaStopWhenLocked));
}

void InsomniaRuleWatch::setInsomniaOn(bool on) {
  insomniaOn_ = on;
  updateWatches();
}

InsomniaRules::Conditions InsomniaRuleWatch::powerConditions() const {
  InsomniaRules::Conditions c;
  const host::PowerReading reading = context_.powerSources().read();
  c.onBattery = !reading.onExternalPower;
  if (reading.battery) c.charge = reading.battery->percent;
  return c;
}

InsomniaRules::Conditions InsomniaRuleWatch::conditions() const {
  auto c = powerConditions();
  if (settings_.stopWhenLocked) c.locked = sessionLock_.locked();
  return c;
}

void InsomniaRuleWatch::updateWatches() {
  if (!InsomniaRules::watchesPowerSources(settings_, insomniaOn_)) {
    powerWatch_.reset();
  } else if (!powerWatch_) {
    lastSeen_ = powerConditions();
    powerWatch_ = context_.powerSources().observeChanges([this] { powerSourcesChanged(); });
  }
  if (!InsomniaRules::watchesSessionLock(settings_, insomniaOn_)) {
    lockWatch_.reset();
    context_.loop().cancel(lockLook_);
  } else if (!lockWatch_) {
    lockWatch_ = sessionLock_.observeLocked([this](bool) { events_.changed(); });
    context_.loop().cancel(lockLook_);
    lockLook_ = context_.loop().schedule(kLockLookAfterWatching, false, [this] {
      lockLook_ = 0;
      if (insomniaOn_) events_.changed();
    });
  }
}

void InsomniaRuleWatch::powerSourcesChanged() {
  const auto before = lastSeen_;
  lastSeen_ = powerConditions();
  if (InsomniaRules::starts(settings_, before, lastSeen_)) events_.externalPowerCame();
  if (insomniaOn_) events_.changed();
}

}  // namespace somnara
