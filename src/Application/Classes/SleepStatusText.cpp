#include "Application/Classes/SleepStatusText.h"

#include "core/Constants.h"
#include "core/SleepPolicy.h"

namespace somnara {

std::string sleepStatusReason(std::int64_t mode, std::int32_t charge, std::int32_t timeLeft,
                              std::int64_t hibernateLevel) {
  switch (mode) {
    case 2: return "Because \"Sleep\" is chosen.";
    case 3: return "Because \"Hibernate\" is chosen.";
    case 4: return "Because \"Sleep and hibernate\" is chosen.";
    case 1: break;
    default: return "Because the system's own setting is chosen.";
  }
  std::string reading = charge >= 0 ? "battery at " + std::to_string(charge) + " %" : "no charge reading";
  if (timeLeft > 0) reading += ", " + std::to_string(timeLeft) + " min left";
  const std::int64_t level = policy::batteryLevel(charge, timeLeft);
  const std::string head = "Adaptive: " + reading + ", level " + std::to_string(level);
  switch (policy::adaptiveSleepState(level, hibernateLevel)) {
    case kSleepStateSleep: return head + " is above the hibernate level " + std::to_string(hibernateLevel) + ".";
    case kSleepStateSleepAndHibernate:
      return head + " is at or below the hibernate level " + std::to_string(hibernateLevel) + ".";
    default: return head + ": the battery is nearly empty.";
  }
}

}  // namespace somnara
