#pragma once

#include <QDBusConnection>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Inhibitors.h"
#include "host/Registration.h"
#include "host/linux/BusPeer.h"
#include "host/linux/LogindInhibitor.h"

namespace somnara::linuxhost {

/// systemd-logind (org.freedesktop.login1) on the system bus: the one client
/// a program has, shared by sleep and wake, the session's state, the
/// inhibitor locks and the lid. Nothing is sent before the first call; calls
/// wait at most two seconds. All calls and callbacks on the run loop's thread.
class LogindClient {
 public:
  explicit LogindClient(QDBusConnection systemBus);

  bool busConnected() const { return logind_.busConnected(); }

  /// logind holds its name on the system bus now.
  bool reachable() const { return logind_.present(); }

  /// Takes an inhibitor lock: what is a colon-separated list of "sleep",
  /// "idle", "handle-lid-switch", …; mode "block" or "delay". Null when logind
  /// refuses it (polkit, limits) or cannot be reached, with the reason in
  /// *error when given.
  std::unique_ptr<LogindInhibitor> inhibit(const std::string& what, const std::string& who, const std::string& why,
                                           const std::string& mode, std::string* error = nullptr);

  /// The manager's ListInhibitors, a(ssssuu): what, who, why, mode, uid,
  /// pid of every lock held, in logind's order, with Source::Logind and
  /// isOwn unset; nullopt when logind cannot be asked.
  std::optional<std::vector<host::Inhibitor>> listInhibitors() const;

  /// The manager's answer to CanSuspend, CanHibernate or CanHybridSleep
  /// (method): "yes", "no", "challenge" or "na"; nullopt when logind cannot
  /// be asked.
  std::optional<std::string> canSleep(const char* method) const;

  /// The manager's LidClosed (false also on machines without a lid switch);
  /// nullopt when it cannot be read.
  std::optional<bool> lidClosed() const;

  /// Object path of the session with id sessionId, or of the session of
  /// process pid when sessionId is empty; nullopt with the reason in *error.
  std::optional<QString> sessionPath(const std::string& sessionId, unsigned pid, std::string* error = nullptr) const;

  /// The session's Active property; nullopt when it cannot be read.
  std::optional<bool> sessionActive(const QString& sessionPath) const;

  /// The session's LockedHint property (true while its screen is locked);
  /// nullopt when it cannot be read.
  std::optional<bool> sessionLockedHint(const QString& sessionPath) const;

  /// Manager.PrepareForSleep(start): true before the machine sleeps, false
  /// after it woke. Null when the bus refuses the watch.
  host::RegistrationPtr watchPrepareForSleep(std::function<void(bool start)> onSignal);

  /// Property changes of the manager (LidClosed, …) and of a session (Active, …).
  host::RegistrationPtr watchManagerProperties(std::function<void(const QVariantMap&, const QStringList&)> onChange);
  host::RegistrationPtr watchSessionProperties(const QString& sessionPath,
                                               std::function<void(const QVariantMap&, const QStringList&)> onChange);

 private:
  BusPeer logind_;
};

}  // namespace somnara::linuxhost
