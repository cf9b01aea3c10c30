#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "host/NotificationCenter.h"

namespace somnara::sim {

class SimNotificationCenter;

/// The session's distributed notification bus. A posted notification crosses
/// as a property list (user info rendered to XML and parsed back, so only
/// property-list values arrive) and reaches every matching observer of every
/// program, the sender included, on each receiver's loop, in post order.
class SimNotificationHub {
 public:
  struct Posted {
    std::string sender;  // bundle identifier of the posting program
    host::Notification notification;  // as it was received
    std::chrono::milliseconds at;
  };

  /// Sends a notification from sender at virtual time at.
  void post(const std::string& sender, const host::Notification& notification, std::chrono::milliseconds at);

  /// Fault: while the bus is gone, posts are dropped without an error.
  void setBusGone(bool gone) { busGone_ = gone; }
  bool busGone() const { return busGone_; }
  int droppedCount() const { return dropped_; }
  /// Every notification that crossed the bus, oldest first.
  const std::vector<Posted>& posted() const { return posted_; }

  // Programs' centres register themselves here while they exist.
  void attach(SimNotificationCenter* receiver);
  void detach(SimNotificationCenter* receiver);

 private:
  std::vector<SimNotificationCenter*> receivers_;
  std::vector<Posted> posted_;
  bool busGone_ = false;
  int dropped_ = 0;
};

}  // namespace somnara::sim
