// The menu bar agent's watch on the lid and the displays.
#include "core/UserDefaultsController.h"
#include "menubar/MenuBarAppDelegate.h"

namespace somnara {
namespace {

constexpr double kClamshellWindowSeconds = 10.0;
constexpr double kDisplayProbeSeconds = 2.0;
constexpr std::size_t kMaxProbedDisplays = 64;

}  // namespace

std::int64_t MenuBarAppDelegate::getCurrentClamshellState() const {
  const auto closed = ports_.clamshell.clamshellState();
  if (!closed) return 0;
  return *closed ? 1 : 2;
}

void MenuBarAppDelegate::registerForRootDomain() {
  // Without such messages the lid is only read at start-up.
  rootDomain_ = ports_.clamshell.observeRootDomain([this] { checkIfDisplaysChanged(); });
}

void MenuBarAppDelegate::checkIfDisplaysChanged() {
  const std::int64_t reading = getCurrentClamshellState();
  if (reading == clamshellstate_) return;
  if (hasInsomniaPlugin() && hasInsomnia()) {
    if (clamshellstate_ == 2 && reading == 1 && insomniaSound_) insomniaSound_->play();
    clamshellChangedDate_ = now() + kClamshellWindowSeconds;
    if (!clamshellChangedTimer_)
      clamshellChangedTimer_ = schedule(kDisplayProbeSeconds, true, &MenuBarAppDelegate::detectDisplays);
  }
  clamshellstate_ = reading;
}

void MenuBarAppDelegate::detectDisplays() {
  const bool disabled = UserDefaultsController::sharedUserDefaultsController(context_).boolValue(
      UserDefaultsController::keyPath(kS_SomnaraUserDefaultsInsomniaDisableDisplayDetection));
  if (!disabled) ports_.displays.probeActiveDisplays(kMaxProbedDisplays);
  // The pass due at the end of the window ends it.
  if (clamshellChangedDate_ && *clamshellChangedDate_ - now() <= 0) {
    cancel(clamshellChangedTimer_);
    clamshellChangedDate_.reset();
  }
}

}  // namespace somnara
