#include "ORVPrivate/Appkit/ORVDistributedMessage.h"

namespace somnara {
namespace {

std::int64_t low32(std::int64_t type) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(type)); }

}  // namespace

Value ORVDistributedMessage::userInfo() const {
  Dictionary info{{kS_ORVDistributedNotification_MessageKey, Value(low32(type))}};
  if (sender) info.emplace(kS_ORVDistributedNotification_MessageProcessIDKey, Value(*sender));
  if (payload) info.emplace(kS_ORVDistributedNotification_MessageUserInfoKey, *payload);
  return Value(std::move(info));
}

std::optional<ORVDistributedMessage> ORVDistributedMessage::fromUserInfo(const Value& info) {
  if (!info.dictionary()) return std::nullopt;
  ORVDistributedMessage message;
  message.type = low32(integerOrZero(info.find(kS_ORVDistributedNotification_MessageKey)));
  if (const Value* sender = info.find(kS_ORVDistributedNotification_MessageProcessIDKey); sender && sender->string())
    message.sender = *sender->string();
  if (const Value* p = info.find(kS_ORVDistributedNotification_MessageUserInfoKey)) message.payload = *p;
  return message;
}

}  // namespace somnara
