#pragma once

#include <functional>

#include "host/Registration.h"

namespace somnara::linuxhost {

/// A registration that runs one function when it is destroyed. The function
/// must tolerate its owner being gone already (capture a weak pointer).
class CallbackRegistration final : public host::Registration {
 public:
  explicit CallbackRegistration(std::function<void()> onRelease);
  ~CallbackRegistration() override;
  CallbackRegistration(const CallbackRegistration&) = delete;
  CallbackRegistration& operator=(const CallbackRegistration&) = delete;

  static host::RegistrationPtr make(std::function<void()> onRelease);

 private:
  std::function<void()> onRelease_;
};

}  // namespace somnara::linuxhost
