#include "ORVPrivate/Appkit/ORVDistributedNotificationGroup.h"

#include <cstdio>
#include <random>

namespace somnara {
namespace {

// 128 random bits as a UUID-shaped string; only ever compared for equality.
std::string makeGloballyUniqueString() {
  static std::random_device device;
  static std::mt19937_64 engine((static_cast<std::uint64_t>(device()) << 32) ^ device());
  const std::uint64_t hi = engine(), lo = engine();
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(hi >> 32),
                static_cast<unsigned>((hi >> 16) & 0xffff), static_cast<unsigned>(hi & 0xffff),
                static_cast<unsigned>(lo >> 48), static_cast<unsigned long long>(lo & 0xffffffffffffULL));
  return buf;
}

}  // namespace

ORVDistributedNotificationGroup::ORVDistributedNotificationGroup(host::HostContext& context,
                                                                 const std::string& name)
    : context_(context),
      groupName_(name + "." + std::to_string(context.processes().effectiveUid())),
      globalUniqueID_(makeGloballyUniqueString()) {
  registration_ = context_.notifications().observe(
      kS_ORVDistributedNotificationGroupMessage, groupName_,
      [this](const host::Notification& n) { receivedDistributedNotification(n); });
}

void ORVDistributedNotificationGroup::sendMessage(std::int64_t type) { post(type, std::nullopt); }

void ORVDistributedNotificationGroup::sendMessage(std::int64_t type, const Value& userInfo) { post(type, userInfo); }

void ORVDistributedNotificationGroup::post(std::int64_t type, const std::optional<Value>& userInfo) {
  const ORVDistributedMessage message{type, globalUniqueID_, userInfo};
  context_.notifications().post({kS_ORVDistributedNotificationGroupMessage, groupName_, message.userInfo()});
}

void ORVDistributedNotificationGroup::receivedDistributedNotification(const host::Notification& notification) {
  if (notification.object != groupName_ || !notification.userInfo) return;
  const auto message = ORVDistributedMessage::fromUserInfo(*notification.userInfo);
  if (!message || message->sender == globalUniqueID_) return;
  if (delegate_) delegate_->receivedMessage(message->type, message->payload);
}

}  // namespace somnara
