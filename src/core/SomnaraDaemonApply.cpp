// Applying a sleep state: the hibernatemode value for it, writing it through
// the privileged helper, reading it back, repairing the helper's privileges,
// and the sleep-now commands.
#include <cstdlib>

#include "core/SleepPolicy.h"
#include "core/SomnaraDaemon.h"
#include "core/UserDefaultsController.h"
#include "hibernation/hibernation.h"
#include "platform/LogLine.h"
#include "platform/ORVFree.h"
#include "plist/PlistCodec.h"
#include "powertool/PowerToolStatus.h"

#ifndef SOMNARA_PMSET_PATH
#error "SOMNARA_PMSET_PATH must name the power tool the helper is allowed to run"
#endif

namespace somnara {
namespace {

constexpr const char* kPowerToolPath = SOMNARA_PMSET_PATH;
constexpr const char* kHelperResourceName = "pmsethelper";
constexpr const char* kPmsetMethod = "-[SomnaraDaemon pmset:]";
constexpr const char* kValueMethod = "-[SomnaraDaemon pmsetvalueForSleepState:]";
constexpr const char* kSleepNowMethod = "-[SomnaraDaemon sleepNowWithState:]";

}  // namespace

bool SomnaraDaemon::usehardvalues() const {
  if (platform::isNewerSystem(context_)) return true;
  return UserDefaultsController::sharedUserDefaultsController(context_).boolValue(
      UserDefaultsController::keyPath(kS_SomnaraUserDefaultsHardSetValues));
}

std::int64_t SomnaraDaemon::pmsetvalueForSleepState(std::int64_t state) {
  if (auto fixed = policy::hibernateModeForSleepState(state, platform::isNewerSystem(context_))) return *fixed;

  // What the lookup found wrong; written only when it differs from what the
  // previous lookup wrote, so a retry tick repeats nothing.
  std::vector<std::string> lines;
  auto note = [&](int sourceLine, const std::string& message) {
    lines.push_back(platform::formatLogLine(this, sourceLine, kValueMethod, message));
  };
  auto result = [&](std::int64_t value) {
    if (lines != defaultLookupLines_)
      for (const auto& line : lines) context_.logger().log(line);
    defaultLookupLines_ = std::move(lines);
    return value;
  };

  const powertool::SavedPowerSettings saved = context_.powerManager().savedSettings();
  const std::optional<Value>& list = saved.list;
  if (!list) note(__LINE__, "Can't find current system default value due to:" + saved.error);
  const std::optional<std::int64_t>& savedMode = saved.hibernateMode;

  if (!savedMode) {
    note(__LINE__, "Can't find current system default hibernate mode value " + (list ? list->description() : "(null)"));
  } else if (usehardvalues()) {
    return result(machinesupportssomnara_ ? 3 : 0);
  } else if (*savedMode != -1) {
    return result(*savedMode);
  }
  const std::int64_t fallback = machinesupportssomnara_ ? 3 : 0;
  note(__LINE__, platform::format("Cant find default sleep mode will use:%ld", static_cast<long>(fallback)));
  return result(fallback);
}

bool SomnaraDaemon::setSleepStateTo(std::int64_t state) {
  if (applying_) {
    // A timer or message served while the helper runs: apply it afterwards.
    deferred_ = Deferred::State;
    deferredState_ = state;
    applyFailure_ = "another change of the sleep mode is under way";
    return false;
  }
  applying_ = true;
  const bool applied = pmset(state);
  applying_ = false;
  runDeferredApplications();
  return applied;
}

void SomnaraDaemon::runDeferredApplications() {
  while (deferred_ != Deferred::None) {
    const Deferred kind = deferred_;
    deferred_ = Deferred::None;
    if (kind == Deferred::Policy)
      setSleepStateAccordingToSettings(false);
    else
      setSleepStateTo(deferredState_);
  }
}

const powertool::SleepCapabilities& SomnaraDaemon::readSleepCapabilities() {
  const auto caps = context_.powerManager().sleepCapabilities();
  const bool changed = capabilitiesRead_ ? caps != capabilities_ : caps != powertool::SleepCapabilities::all();
  capabilities_ = caps;
  capabilitiesRead_ = true;
  if (changed) streak_.reset();
  if (changed && role_.appliesPolicy()) {
    const std::string text = caps.canSleep()
                                 ? "Sleep support: " + powertool::describe(caps)
                                 : std::string("This machine can't sleep: ") + powertool::describe(caps.suspend.blocker);
    ORV_LOG(context_.logger(), this, "-[SomnaraDaemon sleepCapabilities]", text);
  }
  return capabilities_;
}

void SomnaraDaemon::logApplyFailure(int sourceLine, const char* method, const std::string& message) {
  std::string line = platform::formatLogLine(this, sourceLine, method, message);
  if (streak_.firstTime(line)) context_.logger().log(line);
}

bool SomnaraDaemon::pmset(std::int64_t state) {
  const std::int64_t requested = pmsetvalueForSleepState(state);
  if (role_.appliesPolicy() && quickSleepEndTimer_) return false;
  const auto& caps = readSleepCapabilities();
  if (!caps.canSleep()) {
    applyFailure_ = std::string("this machine can't sleep: ") + powertool::describe(caps.suspend.blocker);
    applyFailed_ = true;
    return false;
  }
  // Never point the machine at a kind of sleep it cannot do: sleep would fail.
  const std::int64_t wanted = policy::closestHibernateMode(requested, caps);

  std::vector<std::string> args{kPowerToolPath, "force", "hibernatemode", std::to_string(wanted)};
  const bool hardValues = usehardvalues();
  if (hardValues) args.erase(args.begin() + 1);

  auto current = [this] { return hibernation::hibernation_currenthibernationstate(context_); };
  // Log lines and messages show a mode that is not in force as -1.
  auto shown = [](std::optional<std::int32_t> mode) { return static_cast<long>(mode.value_or(-1)); };
  if (current() == wanted) {
    streak_.reset();
    return true;
  }

  for (int attempt = 0; attempt < kMaxApplyAttempts; ++attempt) {
    const auto helper = context_.workspace().pathForResource(kHelperResourceName);
    if (!helper) {
      logApplyFailure(__LINE__, kPmsetMethod, "Can't find helper program:" + context_.workspace().mainBundlePath());
      applyFailure_ = "the helper tool is missing from " + context_.workspace().mainBundlePath();
      applyFailed_ = true;
      return false;
    }
    const int status = context_.processes().run(*helper, args).value_or(-1);
    if (status == POWER_TOOL_OK) {
      const auto now = current();
      if (now == wanted) break;
      logApplyFailure(__LINE__, kPmsetMethod,
                      platform::format("Waiting for sleep state to get reflected %ld != %ld",
                                       static_cast<long>(wanted), shown(now)));
      context_.loop().sleepBlocking(kReflectWait);
      continue;
    }
    logApplyFailure(__LINE__, kPmsetMethod, platform::format("Can't set next sleep state: %ld", static_cast<long>(status)));
    const bool repairable =
        (status == POWER_TOOL_DENIED && hardValues) ||
        (status == HELPER_NOT_PRIVILEGED && platform::isNewerSystem(context_));
    if (repairable && repairHelperPrivileges(*helper)) break;
    applyFailure_ = status == POWER_TOOL_BUSY
                        ? std::string("the power tool was busy with other changes; trying again")
                        : platform::format("the helper tool failed with exit status %d", status);
    applyFailed_ = true;
    return false;
  }

  const auto now = current();
  if (now != wanted) {
    logApplyFailure(__LINE__, kPmsetMethod,
                    platform::format("Can't set next sleep state : %ld != %ld", static_cast<long>(wanted),
                                     shown(now)));
    applyFailure_ = platform::format("the sleep mode did not take effect (%ld instead of %ld)", shown(now),
                                     static_cast<long>(wanted));
    applyFailed_ = true;
    return false;
  }
  streak_.reset();
  if (role_.appliesPolicy()) distributedGroup_->sendMessage(kMessageStateApplied);
  announceCurrentSleepStateChange();
  return true;
}

bool SomnaraDaemon::repairHelperPrivileges(const std::string& helperPath) {
  auto& log = context_.logger();
  ORV_LOG(log, this, kPmsetMethod, "Looks like the permissions for pmset are not there yet.");
  const auto failure = context_.authorization().repairHelperPrivileges(helperPath);
  if (!failure) return true;
  const char* what = failure->step == host::Authorization::Step::Chown ? "chown" : "chmod";
  ORV_LOG(log, this, kPmsetMethod, platform::format("Can't execute %s on helper tool:%d", what, failure->code));
  return false;
}

std::optional<std::string> SomnaraDaemon::sleepNowWithState(std::int64_t state) {
  quickSleepEndDate_ = context_.loop().now() + std::chrono::duration<double>(kQuickSleepWindow).count();
  distributedGroup_->sendMessage(kMessageQuickSleep, Value(Date{*quickSleepEndDate_}));
  auto& log = context_.logger();
  std::optional<std::string> failure;
  applyFailure_.clear();
  if (!setSleepStateTo(state)) {
    ORV_LOG(log, this, kSleepNowMethod, "Could not set sleepstate");
    failure = "The sleep mode could not be set: " + (applyFailure_.empty() ? std::string("unknown cause") : applyFailure_);
  } else if (const int status = context_.processes().run(kPowerToolPath, {"sleepnow"}).value_or(-1); status != 0) {
    ORV_LOG(log, this, kSleepNowMethod, platform::format("Can't set next sleep state: %d", status));
    failure = platform::format("The power tool's sleep request failed with exit status %d", status);
  }
  if (failure) {
    distributedGroup_->sendMessage(kMessageSleepNowEnded);
    context_.workspace().beep();
  }
  return failure;
}

}  // namespace somnara
