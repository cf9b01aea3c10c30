#include "hibernation/hibernation.h"

#include <cmath>
#include <limits>
#include <optional>

namespace somnara::hibernation {
namespace {

enum class Conversion { Ok, NotNumber, Lossy };

// Narrows a property-list number to 32 bits; booleans are not numbers here.
Conversion toInt32(const Value& v, std::int32_t* out) {
  if (std::holds_alternative<bool>(v.storage()) || !v.isNumber()) return Conversion::NotNumber;
  if (auto d = std::get_if<double>(&v.storage())) {
    if (!std::isfinite(*d) || std::trunc(*d) != *d || *d < std::numeric_limits<std::int32_t>::min() ||
        *d > std::numeric_limits<std::int32_t>::max())
      return Conversion::Lossy;
    *out = static_cast<std::int32_t>(*d);
    return Conversion::Ok;
  }
  const std::int64_t i = *v.integer();
  if (i < std::numeric_limits<std::int32_t>::min() || i > std::numeric_limits<std::int32_t>::max())
    return Conversion::Lossy;
  *out = static_cast<std::int32_t>(i);
  return Conversion::Ok;
}

// The one place a typed reading becomes the description dictionary whose
// keys the queries below look up.
Dictionary description(const host::PowerSourceReading& reading) {
  return {{kCurrentCapacityKey, Value(reading.percent)},
          {kTimeToEmptyKey, Value(reading.minutesToEmpty)}};
}

}  // namespace

std::int32_t hibernation_currentstate(const host::HostContext& context, const std::string& key) {
  auto& diag = context.logger();
  const auto sources = context.powerSources().read().sources;
  if (!sources || sources->empty()) return -1;

  std::optional<Dictionary> found;
  for (const auto& source : *sources) {
    if (source) {
      found = description(*source);
      break;
    }
    diag.diagnostic("hibernation.currentstate() : did not get IOPSGetPowerSourceDescription()");
  }
  if (!found) return -1;

  const auto it = found->find(key);
  if (it == found->end() || !it->second.isNumber() ||
      std::holds_alternative<bool>(it->second.storage())) {
    diag.diagnostic("hibernation.currentstate() : did not get charge from IOPSGetPowerSourceDescription");
    return -1;
  }
  std::int32_t result = -1;
  if (toInt32(it->second, &result) != Conversion::Ok) {
    diag.diagnostic("hibernation.currentstate(): currentStatus: failure calling CFNumberGetValue");
    return -1;
  }
  return result;
}

int hibernation_machinehasbattery(const host::HostContext& context) {
  const auto charge = static_cast<std::uint32_t>(hibernation_currentstate(context, kCurrentCapacityKey));
  return charge < 101 ? 1 : 0;
}

std::int32_t hibernation_currentchargestate(const host::HostContext& context) {
  return hibernation_currentstate(context, kCurrentCapacityKey);
}

std::int32_t hibernation_currenttimeleft(const host::HostContext& context) {
  return hibernation_currentstate(context, kTimeToEmptyKey);
}

std::int32_t hibernation_currenthibernationstate(const host::HostContext& context) {
  auto& diag = context.logger();
  const auto& pm = context.powerManager();
  if (!pm.sleepEnabled()) {
    diag.diagnostic("hibernation.currenthibernationstate(): machine does not support sleep.");
    return -1;
  }
  const auto mode = pm.rootDomainProperty(kHibernateModeKey);
  if (!mode) {
    diag.diagnostic("hibernation.currenthibernationstate(): currentStatus: failure could not find hibernation key");
    return -1;
  }
  std::int32_t result = -1;
  switch (toInt32(*mode, &result)) {
    case Conversion::Ok:
      return result;
    case Conversion::NotNumber:
      diag.diagnostic(
          "hibernation.currenthibernationstate(): currentStatus: failure Property Hibernate Mode not Number type");
      return -1;
    case Conversion::Lossy:
      diag.diagnostic("hibernation.currenthibernationstate(): currentStatus: failure calling CFNumberGetValue");
      return -1;
  }
  return -1;
}

}  // namespace somnara::hibernation
