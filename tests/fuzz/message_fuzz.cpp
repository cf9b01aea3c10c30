// The message payload decoder on any user-info text a process on the
// session bus can send: the XML property list the notification centre
// parses, the group's message read from it, and the settings a controller
// reads from a settings message. A decoded message must encode to a user
// info that decodes to the same message.
#include <cstdint>
#include <cstdlib>

#include "ORVPrivate/Appkit/ORVDistributedMessage.h"
#include "core/Constants.h"
#include "plist/PlistCodec.h"

using namespace somnara;

namespace {

std::string rendered(const std::optional<Value>& v) { return v ? plist::toXml(*v) : std::string(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto info = plist::parse({reinterpret_cast<const char*>(data), size});
  if (!info) return 0;
  const auto message = ORVDistributedMessage::fromUserInfo(*info);
  if (!message) {
    if (info->dictionary()) std::abort();
    return 0;
  }
  if (message->type != static_cast<std::int32_t>(message->type)) std::abort();
  if (message->payload) {
    for (const char* key : kSettingsKeys) {
      const Value* v = message->payload->find(key);
      (void)integerOrZero(v);
      (void)(v && v->boolean());
    }
  }
  const auto again = ORVDistributedMessage::fromUserInfo(message->userInfo());
  if (!again || again->type != message->type || again->sender != message->sender ||
      rendered(again->payload) != rendered(message->payload))
    std::abort();
  return 0;
}
