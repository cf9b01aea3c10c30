#pragma once

#include <functional>
#include <string>

#include "host/NotificationCenter.h"
#include "host/sim/ObserverList.h"
#include "host/sim/SimNotificationHub.h"
#include "host/sim/SimRunLoop.h"

namespace somnara::sim {

/// One program's end of the machine's notification bus.
class SimNotificationCenter : public host::NotificationCenter {
 public:
  SimNotificationCenter(SimNotificationHub& hub, SimRunLoop& loop, std::string sender);
  ~SimNotificationCenter() override;
  SimNotificationCenter(const SimNotificationCenter&) = delete;
  SimNotificationCenter& operator=(const SimNotificationCenter&) = delete;

  void post(const host::Notification& notification) override;
  host::RegistrationPtr observe(const std::string& name, const std::string& object,
                                std::function<void(const host::Notification&)> onNotification) override;

  /// Used by the hub: queues the notification on this program's loop for the
  /// observers that match it now and are still registered when it arrives.
  void deliver(const host::Notification& notification);

  /// Registered observers, for leak checks.
  std::size_t observerCount() const { return observers_.size(); }

 private:
  struct Observer {
    std::string name;
    std::string object;
    std::function<void(const host::Notification&)> onNotification;
  };

  SimNotificationHub& hub_;
  SimRunLoop& loop_;
  std::string sender_;
  ObserverList<Observer> observers_;
};

}  // namespace somnara::sim
