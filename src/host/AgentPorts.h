#pragma once

#include "host/Clamshell.h"
#include "host/DesktopNotices.h"
#include "host/Displays.h"
#include "host/Inhibitors.h"
#include "host/InsomniaDriver.h"
#include "host/InsomniaService.h"
#include "host/SessionLock.h"
#include "host/Sounds.h"
#include "host/SystemPower.h"
#include "host/TrayHosts.h"

namespace somnara::host {

/// The ports only the tray agent uses, beside its HostContext: keeping the
/// machine awake, the lid, the displays, sounds, notices to the user, the
/// desktop's status areas, the machine's inhibitor locks, Insomnia's offer
/// to the command line and the session's lock. They live at least as long
/// as the agent that uses them.
struct AgentPorts {
  SystemPower& systemPower;
  InsomniaDriver& insomniaDriver;
  Clamshell& clamshell;
  Displays& displays;
  Sounds& sounds;
  DesktopNotices& notices;
  TrayHosts& trayHosts;
  Inhibitors& inhibitors;
  InsomniaService& insomniaService;
  SessionLock& sessionLock;
};

}  // namespace somnara::host
