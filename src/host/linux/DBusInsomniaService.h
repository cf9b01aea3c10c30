#pragma once

#include <QDBusConnection>
#include <QObject>

#include "host/InsomniaService.h"
#include "host/linux/InsomniaBusWire.h"

namespace somnara::linuxhost {

/// The agent's Insomnia on the session bus (see InsomniaBusWire.h): publish()
/// takes the bus name and exports the object; a second agent of the same
/// session cannot take the name and offers nothing. Calls are served on the
/// run loop's thread, only when a caller calls: nothing is sent or watched
/// otherwise.
class DBusInsomniaService final : public host::InsomniaService {
 public:
  explicit DBusInsomniaService(QDBusConnection sessionBus);

  host::RegistrationPtr publish(Handler& handler) override;

 private:
  QDBusConnection bus_;
};

/// The exported object: its public slots are the interface's methods.
class InsomniaBusObject final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "de.orvane.Somnara.Insomnia")

 public:
  explicit InsomniaBusObject(host::InsomniaService::Handler& handler) : handler_(handler) {}

 public slots:
  void Start(double seconds) { handler_.start(seconds); }
  void Stop() { handler_.stop(); }
  bool GetState(double& secondsLeft, QList<somnara::linuxhost::insomniabus::InhibitorWire>& inhibitors);

 private:
  host::InsomniaService::Handler& handler_;
};

}  // namespace somnara::linuxhost
