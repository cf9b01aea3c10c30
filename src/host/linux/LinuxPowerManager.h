#pragma once

#include "host/PowerManager.h"
#include "host/linux/MachineRoot.h"

namespace somnara::linuxhost {

/// The power manager as files under the machine root:
///   sys/power/state                     sleep states the kernel offers
///   run/somnara/hibernatemode           active "Hibernate Mode" (an integer)
///   etc/somnara/PowerManagement.plist   saved settings
class LinuxPowerManager final : public host::PowerManager {
 public:
  explicit LinuxPowerManager(MachineRoot root);

  /// The kernel offers "mem" or "disk" in sys/power/state.
  bool sleepEnabled() const override;

  /// "Hibernate Mode": the integer in run/somnara/hibernatemode; the trimmed
  /// text as a string when it is not an integer; nullopt when the file is
  /// missing. Every other key: nullopt.
  std::optional<Value> rootDomainProperty(const std::string& key) const override;

  powertool::SavedPowerSettings savedSettings() const override;

 private:
  MachineRoot root_;
};

}  // namespace somnara::linuxhost
