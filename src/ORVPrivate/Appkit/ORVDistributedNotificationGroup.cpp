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
  Dictionary info{
      {kS_ORVDistributedNotification_MessageKey, Value(static_cast<std::int32_t>(static_cast<std::uint32_t>(type)))},
      {kS_ORVDistributedNotification_MessageProcessIDKey, Value(globalUniqueID_)},
  };
  if (userInfo) info.emplace(kS_ORVDistributedNotification_MessageUserInfoKey, *userInfo);
  context_.notifications().post({kS_ORVDistributedNotificationGroupMessage, groupName_, Value(std::move(info))});
}

void ORVDistributedNotificationGroup::receivedDistributedNotification(const host::Notification& notification) {
  if (notification.object != groupName_) return;
  if (!notification.userInfo || !notification.userInfo->dictionary()) return;
  const Value& info = *notification.userInfo;
  if (const Value* sender = info.find(kS_ORVDistributedNotification_MessageProcessIDKey);
      sender && sender->string() && *sender->string() == globalUniqueID_)
    return;
  const auto rawType = integerOrZero(info.find(kS_ORVDistributedNotification_MessageKey));
  const std::int64_t type = static_cast<std::int32_t>(static_cast<std::uint32_t>(rawType));
  std::optional<Value> payload;
  if (const Value* p = info.find(kS_ORVDistributedNotification_MessageUserInfoKey)) payload = *p;
  if (delegate_) delegate_->receivedMessage(type, payload);
}

}  // namespace somnara
