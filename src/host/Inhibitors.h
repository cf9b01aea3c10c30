#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/Registration.h"

namespace somnara::host {

/// One lock that holds the machine's sleep or idle sleep back, as the
/// service that keeps it reports it.
struct Inhibitor {
  /// The service that keeps the lock.
  enum class Source {
    Logind,            // org.freedesktop.login1 (system bus)
    GnomeSession,      // org.gnome.SessionManager (session bus)
    PowerManagement,   // org.freedesktop.PowerManagement.Inhibit (session bus)
  };

  std::string who;   // the program's name as it gave it
  std::string why;   // its reason; empty where the service keeps none
  /// What it holds back: logind's colon-separated list ("sleep:idle", …);
  /// for the session services "suspend", "idle" or "suspend:idle".
  std::string what;
  /// "block", "block-weak" or "delay" (logind); "block" for the session services.
  std::string mode;
  std::optional<std::uint32_t> pid, uid;  // where the service tells them
  Source source = Source::Logind;
  /// Held by one of Somnara's own programs.
  bool isOwn = false;

  bool operator==(const Inhibitor&) const = default;

  /// Whether a lock holder's name is one Somnara's programs give: "Somnara",
  /// "Somnara <program>" or a bundle identifier under "de.orvane.Somnara".
  static bool isSomnaraName(const std::string& who) {
    return who == "Somnara" || who.rfind("Somnara ", 0) == 0 || who.rfind("de.orvane.Somnara", 0) == 0;
  }
};

/// The sleep and idle inhibitors of the machine and of the user's session.
/// All calls and callbacks on the run loop's thread.
class Inhibitors {
 public:
  virtual ~Inhibitors() = default;

  /// The locks held now that name sleep or idle (any mode), from every
  /// service that runs; a service that is not there adds none.
  virtual std::vector<Inhibitor> list() = 0;

  /// Calls onChange whenever the set of locks may have changed (logind
  /// announces its BlockInhibited/DelayInhibited properties anew each time a
  /// lock is taken or dropped). Nothing is watched, and nothing wakes the
  /// program, while no registration is held. Null when changes cannot be
  /// watched.
  virtual RegistrationPtr observeChanges(std::function<void()> onChange) = 0;
};

}  // namespace somnara::host
