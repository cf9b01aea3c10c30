#include "host/linux/SessionSuspendInhibitor.h"

#include "host/linux/BusPeer.h"
#include "host/linux/SessionInhibitServices.h"

namespace somnara::linuxhost {
namespace {

std::optional<std::uint32_t> cookie(const BusPeer& peer, const QString& path, const QString& interface,
                                    const QList<QVariant>& args) {
  if (!peer.present()) return std::nullopt;
  auto reply = peer.call(path, interface, QStringLiteral("Inhibit"), args);
  if (!reply || reply->arguments().isEmpty()) return std::nullopt;
  return reply->arguments().first().toUInt();
}

}  // namespace

SessionSuspendInhibitor::SessionSuspendInhibitor(QDBusConnection sessionBus, const std::string& application,
                                                 const std::string& reason)
    : bus_(std::move(sessionBus)) {
  const QString app = QString::fromStdString(application), why = QString::fromStdString(reason);
  powerManagementCookie_ = cookie(BusPeer(bus_, kPowerManagement), kPowerManagementPath, kPowerManagementInhibit,
                                  {app, why});
  gnomeSessionCookie_ = cookie(BusPeer(bus_, kGnomeSession), kGnomeSessionPath, kGnomeSession,
                               {app, 0u, why, kGnomeInhibitSuspend});
}

SessionSuspendInhibitor::~SessionSuspendInhibitor() {
  if (powerManagementCookie_)
    BusPeer(bus_, kPowerManagement)
        .send(kPowerManagementPath, kPowerManagementInhibit, QStringLiteral("UnInhibit"), {*powerManagementCookie_});
  if (gnomeSessionCookie_)
    BusPeer(bus_, kGnomeSession)
        .send(kGnomeSessionPath, kGnomeSession, QStringLiteral("Uninhibit"), {*gnomeSessionCookie_});
}

std::vector<std::string> SessionSuspendInhibitor::grantedBy() const {
  std::vector<std::string> names;
  if (powerManagementCookie_) names.push_back(kPowerManagement.toStdString());
  if (gnomeSessionCookie_) names.push_back(kGnomeSession.toStdString());
  return names;
}

}  // namespace somnara::linuxhost
