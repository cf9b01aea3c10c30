#pragma once

#include <optional>
#include <string>

namespace somnara::powertool {

/// Where the hibernate mode takes effect on a systemd machine, relative to
/// the machine root: drop-ins for systemd-suspend.service. systemd applies
/// the drop-ins of /etc and /run together in file-name order, so the
/// runtime one (valid until reboot) sorts after the persistent one (kept
/// across reboots): its ExecStart= is the one that counts.
inline constexpr const char* kPersistentDropIn = "etc/systemd/system/systemd-suspend.service.d/50-somnara.conf";
inline constexpr const char* kRuntimeDropIn = "run/systemd/system/systemd-suspend.service.d/60-somnara-runtime.conf";
/// Drop-ins of earlier versions, both named "somnara.conf", which sorts
/// after both current names. Removed when the current ones are written.
inline constexpr const char* kLegacyPersistentDropIn = "etc/systemd/system/systemd-suspend.service.d/somnara.conf";
inline constexpr const char* kLegacyRuntimeDropIn = "run/systemd/system/systemd-suspend.service.d/somnara.conf";
/// A directory only where systemd is the running init system.
inline constexpr const char* kSystemdRunDirectory = "run/systemd/system";

/// The systemd-sleep verb a hibernate mode maps to: 0 → "suspend",
/// 3 → "hybrid-sleep", 1 and 25 → "hibernate"; null for other modes.
const char* sleepVerbForMode(int mode);

/// Drop-in for systemd-suspend.service that makes a suspend request do what
/// mode asks for. Where hibernation is involved, a hibernation that cannot
/// start falls back to plain suspend, so a machine that has lost the means
/// to hibernate (swap gone, lockdown) still sleeps. Empty for modes without
/// a verb.
std::string dropInForMode(int mode);

/// The verb a drop-in in the current form makes suspend requests do; null
/// for anything else.
const char* sleepVerbOfDropIn(const std::string& content);

/// What the runtime drop-ins (nullopt: file absent) make suspend requests
/// do when that is not what the active hibernate mode asks for, as a phrase
/// ("suspend requests hibernate"); nullopt where they agree.
std::optional<std::string> dropInDisagreement(int activeMode, const std::optional<std::string>& runtimeDropIn,
                                              bool legacyRuntimeDropInExists);

/// The mode whose drop-in an earlier version wrote as content (hibernation
/// without the fallback to suspend); nullopt when content is not one.
std::optional<int> modeOfStaleDropIn(const std::string& content);

}  // namespace somnara::powertool
