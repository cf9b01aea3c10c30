#pragma once

#include <QDBusConnection>

#include "host/Inhibitors.h"
#include "host/linux/BusPeer.h"
#include "host/linux/LogindClient.h"

namespace somnara::linuxhost {

/// The machine's sleep and idle locks, from each service that runs:
///   logind          Manager.ListInhibitors, a(ssssuu) what, who, why,
///                   mode, uid, pid; the locks whose what names "sleep" or
///                   "idle"
///   GNOME session   org.gnome.SessionManager.GetInhibitors (ao), and on
///                   each org.gnome.SessionManager.Inhibitor object GetAppId,
///                   GetReason and GetFlags; the flags 4 (suspend) and 8
///                   (idle) count, the others (logout, user switch,
///                   automount) do not
///   power manager   org.freedesktop.PowerManagement.Inhibit.GetInhibitors,
///                   the application names (xfce4-power-manager offers it;
///                   it is not in the old freedesktop interface, and KDE's
///                   PowerDevil lacks it); no reason, no process
/// Somnara's own: the locks of this process (logind's pid) and those whose
/// holder gives a name of Somnara's programs (Inhibitor::isSomnaraName).
///
/// Changes: logind declares BlockInhibited and DelayInhibited with
/// SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE and sends them (PropertiesChanged on
/// org.freedesktop.login1.Manager) each time a lock starts or stops
/// (inhibitor_start/inhibitor_stop), whether or not the joined value
/// changed; gnome-session signals InhibitorAdded/InhibitorRemoved. Both are
/// watched only while a registration is held. Nothing is contacted before
/// the first call; each call waits at most two seconds per service.
class LinuxInhibitors final : public host::Inhibitors {
 public:
  LinuxInhibitors(LogindClient& logind, QDBusConnection sessionBus, unsigned ownPid);

  std::vector<host::Inhibitor> list() override;
  host::RegistrationPtr observeChanges(std::function<void()> onChange) override;

 private:
  void addGnomeSession(std::vector<host::Inhibitor>& out) const;
  void addPowerManagement(std::vector<host::Inhibitor>& out) const;

  LogindClient& logind_;
  BusPeer gnomeSession_;
  BusPeer powerManagement_;
  unsigned ownPid_;
};

}  // namespace somnara::linuxhost
