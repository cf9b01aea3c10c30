#pragma once

#include "host/PowerManager.h"
#include "host/linux/LogindClient.h"
#include "host/linux/MachineRoot.h"

namespace somnara::linuxhost {

/// The power manager as files under the machine root:
///   sys/power/state                     sleep states the kernel offers
///   sys/power/disk, sys/kernel/security/lockdown, proc/swaps, proc/meminfo
///                                       whether hibernation can work
///   run/somnara/hibernatemode           active "Hibernate Mode" (an integer)
///   run/systemd/system/…/60-somnara-runtime.conf
///                                       what suspend requests do
///   etc/somnara/PowerManagement.plist   saved settings
class LinuxPowerManager final : public host::PowerManager {
 public:
  /// logind, when given, outlives this object.
  LinuxPowerManager(MachineRoot root, const LogindClient* logind);

  /// The kernel offers "mem" or "disk" in sys/power/state.
  bool sleepEnabled() const override;

  /// logind's CanSuspend, CanHibernate and CanHybridSleep where logind
  /// answers ("yes", "challenge" and "no" all mean the machine can: "no"
  /// only refuses the caller), else the kernel files. Where logind says
  /// "na", the reason is the one the kernel files show, or "refused by the
  /// system" when they show none.
  powertool::SleepCapabilities sleepCapabilities() const override;

  /// "Hibernate Mode": the integer in run/somnara/hibernatemode; the trimmed
  /// text as a string when it is not an integer, or, on a systemd machine,
  /// when the suspend drop-in does not make suspend requests do that mode
  /// ("25, out of step: …": the mode is not in force, and is applied
  /// again); nullopt when the file is missing. Every other key: nullopt.
  std::optional<Value> rootDomainProperty(const std::string& key) const override;

  powertool::SavedPowerSettings savedSettings() const override;

 private:
  MachineRoot root_;
  const LogindClient* logind_;
};

}  // namespace somnara::linuxhost
