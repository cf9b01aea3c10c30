#pragma once

#include <optional>
#include <string>

namespace somnara::pmset {

/// The machine files the power tool reads and writes, all below one root
/// directory ("/" on a real machine, a scratch directory in tests).
class MachinePaths {
 public:
  /// Root from the value of SOMNARA_ROOT (null or empty means "/"). Returns
  /// nullopt and sets error when the value is not an absolute path.
  static std::optional<MachinePaths> fromEnvironment(const char* rootValue, std::string* error);

  explicit MachinePaths(std::string root);

  /// True when the root is the real machine's "/".
  bool isRealRoot() const { return prefix_.empty(); }
  const std::string& root() const { return root_; }

  /// Active value: text "N\n".
  std::string activeHibernateMode() const { return under("run/somnara/hibernatemode"); }
  /// Saved settings (XML property list).
  std::string savedSettings() const { return under("etc/somnara/PowerManagement.plist"); }
  /// Drop-in for systemd-suspend.service kept across reboots.
  std::string persistentDropIn() const {
    return under("etc/systemd/system/systemd-suspend.service.d/50-somnara.conf");
  }
  /// Drop-in for systemd-suspend.service valid until reboot. systemd applies
  /// the drop-ins of /etc and /run together in file-name order, so this name
  /// sorts after the persistent one: its ExecStart= is the one that counts.
  std::string runtimeDropIn() const {
    return under("run/systemd/system/systemd-suspend.service.d/60-somnara-runtime.conf");
  }
  /// Drop-ins of earlier versions, both named "somnara.conf". Removed when
  /// the current ones are written: that name sorts after both of them.
  std::string legacyPersistentDropIn() const {
    return under("etc/systemd/system/systemd-suspend.service.d/somnara.conf");
  }
  std::string legacyRuntimeDropIn() const {
    return under("run/systemd/system/systemd-suspend.service.d/somnara.conf");
  }
  /// Log of sleep requests made on a non-real root, one "sleepnow <unixtime>" a line.
  std::string sleepRequests() const { return under("run/somnara/sleep-requests"); }
  /// Is a directory when systemd is the running init system.
  std::string systemdRunDirectory() const { return under("run/systemd/system"); }

  /// relative (no leading slash) below the root.
  std::string under(const std::string& relative) const { return prefix_ + "/" + relative; }

 private:
  std::string root_;
  std::string prefix_;  // root without trailing slashes; empty for "/"
};

}  // namespace somnara::pmset
