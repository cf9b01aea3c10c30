#pragma once

#include <cstdint>
#include <optional>

#include "powertool/SleepCapabilities.h"

namespace somnara::policy {

/// The battery level the adaptive mode compares: the smaller of charge
/// (percent) and time left (minutes), unless that one is 0 or below, in
/// which case the other one; the one that is known when the other is not;
/// nullopt when neither is.
std::optional<std::int64_t> batteryLevel(std::optional<std::int32_t> charge, std::optional<std::int32_t> timeLeft);

/// Sleep state of the adaptive mode for a battery level: hibernate at or
/// below the critical level and without a level, sleep above
/// hibernateLevel, else sleep and hibernate.
std::int64_t adaptiveSleepState(std::optional<std::int64_t> level, std::int64_t hibernateLevel);

/// Sleep state for a stored sleep mode index; nullopt for the adaptive
/// mode (1), whose state comes from the battery. Unknown modes give the
/// system default.
std::optional<std::int64_t> fixedSleepStateForMode(std::int64_t sleepmode);

/// The hibernatemode value that stands for a sleep state; nullopt for the
/// system default and any other value, which are read from the machine.
/// newerSystem selects 25 instead of 1 for hibernate.
std::optional<std::int64_t> hibernateModeForSleepState(std::int64_t state, bool newerSystem);

/// The hibernatemode value to write where the machine can do only some
/// kinds of sleep: a mode that needs hibernation (1, 25) or hybrid sleep (3)
/// the machine cannot do becomes plain suspend (0) where suspend works, so
/// that a sleep never fails. Every other mode is returned as it is.
std::int64_t closestHibernateMode(std::int64_t mode, const powertool::SleepCapabilities& caps);

}  // namespace somnara::policy
