#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace somnara::powertool {

/// Why the machine cannot do a kind of sleep. None: it can.
enum class SleepBlocker {
  None,
  /// The kernel does not offer the state (sys/power/state, sys/power/disk).
  NotOffered,
  /// Kernel lockdown (as Secure Boot turns on) forbids hibernation.
  Lockdown,
  /// No swap space to write memory to.
  NoSwap,
  /// The free swap space is smaller than the memory in use.
  SwapTooSmall,
  /// The system's sleep manager (logind) says no, for a reason not seen here.
  RefusedBySystem,
};

/// One kind of sleep: whether it works now, and why not.
struct SleepAbility {
  SleepBlocker blocker = SleepBlocker::NotOffered;

  bool possible() const { return blocker == SleepBlocker::None; }
  static SleepAbility yes() { return {SleepBlocker::None}; }
  bool operator==(const SleepAbility&) const = default;
};

/// Which kinds of sleep this machine can do now. Capabilities change with
/// swap and kernel settings, so a reading is only good for the moment.
struct SleepCapabilities {
  SleepAbility suspend;
  SleepAbility hibernate;
  SleepAbility hybridSleep;

  /// Some kind of sleep works.
  bool canSleep() const { return suspend.possible() || hibernate.possible(); }
  /// Every kind works (what a machine without a reading is taken to do).
  static SleepCapabilities all() { return {SleepAbility::yes(), SleepAbility::yes(), SleepAbility::yes()}; }
  bool operator==(const SleepCapabilities&) const = default;
};

/// The kind of sleep a hibernatemode value makes a suspend request do:
/// 3 hybrid sleep, 1 and 25 hibernation, any other value plain suspend.
SleepAbility abilityForHibernateMode(const SleepCapabilities& caps, long long mode);

/// Whether the kernel's list of sleep states (sys/power/state) offers
/// suspend to memory ("mem") or hibernation ("disk").
bool offersMemOrDiskSleep(std::string_view states);

/// Words for a user: "no swap space", "Secure Boot lockdown", …; empty for None.
const char* describe(SleepBlocker blocker);

/// "yes", or "no (<reason>)".
std::string describe(const SleepAbility& ability);

/// "suspend yes, hibernate no (no swap space), hybrid sleep no (no swap space)".
std::string describe(const SleepCapabilities& caps);

/// The contents of the kernel files that tell which kinds of sleep can
/// work; nullopt for a file that is missing or unreadable.
struct KernelSleepFiles {
  std::optional<std::string> state;     // sys/power/state: "freeze mem disk"
  std::optional<std::string> disk;      // sys/power/disk: "[platform] shutdown reboot suspend"
  std::optional<std::string> lockdown;  // sys/kernel/security/lockdown: "[none] integrity confidentiality"
  std::optional<std::string> swaps;     // proc/swaps (sizes in KiB)
  std::optional<std::string> meminfo;   // proc/meminfo (sizes in kB)
};

/// What the kernel files allow, judged as systemd-logind judges it:
/// suspend needs "mem" or "freeze"; hibernation needs "disk" in the state
/// file, a mode of "platform" or "shutdown" in the disk file (when it is
/// readable), no lockdown, and free swap of at least the anonymous memory
/// in use ("Active(anon)") with 2 % to spare; hybrid sleep needs hibernation
/// and the disk mode "suspend".
SleepCapabilities evaluateKernelSleepFiles(const KernelSleepFiles& files);

/// Where those files are, relative to the machine root.
inline constexpr const char* kSysPowerState = "sys/power/state";
inline constexpr const char* kSysPowerDisk = "sys/power/disk";
inline constexpr const char* kKernelLockdown = "sys/kernel/security/lockdown";
inline constexpr const char* kProcSwaps = "proc/swaps";
inline constexpr const char* kProcMeminfo = "proc/meminfo";

}  // namespace somnara::powertool
