#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/AgentPorts.h"
#include "host/HostContext.h"
#include "host/sim/SimAuthorization.h"
#include "host/sim/SimClamshell.h"
#include "host/sim/SimDefaults.h"
#include "host/sim/SimDesktopNotices.h"
#include "host/sim/SimDisplays.h"
#include "host/sim/SimFileWatch.h"
#include "host/sim/SimInhibitors.h"
#include "host/sim/SimInsomniaDriver.h"
#include "host/sim/SimInsomniaService.h"
#include "host/sim/SimLogger.h"
#include "host/sim/SimNotificationCenter.h"
#include "host/sim/SimPlatform.h"
#include "host/sim/SimPowerManager.h"
#include "host/sim/SimPowerSources.h"
#include "host/sim/SimProcesses.h"
#include "host/sim/SimRunLoop.h"
#include "host/sim/SimSessionLock.h"
#include "host/sim/SimSounds.h"
#include "host/sim/SimSystemPower.h"
#include "host/sim/SimTrayHosts.h"
#include "host/sim/SimWorkspace.h"

namespace somnara::sim {

class SimMachine;

/// One program running on the simulated machine: its ports and its
/// HostContext. It runs from creation until it is terminated or killed;
/// an ended program's timers and deliveries never fire again.
class SimProgram {
 public:
  struct Options {
    std::string bundlePath;     // empty: "/Applications/<last part of the identifier>.app"
    unsigned effectiveUid = 1000;
  };

  SimProgram(SimMachine& machine, std::string bundleIdentifier, int pid, const Options& options);
  ~SimProgram();
  SimProgram(const SimProgram&) = delete;
  SimProgram& operator=(const SimProgram&) = delete;

  host::HostContext& context() { return *context_; }
  /// The desktop ports of a tray agent, over the machine's desktop state.
  host::AgentPorts agentPorts() {
    return {systemPower_, insomniaDriver_, clamshell_,   displays_,        sounds_,
            notices_,     trayHosts_,      inhibitors_, insomniaService_, sessionLock_};
  }

  const std::string& bundleIdentifier() const { return bundleIdentifier_; }
  int pid() const { return pid_; }
  unsigned effectiveUid() const { return effectiveUid_; }
  bool isRunning() const { return running_; }

  /// The platform ends the program normally: WillTerminate observers run
  /// now, then the program ends. Nothing happens when it already ended.
  void terminate();
  /// The program ends at once, without its observers.
  void end();
  /// The program ends itself at once with status, without its observers.
  void exitWithStatus(int status);
  /// The status the program ended itself with; nullopt while running or
  /// when it was ended from outside.
  std::optional<int> exitStatus() const { return exitStatus_; }
  /// A program that ignores polite termination requests from other programs.
  void setIgnoresTerminate(bool ignores) { ignoresTerminate_ = ignores; }
  bool ignoresTerminate() const { return ignoresTerminate_; }
  /// A program that forced termination cannot end (signal 9 still can).
  void setResistsForceTerminate(bool resists) { resistsForceTerminate_ = resists; }
  bool resistsForceTerminate() const { return resistsForceTerminate_; }

  /// The path of the program's own helper tool, and whether it is privileged.
  std::string helperPath() const { return workspace_.resourcePath("pmsethelper"); }
  void setHelperPrivileged(bool privileged);

  SimRunLoop& loop() { return loop_; }
  SimPowerSources& powerSources() { return powerSources_; }
  SimPowerManager& powerManager() { return powerManager_; }
  SimDefaults& defaults() { return defaults_; }
  SimNotificationCenter& notifications() { return notifications_; }
  SimProcesses& processes() { return processes_; }
  SimWorkspace& workspace() { return workspace_; }
  SimAuthorization& authorization() { return authorization_; }
  SimLogger& logger() { return logger_; }
  SimFileWatch& fileWatch() { return fileWatch_; }
  SimPlatform& platform() { return platform_; }

 private:
  SimMachine& machine_;
  std::string bundleIdentifier_;
  int pid_;
  unsigned effectiveUid_;
  bool running_ = true;
  std::optional<int> exitStatus_;
  bool ignoresTerminate_ = false;
  bool resistsForceTerminate_ = false;

  SimRunLoop loop_;
  SimPowerSources powerSources_;
  SimPowerManager powerManager_;
  SimDefaults defaults_;
  SimNotificationCenter notifications_;
  SimProcesses processes_;
  SimWorkspace workspace_;
  SimAuthorization authorization_;
  SimLogger logger_;
  SimFileWatch fileWatch_;
  SimPlatform platform_;
  SimSystemPower systemPower_;
  SimInsomniaDriver insomniaDriver_;
  SimClamshell clamshell_;
  SimDisplays displays_;
  SimSounds sounds_;
  SimDesktopNotices notices_;
  SimTrayHosts trayHosts_;
  SimInhibitors inhibitors_;
  SimInsomniaService insomniaService_;
  SimSessionLock sessionLock_;
  // Last, so that the program's singletons go before its ports.
  std::unique_ptr<host::HostContext> context_;
};

}  // namespace somnara::sim
