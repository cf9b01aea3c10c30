#include "host/sim/SimNotificationCenter.h"

#include <algorithm>
#include <vector>

namespace somnara::sim {

SimNotificationCenter::SimNotificationCenter(SimNotificationHub& hub, SimRunLoop& loop, std::string sender)
    : hub_(hub), loop_(loop), sender_(std::move(sender)) {
  hub_.attach(this);
}

SimNotificationCenter::~SimNotificationCenter() { hub_.detach(this); }

void SimNotificationCenter::post(const host::Notification& notification) {
  hub_.post(sender_, notification, loop_.elapsed());
}

host::RegistrationPtr SimNotificationCenter::observe(const std::string& name, const std::string& object,
                                                     std::function<void(const host::Notification&)> onNotification) {
  return observers_.add({name, object, std::move(onNotification)});
}

void SimNotificationCenter::deliver(const host::Notification& notification) {
  std::vector<ObserverList<Observer>::Id> matching;
  for (const auto& [id, o] : observers_.snapshot())
    if (o.name == notification.name && o.object == notification.object) matching.push_back(id);
  if (matching.empty()) return;
  loop_.post([this, notification, matching] {
    for (const auto& [id, o] : observers_.snapshot())
      if (std::find(matching.begin(), matching.end(), id) != matching.end() && observers_.contains(id))
        o.onNotification(notification);
  });
}

}  // namespace somnara::sim
