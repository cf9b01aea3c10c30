#pragma once

#include <cstdint>
#include <optional>

#include "host/HostContext.h"

// Readings of the power sources and the power manager. Every call asks the
// machine afresh; nullopt means "not available". Diagnostics go to the
// standard error stream, one line each.
namespace somnara::hibernation {

/// Every battery of the machine whose charge can be read, taken together;
/// nullopt when there is none. Each battery that cannot be read is named
/// on the diagnostic stream.
std::optional<host::BatteryReading> hibernation_currentstate(const host::HostContext& context);

/// Whether a battery reports its charge.
bool hibernation_machinehasbattery(const host::HostContext& context);

/// Battery charge in percent.
std::optional<std::int32_t> hibernation_currentchargestate(const host::HostContext& context);

/// Running time left on battery in minutes; nullopt also while no battery
/// is discharging.
std::optional<std::int32_t> hibernation_currenttimeleft(const host::HostContext& context);

/// The power manager's current hibernate mode; nullopt when sleep is not
/// enabled or no mode is in force.
std::optional<std::int32_t> hibernation_currenthibernationstate(const host::HostContext& context);

}  // namespace somnara::hibernation
