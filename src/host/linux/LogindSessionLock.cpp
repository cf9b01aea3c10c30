#include "host/linux/LogindSessionLock.h"

#include <QStringList>
#include <QVariantMap>

namespace somnara::linuxhost {
namespace {

const QString kLockedHint = QStringLiteral("LockedHint");

}  // namespace

LogindSessionLock::LogindSessionLock(LogindClient& logind, QDBusConnection sessionBus, std::string sessionId,
                                     unsigned pid)
    : logind_(logind), screenSaver_(std::move(sessionBus)), sessionId_(std::move(sessionId)), pid_(pid) {}

std::optional<QString> LogindSessionLock::sessionPath() const {
  if (!sessionPath_ && logind_.busConnected()) sessionPath_ = logind_.sessionPath(sessionId_, pid_);
  return sessionPath_;
}

std::optional<bool> LogindSessionLock::locked() const {
  if (const auto path = sessionPath()) return logind_.sessionLockedHint(*path);
  return screenSaver_.active();
}

host::RegistrationPtr LogindSessionLock::observeLocked(std::function<void(bool)> onChange) {
  const auto path = sessionPath();
  if (!path) return screenSaver_.watchActiveChanged(std::move(onChange));
  return logind_.watchSessionProperties(
      *path, [this, path = *path, onChange = std::move(onChange)](const QVariantMap& changed,
                                                                   const QStringList& invalidated) {
        if (const auto it = changed.find(kLockedHint); it != changed.end())
          onChange(it->toBool());
        else if (invalidated.contains(kLockedHint))
          if (const auto hint = logind_.sessionLockedHint(path)) onChange(*hint);
      });
}

}  // namespace somnara::linuxhost
