#pragma once

#include <memory>

#include "host/AgentPorts.h"
#include "host/linux/LinuxHost.h"

namespace somnara::linuxhost {

/// The tray agent's ports on a LinuxHost: LogindSystemPower,
/// LogindInsomniaDriver, LinuxClamshell, LinuxDisplays, CanberraSounds,
/// FreedesktopNotices, LinuxTrayHosts, LinuxInhibitors, DBusInsomniaService
/// and LogindSessionLock. None of them contacts anything before it is used.
/// They live in the desktop library with xcb and libcanberra, so a program
/// that does not make them (the daemon) does not link them. Made after the
/// host and destroyed before it, on the host's thread.
class LinuxAgentHost {
 public:
  explicit LinuxAgentHost(LinuxHost& host);
  ~LinuxAgentHost();
  LinuxAgentHost(const LinuxAgentHost&) = delete;
  LinuxAgentHost& operator=(const LinuxAgentHost&) = delete;

  host::AgentPorts& ports();

 private:
  struct Backends;
  std::unique_ptr<Backends> backends_;
};

}  // namespace somnara::linuxhost
