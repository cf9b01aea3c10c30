#pragma once

#include "host/PowerManager.h"
#include "host/linux/LogindClient.h"
#include "host/linux/MachineRoot.h"

namespace somnara::linuxhost {

/// The power manager as files under the machine root:
///   sys/power/state                     sleep states the kernel offers
///   sys/power/disk, sys/kernel/security/lockdown, proc/swaps, proc/meminfo
///                                       whether hibernation can work
///   run/somnara/hibernatemode           the active hibernate mode (an integer)
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

  /// The integer in run/somnara/hibernatemode. No mode when the file is
  /// missing (NotRecorded) or holds anything else (NotAnInteger), or, on a
  /// systemd machine, when the runtime suspend drop-in does not make suspend
  /// requests do that mode (OutOfStep: the mode is not in force, and the
  /// daemon applies it again).
  host::HibernateModeReading hibernateMode() const override;

  powertool::SavedPowerSettings savedSettings() const override;

 private:
  MachineRoot root_;
  const LogindClient* logind_;
};

}  // namespace somnara::linuxhost
