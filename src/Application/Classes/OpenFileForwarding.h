#pragma once

#include <functional>
#include <string>

#include "host/HostContext.h"

namespace somnara {

/// Files opened with the preferences program while it already runs. Every
/// start of a program ends its older instances (the newest one wins); the
/// preferences program is the exception when it is started only to open a
/// file (the agent's preferences command starts it with the agent's bundle):
/// it hands the path to the running instance over the session's
/// notification centre and ends without taking over. So the running window
/// comes forward, and the running instance's controllers do not stop the
/// agent that asked for it.
class OpenFileForwarding {
 public:
  OpenFileForwarding() = delete;

  static constexpr const char* kNotificationName = "de.orvane.Somnara.OpenFile";

  /// The pid of another live instance of this program; -1 for none.
  static int runningInstance(host::HostContext& context);

  /// Posts path for the running instance; onSent runs once the
  /// notification has gone out (it comes back to its sender too), after
  /// which the caller may end. Keep the registration until then.
  static host::RegistrationPtr forward(host::HostContext& context, const std::string& path,
                                       std::function<void()> onSent);

  /// Calls onOpenFile with each path forwarded by a later start.
  static host::RegistrationPtr receive(host::HostContext& context,
                                       std::function<void(const std::string& path)> onOpenFile);
};

}  // namespace somnara
