#pragma once

#include <optional>
#include <string>

#include "fileio/FileTree.h"

namespace somnara::pmset {

/// The machine files the power tool reads and writes, all below one root
/// directory ("/" on a real machine, a scratch directory in tests). Paths
/// are relative to the root.
class MachinePaths {
 public:
  /// Root from the value of SOMNARA_ROOT (null or empty means "/"). Returns
  /// nullopt and sets error when the value is not an absolute path.
  static std::optional<MachinePaths> fromEnvironment(const char* rootValue, std::string* error);

  explicit MachinePaths(std::string root);

  /// True when the root is the real machine's "/".
  bool isRealRoot() const { return root_ == "/"; }
  /// The root without trailing slashes ("/" for the real one).
  const std::string& root() const { return root_; }

  /// Below any root but the real one no symbolic link is followed: whoever
  /// owns that directory must not be able to point a write elsewhere.
  std::optional<fileio::FileTree> open(fileio::IoError* error) const;

  /// Active value: text "N\n".
  static constexpr const char* kActiveHibernateMode = "run/somnara/hibernatemode";
  /// Saved settings (XML property list).
  static constexpr const char* kSavedSettings = "etc/somnara/PowerManagement.plist";
  /// Drop-in for systemd-suspend.service kept across reboots.
  static constexpr const char* kPersistentDropIn =
      "etc/systemd/system/systemd-suspend.service.d/50-somnara.conf";
  /// Drop-in for systemd-suspend.service valid until reboot. systemd applies
  /// the drop-ins of /etc and /run together in file-name order, so this name
  /// sorts after the persistent one: its ExecStart= is the one that counts.
  static constexpr const char* kRuntimeDropIn =
      "run/systemd/system/systemd-suspend.service.d/60-somnara-runtime.conf";
  /// Drop-ins of earlier versions, both named "somnara.conf". Removed when
  /// the current ones are written: that name sorts after both of them.
  static constexpr const char* kLegacyPersistentDropIn = "etc/systemd/system/systemd-suspend.service.d/somnara.conf";
  static constexpr const char* kLegacyRuntimeDropIn = "run/systemd/system/systemd-suspend.service.d/somnara.conf";
  /// Requests made on a non-real root instead of running systemctl, one line
  /// each: "sleepnow <unixtime>" and "daemon-reload <unixtime>".
  static constexpr const char* kSleepRequests = "run/somnara/sleep-requests";
  static constexpr const char* kSystemdReloads = "run/somnara/systemd-reloads";
  /// Is a directory when systemd is the running init system.
  static constexpr const char* kSystemdRunDirectory = "run/systemd/system";

 private:
  std::string root_;
};

}  // namespace somnara::pmset
