#pragma once

#include <cstdint>
#include <string>

#include "host/HostContext.h"

// Readings of the power sources and the power manager. Every call asks the
// machine afresh; -1 means "not available". Diagnostics go to the standard
// error stream, one line each.
namespace somnara::hibernation {

inline constexpr const char* kCurrentCapacityKey = "Current Capacity";
inline constexpr const char* kTimeToEmptyKey = "Time to Empty";
inline constexpr const char* kHibernateModeKey = "Hibernate Mode";

/// Value of key in the first power source that has a description; -1 when
/// there is none, the key is missing or not a 32-bit integer number.
std::int32_t hibernation_currentstate(const host::HostContext& context, const std::string& key);

/// 1 when the first power source reports a charge of 0 to 100 percent, else 0.
int hibernation_machinehasbattery(const host::HostContext& context);

/// Battery charge in percent, -1 when not available.
std::int32_t hibernation_currentchargestate(const host::HostContext& context);

/// Running time left on battery in minutes, -1 when not available.
std::int32_t hibernation_currenttimeleft(const host::HostContext& context);

/// The power manager's current hibernate mode, -1 when not available.
std::int32_t hibernation_currenthibernationstate(const host::HostContext& context);

}  // namespace somnara::hibernation
