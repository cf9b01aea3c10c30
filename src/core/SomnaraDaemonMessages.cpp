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

void SomnaraDaemon::takeSettingsFromStore() {
  auto& controller = UserDefaultsController::sharedUserDefaultsController(context_);
  using Paths = UserDefaultsController;
  setSleepmode(controller.integerValue(Paths::keyPath(kS_SomnaraUserDefaultSleepModeIndex)));
  setHibernatelevel(controller.integerValue(Paths::keyPath(kS_SomnaraUserDefaultsHibernateLevel)));
  setBlackandwhiteicon(controller.boolValue(Paths::keyPath(kS_SomnaraUserDefaultBlackAndWhiteIcon)));
}

void SomnaraDaemon::observeValueForKeyPath(const std::string&) {
  // All three are taken, not just the one that changed: with several keys
  // written in one turn, every message then carries the newest values.
  takeSettingsFromStore();
  sendSettingsMessage();
}

void SomnaraDaemon::settingsChangedInStore() {
  takeSettingsFromStore();
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
