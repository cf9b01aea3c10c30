#pragma once

#include <string>

#include "host/Processes.h"

namespace somnara::linuxhost {

/// Tools run with QProcess; other programs found through /proc.
class QtProcesses final : public host::Processes {
 public:
  /// procDir: where process entries live (normally "/proc").
  explicit QtProcesses(std::string procDir = "/proc");

  /// Runs a nested event loop until the tool exits, so timers and bus
  /// messages keep being served meanwhile. The tool shares our stdout/stderr
  /// and reads from /dev/null.
  std::optional<int> run(const std::string& path, const std::vector<std::string>& args) override;

  int currentPid() const override;
  unsigned effectiveUid() const override;

  /// Scans procDir/<pid>/exe of this user's processes (same effective uid);
  /// see BundleLocator for what makes a bundle. Processes we may not inspect
  /// are skipped. Ascending pids.
  std::vector<int> runningApplications(const std::string& bundleId) const override;

  /// From procDir/<pid>/exe, as runningApplications sees it.
  std::optional<std::string> bundlePathOfApplication(int pid) const override;
  bool isAlive(int pid) const override;
  bool terminate(int pid) override;
  /// SIGKILL through a pidfd when the kernel offers one (no pid-reuse race
  /// between lookup and signal), else kill(2); waits up to a second for the
  /// process to go.
  bool forceTerminate(int pid) override;
  void kill(int pid) override;
  /// Flushes stdio, then _exit(2): no exit handlers, no destructors.
  [[noreturn]] void exitImmediately(int status) override;

 private:
  /// The bundle of the executable behind <dir>/exe.
  static std::optional<std::string> bundleOfProcessDirectory(const std::string& dir);
  std::string procDir_;
};

}  // namespace somnara::linuxhost
