#pragma once

#include <QDBusConnection>

#include <chrono>
#include <memory>
#include <string>

#include "host/Logger.h"
#include "host/RunLoop.h"
#include "host/SystemPower.h"
#include "host/linux/LogindClient.h"
#include "host/linux/SessionScreenSaver.h"
#include "host/linux/SessionSuspendInhibitor.h"

namespace somnara::linuxhost {

/// Keeping the machine awake through logind and the desktop session:
///   registration        possible while logind is on the system bus
///   idle-sleep veto     a logind "idle" block inhibitor, plus the desktop's
///                       automatic-suspend inhibitors (SessionSuspendInhibitor);
///                       never a "sleep" inhibitor, so a sleep the user asks
///                       for goes ahead, and no delay inhibitor, so a sleep
///                       never waits for this program
///   Overall activity    the session screen saver's SimulateUserActivity
///   Idle activity       the desktop's automatic-suspend inhibitors, held for
///                       idleHold after the last report (no session call
///                       postpones only the automatic suspend without also
///                       keeping the displays on)
/// Nothing is contacted before the first call.
class LogindSystemPower final : public host::SystemPower {
 public:
  /// who: the program's name as inhibitor lists show it.
  LogindSystemPower(LogindClient& logind, QDBusConnection sessionBus, host::RunLoop& loop, host::Logger& logger,
                    std::string who, std::chrono::milliseconds idleHold = std::chrono::seconds(60));
  ~LogindSystemPower() override;

  std::unique_ptr<Registration> registerForSystemPower() override;
  void reportActivity(Activity activity) override;

  /// Whether idle activity currently holds the session's inhibitors.
  bool holdsIdleActivity() const { return idleActivity_ != nullptr; }

 private:
  class LogindRegistration;

  LogindClient& logind_;
  QDBusConnection sessionBus_;
  host::RunLoop& loop_;
  host::Logger& logger_;
  std::string who_;
  std::chrono::milliseconds idleHold_;
  SessionScreenSaver screenSaver_;
  std::unique_ptr<SessionSuspendInhibitor> idleActivity_;
  host::RunLoop::TimerId idleActivityEnd_ = 0;
};

}  // namespace somnara::linuxhost
