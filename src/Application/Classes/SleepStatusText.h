#pragma once

#include <cstdint>
#include <string>

namespace somnara {

/// Why the machine does on sleep what the status line says: a one-line
/// reason for the sleep mode index mode (as the controller normalises it).
/// In the adaptive mode: the battery charge (percent, -1 unknown), the
/// running time left (minutes, -1 or 0 unknown), the level they give and
/// how it compares with hibernateLevel.
std::string sleepStatusReason(std::int64_t mode, std::int32_t charge, std::int32_t timeLeft,
                              std::int64_t hibernateLevel);

}  // namespace somnara
