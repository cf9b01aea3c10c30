// Messages between the controllers of the programs.
#include "core/SomnaraDaemon.h"
#include "core/UserDefaultsController.h"

namespace somnara {

void SomnaraDaemon::sendSettingsMessage() {
  distributedGroup_->sendMessage(
      kMessageSettings, Value(Dictionary{{kS_SomnaraUserDefaultSleepModeIndex, Value(sleepmode_)},
                                         {kS_SomnaraUserDefaultsHibernateLevel, Value(hibernatelevel_)},
                                         {kS_SomnaraUserDefaultBlackAndWhiteIcon, Value(blackandwhiteicon_)}}));
}

void SomnaraDaemon::takeSettingFromStore(const std::string& keyPath) {
  auto& controller = UserDefaultsController::sharedUserDefaultsController(context_);
  using Paths = UserDefaultsController;
  if (keyPath == Paths::keyPath(kS_SomnaraUserDefaultSleepModeIndex))
    setSleepmode(controller.integerValue(keyPath));
  else if (keyPath == Paths::keyPath(kS_SomnaraUserDefaultsHibernateLevel))
    setHibernatelevel(controller.integerValue(keyPath));
  else if (keyPath == Paths::keyPath(kS_SomnaraUserDefaultBlackAndWhiteIcon))
    setBlackandwhiteicon(controller.boolValue(keyPath));
}

void SomnaraDaemon::observeValueForKeyPath(const std::string&) {
  // All three are taken, not just the one that changed: with several keys
  // written in one turn, every message then carries the newest values.
  for (const char* key : kSettingsKeys) takeSettingFromStore(UserDefaultsController::keyPath(key));
  sendSettingsMessage();
}

void SomnaraDaemon::settingsChangedInStore(const std::string& keyPath) {
  // Only the setting whose stored value changed: the others keep what a
  // settings message may have set since, even where the daemon's own domain
  // holds an older value that shadows the shared one.
  takeSettingFromStore(keyPath);
  if (role_.appliesPolicy()) setSleepStateAccordingToSettings();
}

void SomnaraDaemon::receivedMessage(std::int64_t type, const std::optional<Value>& userInfo) {
  if (type == kMessageSettings) {
    const Value* payload = userInfo ? &*userInfo : nullptr;
    auto entry = [payload](const char* key) { return payload ? payload->find(key) : nullptr; };
    const Value* icon = entry(kS_SomnaraUserDefaultBlackAndWhiteIcon);
    setBlackandwhiteicon(icon && icon->boolean());
    setHibernatelevel(integerOrZero(entry(kS_SomnaraUserDefaultsHibernateLevel)));
    setSleepmode(integerOrZero(entry(kS_SomnaraUserDefaultSleepModeIndex)));
  }
  if (role_.appliesPolicy()) {
    switch (type) {
      case kMessageQuickSleep:
        quickSleepEndDate_.reset();
        if (userInfo && userInfo->date()) quickSleepEndDate_ = userInfo->date()->secondsSince1970;
        quickSleepEndTimer_ = scheduleTimer(kQuickSleepWindow, false, &SomnaraDaemon::workspaceDidWake);
        return;
      case kMessageSleepNowEnded:
      case kMessageResetToDefault:
      case kMessageSettings:
        setSleepStateAccordingToSettings();
        break;
      default:
        break;
    }
  }
  announceCurrentSleepStateChange();
}

}  // namespace somnara
