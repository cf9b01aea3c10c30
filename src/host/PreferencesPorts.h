#pragma once

#include "host/Applications.h"
#include "host/Desktop.h"
#include "host/Inhibitors.h"
#include "host/LoginItems.h"
#include "host/Sounds.h"
#include "host/StatusArea.h"
#include "host/Updater.h"

namespace somnara::host {

/// The ports only the preferences application uses, beside its HostContext:
/// the bundles it carries, the session's login items, the desktop, sounds
/// (to try the Insomnia sound), the session's status area (where the agent's
/// icon can show), the machine's inhibitor locks and the updater (null where none is installed). They
/// outlive the program's objects.
struct PreferencesPorts {
  Applications& applications;
  LoginItems& loginItems;
  Desktop& desktop;
  Sounds& sounds;
  StatusArea& statusArea;
  Inhibitors& inhibitors;
  Updater* updater;
};

}  // namespace somnara::host
