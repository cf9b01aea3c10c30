#pragma once

#include <memory>

namespace somnara::host {

/// The program's link to the system's power management, for keeping the
/// machine awake. All calls on the run loop's thread.
class SystemPower {
 public:
  /// What a program reports to keep the machine from idling.
  enum class Activity {
    Overall,  // the user is at the machine: keeps it and its displays awake
    Idle,     // keeps the machine from idle sleep only; displays may sleep
  };

  /// An open registration. While the idle-sleep veto is held, the machine
  /// does not go to sleep because it is idle; a sleep the user asks for
  /// (a command, a lid closing) always goes ahead at once, the registration
  /// never delaying it. Destroying the registration releases the veto.
  class Registration {
   public:
    virtual ~Registration() = default;
    /// Holds (true) or releases (false) the veto; repeating a state is harmless.
    virtual void setIdleSleepVetoed(bool vetoed) = 0;
    virtual bool idleSleepVetoed() const = 0;
  };

  virtual ~SystemPower() = default;

  /// Registers with the power management; null when it cannot be reached.
  virtual std::unique_ptr<Registration> registerForSystemPower() = 0;

  /// Reports activity now; it keeps the machine up for the system's idle
  /// time from now. Failures are passed over.
  virtual void reportActivity(Activity activity) = 0;
};

}  // namespace somnara::host
