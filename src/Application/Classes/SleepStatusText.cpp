#include "Application/Classes/SleepStatusText.h"

#include "core/Constants.h"
#include "core/SleepPolicy.h"

namespace somnara {
namespace {

using powertool::SleepAbility;

std::string adaptiveReason(const SleepStatusFacts& f, std::int64_t* state) {
  std::string reading = f.charge ? "battery at " + std::to_string(*f.charge) + " %" : "no charge reading";
  if (f.timeLeft > 0) reading += ", " + std::to_string(*f.timeLeft) + " min left";
  const auto level = policy::batteryLevel(f.charge, f.timeLeft);
  // Without a level the text has always read "level -1".
  const std::string head = "Adaptive: " + reading + ", level " + (level ? std::to_string(*level) : "-1");
  const std::string hibernateLevel = std::to_string(f.hibernateLevel);
  *state = policy::adaptiveSleepState(level, f.hibernateLevel);
  switch (*state) {
    case kSleepStateSleep: return head + " is above the hibernate level " + hibernateLevel + ".";
    case kSleepStateSleepAndHibernate: return head + " is at or below the hibernate level " + hibernateLevel + ".";
    default: return head + ": the battery is nearly empty.";
  }
}

// The ability a sleep state needs beyond plain sleep; nullopt for none.
std::optional<SleepAbility> extraAbility(std::int64_t state, const powertool::SleepCapabilities& caps) {
  if (state == kSleepStateHibernate) return caps.hibernate;
  if (state == kSleepStateSleepAndHibernate) return caps.hybridSleep;
  return std::nullopt;
}

std::string cannot(std::int64_t state, const powertool::SleepCapabilities& caps, const SleepAbility& ability) {
  const bool hibernation = state == kSleepStateHibernate || !caps.hibernate.possible();
  return std::string("This machine can't ") + (hibernation ? "hibernate" : "sleep and hibernate") + ": " +
         powertool::describe(ability.blocker);
}

}  // namespace

std::string sleepStatusReason(const SleepStatusFacts& f) {
  if (!f.capabilities.canSleep())
    return std::string("This machine can't sleep: ") + powertool::describe(f.capabilities.suspend.blocker) + ".";
  std::int64_t state = kSleepStateSystemDefault;
  std::string reason;
  switch (f.chosenMode) {
    case 1:
      if (!f.hasBattery) return "\"Adaptive\" needs a battery and this machine has none: the system's own setting applies.";
      reason = adaptiveReason(f, &state);
      break;
    case 2: return "Because \"Sleep\" is chosen.";
    case 3: reason = "Because \"Hibernate\" is chosen.", state = kSleepStateHibernate; break;
    case 4: reason = "Because \"Sleep and hibernate\" is chosen.", state = kSleepStateSleepAndHibernate; break;
    default: return "Because the system's own setting is chosen.";
  }
  const auto ability = extraAbility(state, f.capabilities);
  if (ability && !ability->possible() && f.capabilities.suspend.possible())
    reason += " " + cannot(state, f.capabilities, *ability) + ", so it sleeps.";
  return reason;
}

std::optional<std::string> unavailableModeReason(std::int64_t mode, const SleepStatusFacts& f) {
  if (!f.capabilities.canSleep() && mode != 0)
    return std::string("This machine can't sleep: ") + powertool::describe(f.capabilities.suspend.blocker);
  if (mode == 1 && !f.hasBattery) return std::string("Needs a battery; this machine has none");
  if (mode == 2 && !f.capabilities.suspend.possible())
    return std::string("This machine can't sleep: ") + powertool::describe(f.capabilities.suspend.blocker);
  const std::int64_t state = policy::fixedSleepStateForMode(mode).value_or(kSleepStateSleep);
  const auto ability = extraAbility(state, f.capabilities);
  if (ability && !ability->possible()) return cannot(state, f.capabilities, *ability);
  return std::nullopt;
}

}  // namespace somnara
