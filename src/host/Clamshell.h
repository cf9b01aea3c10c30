#pragma once

#include <functional>
#include <optional>

#include "host/Registration.h"

namespace somnara::host {

/// The machine's lid as the power manager reports it. All calls and
/// callbacks on the run loop's thread.
class Clamshell {
 public:
  virtual ~Clamshell() = default;

  /// Whether the lid is closed; nullopt when the machine reports no lid or
  /// a lid state that is neither closed nor open.
  virtual std::optional<bool> clamshellState() const = 0;

  /// Calls onMessage on the run loop for every message of the power manager
  /// that may come with a lid change (it may come without one); null when the
  /// power manager sends no such messages.
  virtual RegistrationPtr observeRootDomain(std::function<void()> onMessage) = 0;
};

}  // namespace somnara::host
