#pragma once

#include <optional>
#include <string>

#include "fileio/FileTree.h"
#include "powertool/SleepDropIn.h"

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
  /// The suspend drop-ins and systemd's run directory (powertool/SleepDropIn.h).
  static constexpr const char* kPersistentDropIn = powertool::kPersistentDropIn;
  static constexpr const char* kRuntimeDropIn = powertool::kRuntimeDropIn;
  static constexpr const char* kLegacyPersistentDropIn = powertool::kLegacyPersistentDropIn;
  static constexpr const char* kLegacyRuntimeDropIn = powertool::kLegacyRuntimeDropIn;
  /// Held by the one run changing the settings; keeps the change budget.
  static constexpr const char* kChangeLock = "run/somnara/changes";
  /// Requests made on a non-real root instead of running systemctl, one line
  /// each: "sleepnow <unixtime>" and "daemon-reload <unixtime>".
  static constexpr const char* kSleepRequests = "run/somnara/sleep-requests";
  static constexpr const char* kSystemdReloads = "run/somnara/systemd-reloads";
  static constexpr const char* kSystemdRunDirectory = powertool::kSystemdRunDirectory;

 private:
  std::string root_;
};

}  // namespace somnara::pmset
