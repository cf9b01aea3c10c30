#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ORVPrivate/Appkit/ORVDistributedMessage.h"
#include "ORVPrivate/Appkit/ORVDistributedNotificationGroupDelegateProtocol.h"
#include "host/HostContext.h"

namespace somnara {

inline constexpr const char* kS_ORVDistributedNotificationGroupMessage = "ORVDistributedNotificationGroupMessage";

/// A named channel on the session's distributed notification centre: every
/// group of the same name under the same effective user receives what the
/// others send; a group never receives its own messages.
///
/// Wire format of one message: notification name
/// "ORVDistributedNotificationGroupMessage", object "<name>.<euid>", user info
/// as ORVDistributedMessage lays it out.
class ORVDistributedNotificationGroup {
 public:
  ORVDistributedNotificationGroup(host::HostContext& context, const std::string& name);
  ORVDistributedNotificationGroup(const ORVDistributedNotificationGroup&) = delete;
  ORVDistributedNotificationGroup& operator=(const ORVDistributedNotificationGroup&) = delete;

  /// Posts a message without payload; fire and forget.
  void sendMessage(std::int64_t type);
  /// Posts a message with a property-list payload; fire and forget.
  void sendMessage(std::int64_t type, const Value& userInfo);

  /// Messages arriving while no delegate is set are dropped.
  void setDelegate(ORVDistributedNotificationGroupDelegateProtocol* delegate) { delegate_ = delegate; }
  ORVDistributedNotificationGroupDelegateProtocol* delegate() const { return delegate_; }

  const std::string& groupName() const { return groupName_; }
  const std::string& globalUniqueID() const { return globalUniqueID_; }

 private:
  void post(std::int64_t type, const std::optional<Value>& userInfo);
  void receivedDistributedNotification(const host::Notification& notification);

  host::HostContext& context_;
  std::string groupName_;
  std::string globalUniqueID_;
  ORVDistributedNotificationGroupDelegateProtocol* delegate_ = nullptr;
  host::RegistrationPtr registration_;  // withdrawn when the group is destroyed
};

}  // namespace somnara
