#include "host/sim/SimNotificationHub.h"

#include <algorithm>

#include "host/sim/SimNotificationCenter.h"
#include "plist/PlistCodec.h"

namespace somnara::sim {

void SimNotificationHub::post(const std::string& sender, const host::Notification& notification,
                              std::chrono::milliseconds at) {
  if (busGone_) {
    ++dropped_;
    return;
  }
  host::Notification wire{notification.name, notification.object, std::nullopt};
  // The payload travels as an XML property list; one that does not parse
  // back arrives as no user info.
  if (notification.userInfo) wire.userInfo = plist::parse(plist::toXml(*notification.userInfo));
  posted_.push_back({sender, wire, at});
  const auto receivers = receivers_;
  for (SimNotificationCenter* receiver : receivers) receiver->deliver(wire);
}

void SimNotificationHub::attach(SimNotificationCenter* receiver) { receivers_.push_back(receiver); }

void SimNotificationHub::detach(SimNotificationCenter* receiver) { std::erase(receivers_, receiver); }

}  // namespace somnara::sim
