#pragma once

#include <string>

#include "host/InsomniaDriver.h"
#include "host/linux/LogindClient.h"

namespace somnara::linuxhost {

/// The lid-closed service is logind itself: kStart takes a
/// "handle-lid-switch" block inhibitor, so logind leaves a closing lid alone
/// and the machine stays awake; kStop (or closing the connection, or the
/// process ending) releases it.
///   matchingServices()  nullopt when the system bus is not connected; 1 when
///                       logind is on it, 0 otherwise
///   open()              a connection only where logind grants the inhibitor
///                       now (it is taken and dropped at once to find out);
///                       polkit's org.freedesktop.login1.inhibit-handle-lid-switch
///                       decides, without asking the user
///   callMethod(kStart)  true exactly when logind granted the inhibitor
///   callMethod(kStop)   releases it; true while logind is there
///   failureReason()     logind's error for the latest refused inhibitor
/// Any other selector fails. Nothing is contacted before the first call.
class LogindInsomniaDriver final : public host::InsomniaDriver {
 public:
  /// who: the program's name as inhibitor lists show it.
  LogindInsomniaDriver(LogindClient& logind, std::string who);

  std::optional<std::size_t> matchingServices() override;
  std::unique_ptr<Connection> open(std::size_t index) override;
  std::string failureReason() const override { return failure_; }

 private:
  class LogindConnection;

  std::unique_ptr<LogindInhibitor> takeLidSwitch();

  LogindClient& logind_;
  std::string who_;
  std::string failure_;
};

}  // namespace somnara::linuxhost
