// The sleep-state policy: which state the machine should have, and when it
// is applied again.
#include "core/SleepPolicy.h"
#include "core/SomnaraDaemon.h"
#include "hibernation/hibernation.h"
#include "platform/LogLine.h"

namespace somnara {
namespace {

// Runs on every power-source change while the daemon is registered.
void powerchangecallback(host::HostContext& context) {
  SomnaraDaemon::sharedSomnaraDaemon(context).setSleepStateAccordingToSettings();
}

}  // namespace

std::int64_t SomnaraDaemon::sleepStateAccordingToSettings() {
  if (auto fixed = policy::fixedSleepStateForMode(sleepmode_)) return *fixed;
  const auto level = policy::batteryLevel(hibernation::hibernation_currentchargestate(context_),
                                          hibernation::hibernation_currenttimeleft(context_));
  return policy::adaptiveSleepState(level, hibernatelevel_);
}

void SomnaraDaemon::setSleepStateAccordingToSettings(bool scheduleRetry) {
  if (scheduleRetry) {
    if (delayToRetryTimer_) context_.loop().cancel(delayToRetryTimer_);
    delayToRetryTimer_ = scheduleTimer(kDelayedRetryInterval, false, &SomnaraDaemon::retryTimerFired);
  }
  if (terminating_) return;
  if (applying_) {
    deferred_ = Deferred::Policy;
    return;
  }
  const std::int64_t state = sleepStateAccordingToSettings();
  const double now = context_.loop().now();
  // A state that keeps failing is tried again after a growing pause.
  if (!streak_.allows(state, now)) return;
  applyFailed_ = false;
  if (!setSleepStateTo(state) && applyFailed_) streak_.failed(state, now);
}

void SomnaraDaemon::setSleepStateAccordingToSettings() {
  setSleepStateAccordingToSettings(true);
  // The timer just scheduled stays pending and fires once; forgetting it
  // means the next call adds its own delayed application instead of
  // cancelling this one.
  delayToRetryTimer_ = 0;
}

void SomnaraDaemon::retryTimerFired() { setSleepStateAccordingToSettings(false); }

void SomnaraDaemon::addToPowerRunLoop() {
  if (powerRunLoop_ || !hibernation::hibernation_machinehasbattery(context_)) return;
  powerRunLoop_ = context_.powerSources().observeChanges([&context = context_] { powerchangecallback(context); });
  if (!powerRunLoop_) {
    ORV_LOG(context_.logger(), this, "-[SomnaraDaemon addToPowerRunLoop]", "can't create IOPSNotificationCreateRunLoopSource");
    return;
  }
  sharedSomnaraDaemon(context_).setSleepStateAccordingToSettings();
}

void SomnaraDaemon::removeFromPowerRunLoop() { powerRunLoop_.reset(); }

void SomnaraDaemon::workspaceWillSleep() { workspaceWillSleepDate_ = context_.loop().now(); }

void SomnaraDaemon::workspaceDidWake() {
  if (role_.appliesPolicy()) {
    distributedGroup_->sendMessage(kMessageWoke);
    quickSleepEndDate_.reset();
    // Dropped, not cancelled: a pending window timer still fires once more.
    quickSleepEndTimer_ = 0;
    // What the machine can do may have changed while it slept.
    streak_.reset();
    setSleepStateAccordingToSettings();
  } else if (quickSleepEndDate_ && (!workspaceWillSleepDate_ || *quickSleepEndDate_ > *workspaceWillSleepDate_)) {
    // The machine slept inside the window of this program's own sleep-now
    // command (a wake whose sleep notice was missed counts as such).
    resetSleepStateToSystemDefault();
    distributedGroup_->sendMessage(kMessageSleepNowEnded);
  }
  quickSleepEndDate_.reset();
  workspaceWillSleepDate_.reset();
}

void SomnaraDaemon::workspaceDidBecomeActive() {
  distributedGroup_->sendMessage(kMessageWoke);
  setSleepStateAccordingToSettings();
}

void SomnaraDaemon::resetSleepStateToSystemDefault() {
  setSleepStateTo(kSleepStateSystemDefault);
  distributedGroup_->sendMessage(kMessageResetToDefault);
}

void SomnaraDaemon::willTerminate() {
  terminating_ = true;
  if (deferred_ == Deferred::Policy) deferred_ = Deferred::None;
  resetSleepStateToSystemDefault();
}

}  // namespace somnara
