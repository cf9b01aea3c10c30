#pragma once

#include <memory>

namespace somnara::host {

/// Keeps an observer registration alive; destroying it unregisters.
class Registration {
 public:
  virtual ~Registration() = default;
};

using RegistrationPtr = std::unique_ptr<Registration>;

}  // namespace somnara::host
