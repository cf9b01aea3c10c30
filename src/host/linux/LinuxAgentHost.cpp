#include "host/linux/LinuxAgentHost.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>

#include "host/linux/CanberraSounds.h"
#include "host/linux/DBusInsomniaService.h"
#include "host/linux/FreedesktopNotices.h"
#include "host/linux/LinuxClamshell.h"
#include "host/linux/LinuxDisplays.h"
#include "host/linux/LinuxInhibitors.h"
#include "host/linux/LinuxTrayHosts.h"
#include "host/linux/LogindInsomniaDriver.h"
#include "host/linux/LogindSessionLock.h"
#include "host/linux/LogindSystemPower.h"

namespace somnara::linuxhost {

struct LinuxAgentHost::Backends {
  Backends(LinuxHost& host, const std::string& who)
      : systemPower(host.logind(), QDBusConnection::sessionBus(), host.loop(), host.logger(), who),
        insomniaDriver(host.logind(), who),
        clamshell(QDBusConnection::systemBus(), host.logind(), host.root(), host.loop()),
        displays(QDBusConnection::sessionBus(), host.root()),
        sounds(host.workspace()),
        notices(QDBusConnection::sessionBus(), who),
        trayHosts(QDBusConnection::sessionBus()),
        inhibitors(host.logind(), QDBusConnection::sessionBus(), static_cast<unsigned>(::getpid())),
        insomniaService(QDBusConnection::sessionBus()),
        sessionLock(host.logind(), QDBusConnection::sessionBus(), LinuxHost::sessionId(), static_cast<unsigned>(::getpid())),
        ports{systemPower, insomniaDriver, clamshell, displays, sounds,      notices,
              trayHosts,   inhibitors,     insomniaService, sessionLock} {}

  LogindSystemPower systemPower;
  LogindInsomniaDriver insomniaDriver;
  LinuxClamshell clamshell;
  LinuxDisplays displays;
  CanberraSounds sounds;
  FreedesktopNotices notices;
  LinuxTrayHosts trayHosts;
  LinuxInhibitors inhibitors;
  DBusInsomniaService insomniaService;
  LogindSessionLock sessionLock;
  host::AgentPorts ports;
};

LinuxAgentHost::LinuxAgentHost(LinuxHost& host)
    : backends_(std::make_unique<Backends>(host, LinuxHost::programName())) {}

LinuxAgentHost::~LinuxAgentHost() = default;

host::AgentPorts& LinuxAgentHost::ports() { return backends_->ports; }

}  // namespace somnara::linuxhost
