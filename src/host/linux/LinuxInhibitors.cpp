#include "host/linux/LinuxInhibitors.h"

#include <QDBusArgument>
#include <QDBusObjectPath>

#include "host/linux/CallbackRegistration.h"
#include "host/linux/SessionInhibitServices.h"

namespace somnara::linuxhost {
namespace {

bool namesSleepOrIdle(const std::string& what) {
  for (std::size_t start = 0; start <= what.size();) {
    const std::size_t end = std::min(what.find(':', start), what.size());
    const std::string item = what.substr(start, end - start);
    if (item == "sleep" || item == "idle") return true;
    start = end + 1;
  }
  return false;
}

std::string gnomeWhat(uint flags) {
  std::string what;
  if (flags & kGnomeInhibitSuspend) what = "suspend";
  if (flags & kGnomeInhibitIdle) what += what.empty() ? "idle" : ":idle";
  return what;
}

QString firstString(const std::optional<QDBusMessage>& reply) {
  return reply && !reply->arguments().isEmpty() ? reply->arguments().first().toString() : QString();
}

}  // namespace

LinuxInhibitors::LinuxInhibitors(LogindClient& logind, QDBusConnection sessionBus, unsigned ownPid)
    : logind_(logind),
      gnomeSession_(sessionBus, kGnomeSession),
      powerManagement_(sessionBus, QStringLiteral("org.freedesktop.PowerManagement")),
      ownPid_(ownPid) {}

std::vector<host::Inhibitor> LinuxInhibitors::list() {
  std::vector<host::Inhibitor> out;
  if (logind_.reachable()) {
    for (auto& inhibitor : logind_.listInhibitors().value_or(std::vector<host::Inhibitor>{})) {
      if (!namesSleepOrIdle(inhibitor.what)) continue;
      inhibitor.isOwn = inhibitor.pid == ownPid_ || host::Inhibitor::isSomnaraName(inhibitor.who);
      out.push_back(std::move(inhibitor));
    }
  }
  addGnomeSession(out);
  addPowerManagement(out);
  return out;
}

void LinuxInhibitors::addGnomeSession(std::vector<host::Inhibitor>& out) const {
  if (!gnomeSession_.present()) return;
  const auto reply = gnomeSession_.call(kGnomeSessionPath, kGnomeSession, QStringLiteral("GetInhibitors"));
  if (!reply || reply->arguments().isEmpty()) return;
  for (const auto& path : qdbus_cast<QList<QDBusObjectPath>>(reply->arguments().first())) {
    const auto flags = gnomeSession_.call(path.path(), kGnomeInhibitor, QStringLiteral("GetFlags"));
    const std::string what = flags && !flags->arguments().isEmpty() ? gnomeWhat(flags->arguments().first().toUInt())
                                                                    : std::string();
    if (what.empty()) continue;
    host::Inhibitor inhibitor;
    inhibitor.who = firstString(gnomeSession_.call(path.path(), kGnomeInhibitor, QStringLiteral("GetAppId"))).toStdString();
    inhibitor.why = firstString(gnomeSession_.call(path.path(), kGnomeInhibitor, QStringLiteral("GetReason"))).toStdString();
    inhibitor.what = what;
    inhibitor.mode = "block";
    inhibitor.source = host::Inhibitor::Source::GnomeSession;
    inhibitor.isOwn = host::Inhibitor::isSomnaraName(inhibitor.who);
    out.push_back(std::move(inhibitor));
  }
}

void LinuxInhibitors::addPowerManagement(std::vector<host::Inhibitor>& out) const {
  if (!powerManagement_.present()) return;
  const auto reply =
      powerManagement_.call(kPowerManagementPath, kPowerManagementInhibit, QStringLiteral("GetInhibitors"));
  if (!reply || reply->arguments().isEmpty()) return;
  for (const QString& application : reply->arguments().first().toStringList()) {
    host::Inhibitor inhibitor;
    inhibitor.who = application.toStdString();
    inhibitor.what = "suspend";
    inhibitor.mode = "block";
    inhibitor.source = host::Inhibitor::Source::PowerManagement;
    inhibitor.isOwn = host::Inhibitor::isSomnaraName(inhibitor.who);
    out.push_back(std::move(inhibitor));
  }
}

host::RegistrationPtr LinuxInhibitors::observeChanges(std::function<void()> onChange) {
  auto shared = std::make_shared<std::function<void()>>(std::move(onChange));
  auto watches = std::make_shared<std::vector<host::RegistrationPtr>>();
  watches->push_back(logind_.watchManagerProperties([shared](const QVariantMap& changed, const QStringList& gone) {
    for (const char* key : {"BlockInhibited", "DelayInhibited"})
      if (changed.contains(QLatin1String(key)) || gone.contains(QLatin1String(key))) return (*shared)();
  }));
  for (const char* signal : {"InhibitorAdded", "InhibitorRemoved"})
    watches->push_back(gnomeSession_.watch(kGnomeSessionPath, kGnomeSession, QLatin1String(signal), {},
                                            [shared](const QDBusMessage&) { (*shared)(); }));
  std::erase(*watches, nullptr);
  if (watches->empty()) return nullptr;
  return CallbackRegistration::make([watches] { watches->clear(); });
}

}  // namespace somnara::linuxhost
