#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "plist/Value.h"

namespace somnara {

inline constexpr const char* kS_ORVDistributedNotification_MessageKey = "MessageType";
inline constexpr const char* kS_ORVDistributedNotification_MessageProcessIDKey = "ProcessID";
inline constexpr const char* kS_ORVDistributedNotification_MessageUserInfoKey = "UserInfo";

/// One message of a distributed notification group as it travels in a
/// notification's user info: {"MessageType": int32, "ProcessID": the
/// sender's unique id, "UserInfo": payload (absent without payload)}.
struct ORVDistributedMessage {
  /// Sign-extended from its 32 bits.
  std::int64_t type = 0;
  /// The sending group's unique id; nullopt when missing or not a string.
  std::optional<std::string> sender;
  std::optional<Value> payload;

  /// The user info that carries the message.
  Value userInfo() const;

  /// The message in a notification's user info, whatever another process
  /// put there: nullopt unless it is a dictionary; a missing or non-number
  /// type reads 0, only its low 32 bits count.
  static std::optional<ORVDistributedMessage> fromUserInfo(const Value& info);
};

}  // namespace somnara
