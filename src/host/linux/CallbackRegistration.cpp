#include "host/linux/CallbackRegistration.h"

#include <memory>

namespace somnara::linuxhost {

CallbackRegistration::CallbackRegistration(std::function<void()> onRelease) : onRelease_(std::move(onRelease)) {}

CallbackRegistration::~CallbackRegistration() {
  if (onRelease_) onRelease_();
}

host::RegistrationPtr CallbackRegistration::make(std::function<void()> onRelease) {
  return std::make_unique<CallbackRegistration>(std::move(onRelease));
}

}  // namespace somnara::linuxhost
