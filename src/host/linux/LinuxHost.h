#pragma once

#include <memory>

#include "host/ApplicationDelegate.h"
#include "host/HostContext.h"
#include "host/linux/BundleWorkspace.h"
#include "host/linux/CrashRecorder.h"
#include "host/linux/DBusNotificationCenter.h"
#include "host/linux/InotifyFileWatch.h"
#include "host/linux/LinuxPlatform.h"
#include "host/linux/LinuxPowerManager.h"
#include "host/linux/LogindClient.h"
#include "host/linux/MachineRoot.h"
#include "host/linux/PkexecAuthorization.h"
#include "host/linux/PlistFileDefaults.h"
#include "host/linux/QtProcesses.h"
#include "host/linux/QtRunLoop.h"
#include "host/linux/SysfsPowerSources.h"
#include "host/linux/SyslogLogger.h"
#include "host/linux/TerminationSignals.h"

namespace somnara::linuxhost {

/// One program's real host: every port on the Qt event loop of the running
/// QCoreApplication (or QApplication), which must exist before this does.
///
///   int main(int argc, char** argv) {
///     QCoreApplication app(argc, argv);
///     somnara::linuxhost::LinuxHost host;
///     ... build the program on host.context() ...
///     return host.exec();
///   }
///
/// SIGTERM and SIGINT run the WillTerminate observers and then quit the
/// event loop, so exec() returns 0 and the program ends normally. Quitting
/// the application any other way also runs the WillTerminate observers, once.
/// The settings domain is the main bundle's identifier, or the executable's
/// name outside a bundle; so is the name of the crash record a fatal signal
/// leaves for the next run (see CrashRecorder) and of the log file (see LogFile).
class LinuxHost {
 public:
  LinuxHost();
  ~LinuxHost();
  LinuxHost(const LinuxHost&) = delete;
  LinuxHost& operator=(const LinuxHost&) = delete;

  host::HostContext& context() { return *context_; }

  /// Runs the event loop until the application quits; its exit code.
  int exec();

  /// Runs a program: awakeFromNib now, applicationDidFinishLaunching from
  /// the loop once it runs, then the loop until the application quits.
  int run(host::ApplicationDelegate& delegate);

  QtRunLoop& loop() { return loop_; }
  BundleWorkspace& workspace() { return *workspace_; }
  LogindClient& logind() { return logind_; }

  MachineRoot& root() { return root_; }
  SyslogLogger& logger() { return logger_; }

  /// The application's name, or "somnara" where it has none: the program
  /// as logs, locks and notices name it.
  static std::string programName();
  /// The program's logind session as the session manager named it
  /// (XDG_SESSION_ID); empty when unnamed.
  static std::string sessionId();

 private:
  void willTerminate();

  SyslogLogger logger_;
  QtRunLoop loop_;
  MachineRoot root_;
  LogindClient logind_;
  SysfsPowerSources powerSources_;
  LinuxPowerManager powerManager_;
  std::unique_ptr<BundleWorkspace> workspace_;
  std::unique_ptr<PlistFileDefaults> defaults_;
  std::unique_ptr<DBusNotificationCenter> notifications_;
  QtProcesses processes_;
  PkexecAuthorization authorization_;
  InotifyFileWatch fileWatch_;
  std::unique_ptr<LinuxPlatform> platform_;
  std::unique_ptr<CrashRecorder> crashRecorder_;
  std::unique_ptr<host::HostContext> context_;
  std::unique_ptr<TerminationSignals> signals_;
  bool terminationAnnounced_ = false;
  QMetaObject::Connection aboutToQuit_;
};

}  // namespace somnara::linuxhost
