#pragma once

#include <QDBusConnection>

#include <string>

#include "host/InsomniaRemote.h"
#include "host/linux/BusPeer.h"

namespace somnara::linuxhost {

/// A caller of the agent's Insomnia on the session bus (see
/// InsomniaBusWire.h). A call fails at once when no program holds the
/// agent's name (the agent is never started by bus activation), and after
/// at most two seconds when it does not answer.
class DBusInsomniaRemote final : public host::InsomniaRemote {
 public:
  explicit DBusInsomniaRemote(QDBusConnection sessionBus);

  bool start(double seconds) override;
  bool stop() override;
  std::optional<host::InsomniaState> state() override;
  std::string failureReason() const override { return failure_; }

 private:
  std::optional<QDBusMessage> call(const char* method, const QList<QVariant>& args = {});

  BusPeer agent_;
  std::string failure_;
};

}  // namespace somnara::linuxhost
