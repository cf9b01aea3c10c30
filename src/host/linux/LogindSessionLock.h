#pragma once

#include <QDBusConnection>
#include <QString>

#include <optional>
#include <string>

#include "host/SessionLock.h"
#include "host/linux/LogindClient.h"
#include "host/linux/SessionScreenSaver.h"

namespace somnara::linuxhost {

/// The session's lock from logind: the LockedHint property of this
/// program's session (the one sessionId names, else the one of process pid)
/// and its PropertiesChanged signal. Where logind names no such session, the
/// session screen saver's GetActive and ActiveChanged signal stand in.
/// Nothing is sent before the first call; the session is looked up again on
/// each call until one is found.
class LogindSessionLock : public host::SessionLock {
 public:
  LogindSessionLock(LogindClient& logind, QDBusConnection sessionBus, std::string sessionId, unsigned pid);

  std::optional<bool> locked() const override;
  host::RegistrationPtr observeLocked(std::function<void(bool locked)> onChange) override;

 private:
  std::optional<QString> sessionPath() const;

  LogindClient& logind_;
  SessionScreenSaver screenSaver_;
  std::string sessionId_;
  unsigned pid_;
  mutable std::optional<QString> sessionPath_;
};

}  // namespace somnara::linuxhost
