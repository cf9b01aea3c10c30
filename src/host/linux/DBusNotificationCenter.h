#pragma once

#include <QDBusConnection>

#include <memory>

#include "host/Logger.h"
#include "host/NotificationCenter.h"

namespace somnara::linuxhost {

/// Distributed notifications as a broadcast signal on the session bus:
/// path /de/orvane/DistributedNotificationCenter, interface
/// de.orvane.DistributedNotificationCenter, member
/// Notification(s name, s object, s userInfoXmlPlist), "" meaning no user info.
/// The bus hands each signal back to its sender too, so the posting program's
/// observers see its own posts exactly once, like everyone else's.
class DBusNotificationCenter final : public host::NotificationCenter {
 public:
  static constexpr const char* kPath = "/de/orvane/DistributedNotificationCenter";
  static constexpr const char* kInterface = "de.orvane.DistributedNotificationCenter";
  static constexpr const char* kMember = "Notification";

  DBusNotificationCenter(QDBusConnection connection, host::Logger& logger);
  ~DBusNotificationCenter() override;
  DBusNotificationCenter(const DBusNotificationCenter&) = delete;
  DBusNotificationCenter& operator=(const DBusNotificationCenter&) = delete;

  /// Dropped, with one log line per outage, while the bus is not connected.
  void post(const host::Notification& notification) override;

  /// Null when the bus is not connected or refuses the match.
  host::RegistrationPtr observe(const std::string& name, const std::string& object,
                                std::function<void(const host::Notification&)> onNotification) override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace somnara::linuxhost
