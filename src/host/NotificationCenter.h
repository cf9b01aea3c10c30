#pragma once

#include <functional>
#include <optional>
#include <string>

#include "host/Registration.h"
#include "plist/Value.h"

namespace somnara::host {

struct Notification {
  std::string name;
  std::string object;
  std::optional<Value> userInfo;  // nullopt: no user info
};

/// The machine-wide distributed notification centre of the user's session.
/// A posted notification reaches every matching observer of every program,
/// the posting program included, later on each receiver's run loop.
class NotificationCenter {
 public:
  virtual ~NotificationCenter() = default;

  virtual void post(const Notification& notification) = 0;

  /// Observes notifications with exactly this name and object.
  virtual RegistrationPtr observe(const std::string& name, const std::string& object,
                                  std::function<void(const Notification&)> onNotification) = 0;
};

}  // namespace somnara::host
