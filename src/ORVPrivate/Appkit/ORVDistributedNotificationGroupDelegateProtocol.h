#pragma once

#include <cstdint>
#include <optional>

#include "plist/Value.h"

namespace somnara {

/// Receives the messages that other members of a notification group send.
class ORVDistributedNotificationGroupDelegateProtocol {
 public:
  virtual ~ORVDistributedNotificationGroupDelegateProtocol() = default;
  /// type: the sender's message type; userInfo: its payload, nullopt when none.
  virtual void receivedMessage(std::int64_t type, const std::optional<Value>& userInfo) = 0;
};

}  // namespace somnara
