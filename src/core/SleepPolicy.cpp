#include "core/SleepPolicy.h"

#include "core/Constants.h"

namespace somnara::policy {

std::optional<std::int64_t> batteryLevel(std::optional<std::int32_t> charge, std::optional<std::int32_t> timeLeft) {
  if (!charge || !timeLeft) return charge ? charge : timeLeft;
  if (*charge < *timeLeft) return *charge > 0 ? *charge : *timeLeft;
  return *timeLeft > 0 ? *timeLeft : *charge;
}

std::int64_t adaptiveSleepState(std::optional<std::int64_t> level, std::int64_t hibernateLevel) {
  if (!level || *level <= kCriticalBatteryLevel) return kSleepStateHibernate;
  if (*level > hibernateLevel) return kSleepStateSleep;
  return kSleepStateSleepAndHibernate;
}

std::optional<std::int64_t> fixedSleepStateForMode(std::int64_t sleepmode) {
  switch (sleepmode) {
    case 1:
      return std::nullopt;
    case 2:
      return kSleepStateSleep;
    case 3:
      return kSleepStateHibernate;
    case 4:
      return kSleepStateSleepAndHibernate;
    default:
      return kSleepStateSystemDefault;
  }
}

std::optional<std::int64_t> hibernateModeForSleepState(std::int64_t state, bool newerSystem) {
  switch (state) {
    case kSleepStateSleep:
      return 0;
    case kSleepStateSleepAndHibernate:
      return 3;
    case kSleepStateHibernate:
      return newerSystem ? 25 : 1;
    default:
      return std::nullopt;
  }
}

std::int64_t closestHibernateMode(std::int64_t mode, const powertool::SleepCapabilities& caps) {
  if (powertool::abilityForHibernateMode(caps, mode).possible() || !caps.suspend.possible()) return mode;
  return 0;
}

}  // namespace somnara::policy
