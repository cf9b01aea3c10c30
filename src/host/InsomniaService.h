#pragma once

#include <optional>
#include <vector>

#include "host/Inhibitors.h"
#include "host/Registration.h"

namespace somnara::host {

/// What the running agent tells about Insomnia.
struct InsomniaState {
  bool on = false;
  /// Seconds until a timed Insomnia ends (0 once its end has passed);
  /// nullopt while off or running without end.
  std::optional<double> secondsLeft;
  /// The locks keeping the machine awake now, as the agent's list shows them.
  std::vector<Inhibitor> inhibitors;

  bool operator==(const InsomniaState&) const = default;
};

/// The agent's Insomnia offered to other programs of the same user session
/// (the command line). All calls and callbacks on the run loop's thread.
class InsomniaService {
 public:
  /// What the agent does for a caller.
  class Handler {
   public:
    virtual ~Handler() = default;
    /// Starts Insomnia for seconds (below 1: without end), or moves the end
    /// of a running one.
    virtual void start(double seconds) = 0;
    virtual void stop() = 0;
    virtual InsomniaState state() = 0;
  };

  virtual ~InsomniaService() = default;

  /// Offers handler until the registration is destroyed; null when it cannot
  /// be offered (no session bus, or another agent offers it already).
  virtual RegistrationPtr publish(Handler& handler) = 0;
};

}  // namespace somnara::host
