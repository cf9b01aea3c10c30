#include "host/linux/DBusInsomniaRemote.h"

#include "host/linux/InsomniaBusWire.h"

namespace somnara::linuxhost {

DBusInsomniaRemote::DBusInsomniaRemote(QDBusConnection sessionBus) : agent_(std::move(sessionBus), insomniabus::kService) {
  insomniabus::registerTypes();
}

std::optional<QDBusMessage> DBusInsomniaRemote::call(const char* method, const QList<QVariant>& args) {
  if (!agent_.busConnected()) {
    failure_ = "no session bus";
    return std::nullopt;
  }
  if (!agent_.present()) {
    failure_ = "nothing holds " + insomniabus::kService.toStdString() + " on the session bus";
    return std::nullopt;
  }
  return agent_.call(insomniabus::kPath, insomniabus::kInterface, QString::fromLatin1(method), args, &failure_);
}

bool DBusInsomniaRemote::start(double seconds) { return call("Start", {seconds}).has_value(); }

bool DBusInsomniaRemote::stop() { return call("Stop").has_value(); }

std::optional<host::InsomniaState> DBusInsomniaRemote::state() {
  const auto reply = call("GetState");
  if (!reply) return std::nullopt;
  const auto args = reply->arguments();
  if (args.size() != 3) {
    failure_ = "the agent's answer has another form";
    return std::nullopt;
  }
  host::InsomniaState state;
  state.on = args[0].toBool();
  if (const double left = args[1].toDouble(); left >= 0) state.secondsLeft = left;
  for (const auto& wire : qdbus_cast<QList<insomniabus::InhibitorWire>>(args[2]))
    state.inhibitors.push_back(wire.inhibitor);
  return state;
}

}  // namespace somnara::linuxhost
