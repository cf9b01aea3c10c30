#include "host/linux/InsomniaBusWire.h"

#include <QDBusMetaType>

namespace somnara::linuxhost::insomniabus {
namespace {

constexpr uint kUnknownUid = 0xffffffffu;

struct SourceName {
  host::Inhibitor::Source source;
  const char* name;
};
constexpr SourceName kSources[] = {{host::Inhibitor::Source::Logind, "logind"},
                                   {host::Inhibitor::Source::GnomeSession, "gnome-session"},
                                   {host::Inhibitor::Source::PowerManagement, "power-management"}};

}  // namespace

void registerTypes() {
  qDBusRegisterMetaType<InhibitorWire>();
  qDBusRegisterMetaType<QList<InhibitorWire>>();
}

QString sourceName(host::Inhibitor::Source source) {
  for (const auto& s : kSources)
    if (s.source == source) return QString::fromLatin1(s.name);
  return QString();
}

host::Inhibitor::Source sourceNamed(const QString& name) {
  for (const auto& s : kSources)
    if (name == QLatin1String(s.name)) return s.source;
  return host::Inhibitor::Source::Logind;
}

}  // namespace somnara::linuxhost::insomniabus

using somnara::linuxhost::insomniabus::InhibitorWire;

QDBusArgument& operator<<(QDBusArgument& argument, const InhibitorWire& wire) {
  const auto& i = wire.inhibitor;
  argument.beginStructure();
  argument << QString::fromStdString(i.who) << QString::fromStdString(i.why) << QString::fromStdString(i.what)
           << QString::fromStdString(i.mode) << static_cast<uint>(i.pid.value_or(0))
           << static_cast<uint>(i.uid.value_or(somnara::linuxhost::insomniabus::kUnknownUid))
           << somnara::linuxhost::insomniabus::sourceName(i.source) << i.isOwn;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, InhibitorWire& wire) {
  QString who, why, what, mode, source;
  uint pid = 0, uid = 0;
  bool own = false;
  argument.beginStructure();
  argument >> who >> why >> what >> mode >> pid >> uid >> source >> own;
  argument.endStructure();
  auto& i = wire.inhibitor;
  i = {};
  i.who = who.toStdString();
  i.why = why.toStdString();
  i.what = what.toStdString();
  i.mode = mode.toStdString();
  i.source = somnara::linuxhost::insomniabus::sourceNamed(source);
  i.isOwn = own;
  if (pid != 0) i.pid = pid;
  if (uid != somnara::linuxhost::insomniabus::kUnknownUid) i.uid = uid;
  return argument;
}
