#include "host/sim/SimAuthorization.h"

namespace somnara::sim {

std::optional<host::Authorization::Failure> SimAuthorization::repairHelperPrivileges(const std::string& path) {
  prompts_.push_back(path);
  switch (answer_) {
    case Answer::Grant:
      state_.setPrivileged(path, true);
      return std::nullopt;
    case Answer::Refuse:
      return Failure{Step::Chown, kRefusedCode};
    case Answer::ChmodFails:
      // Owned by root now, but without the set-id bits it still cannot act as root.
      return Failure{Step::Chmod, 1};
  }
  return Failure{Step::Chown, kRefusedCode};
}

}  // namespace somnara::sim
