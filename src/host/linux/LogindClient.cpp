#include "host/linux/LogindClient.h"

#include <fcntl.h>

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>

namespace somnara::linuxhost {
namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");

}  // namespace

LogindClient::LogindClient(QDBusConnection systemBus) : logind_(std::move(systemBus), kLogind) {}

std::unique_ptr<LogindInhibitor> LogindClient::inhibit(const std::string& what, const std::string& who,
                                                       const std::string& why, const std::string& mode,
                                                       std::string* error) {
  auto reply = logind_.call(kManagerPath, kManager, QStringLiteral("Inhibit"),
                            {QString::fromStdString(what), QString::fromStdString(who), QString::fromStdString(why),
                             QString::fromStdString(mode)},
                            error);
  if (!reply) return nullptr;
  const auto fd = reply->arguments().value(0).value<QDBusUnixFileDescriptor>();
  if (!fd.isValid()) {
    if (error) *error = "logind returned no inhibitor descriptor";
    return nullptr;
  }
  // The message's descriptor closes with the message; keep our own, above stdio.
  const int own = ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
  if (own < 0) {
    if (error) *error = "cannot keep the inhibitor descriptor";
    return nullptr;
  }
  return std::make_unique<LogindInhibitor>(own, what, mode);
}

std::optional<std::vector<host::Inhibitor>> LogindClient::listInhibitors() const {
  auto reply = logind_.call(kManagerPath, kManager, QStringLiteral("ListInhibitors"));
  if (!reply || reply->arguments().isEmpty() || reply->signature() != QLatin1String("a(ssssuu)")) return std::nullopt;
  const auto list = reply->arguments().first().value<QDBusArgument>();
  std::vector<host::Inhibitor> inhibitors;
  list.beginArray();
  while (!list.atEnd()) {
    QString what, who, why, mode;
    uint uid = 0, pid = 0;
    list.beginStructure();
    list >> what >> who >> why >> mode >> uid >> pid;
    list.endStructure();
    host::Inhibitor& inhibitor = inhibitors.emplace_back();
    inhibitor.who = who.toStdString();
    inhibitor.why = why.toStdString();
    inhibitor.what = what.toStdString();
    inhibitor.mode = mode.toStdString();
    inhibitor.pid = pid;
    inhibitor.uid = uid;
  }
  list.endArray();
  return inhibitors;
}

std::optional<std::string> LogindClient::canSleep(const char* method) const {
  auto reply = logind_.call(kManagerPath, kManager, QString::fromLatin1(method));
  if (!reply) return std::nullopt;
  const QVariant answer = reply->arguments().value(0);
  if (answer.userType() != QMetaType::QString) return std::nullopt;
  return answer.toString().toStdString();
}

std::optional<bool> LogindClient::lidClosed() const {
  auto v = logind_.property(kManagerPath, kManager, QStringLiteral("LidClosed"));
  if (!v || v->userType() != QMetaType::Bool) return std::nullopt;
  return v->toBool();
}

std::optional<QString> LogindClient::sessionPath(const std::string& sessionId, unsigned pid, std::string* error) const {
  auto reply = sessionId.empty()
                   ? logind_.call(kManagerPath, kManager, QStringLiteral("GetSessionByPID"), {QVariant::fromValue(pid)},
                                  error)
                   : logind_.call(kManagerPath, kManager, QStringLiteral("GetSession"),
                                  {QString::fromStdString(sessionId)}, error);
  if (!reply) return std::nullopt;
  const QString path = reply->arguments().value(0).value<QDBusObjectPath>().path();
  if (path.isEmpty()) {
    if (error) *error = "logind named no session";
    return std::nullopt;
  }
  return path;
}

std::optional<bool> LogindClient::sessionActive(const QString& sessionPath) const {
  auto v = logind_.property(sessionPath, kSession, QStringLiteral("Active"));
  if (!v) return std::nullopt;
  return v->toBool();
}

std::optional<bool> LogindClient::sessionLockedHint(const QString& sessionPath) const {
  auto v = logind_.property(sessionPath, kSession, QStringLiteral("LockedHint"));
  if (!v || v->userType() != QMetaType::Bool) return std::nullopt;
  return v->toBool();
}

host::RegistrationPtr LogindClient::watchPrepareForSleep(std::function<void(bool)> onSignal) {
  return logind_.watch(kManagerPath, kManager, QStringLiteral("PrepareForSleep"), {},
                       [fn = std::move(onSignal)](const QDBusMessage& m) {
                         if (!m.arguments().isEmpty()) fn(m.arguments().first().toBool());
                       });
}

host::RegistrationPtr LogindClient::watchManagerProperties(
    std::function<void(const QVariantMap&, const QStringList&)> onChange) {
  return logind_.watchProperties(kManagerPath, kManager, std::move(onChange));
}

host::RegistrationPtr LogindClient::watchSessionProperties(
    const QString& sessionPath, std::function<void(const QVariantMap&, const QStringList&)> onChange) {
  return logind_.watchProperties(sessionPath, kSession, std::move(onChange));
}

}  // namespace somnara::linuxhost
