#pragma once

#include "host/Displays.h"

namespace somnara {

/// Whether the user is away from the machine, as Insomnia's keep-awake tick
/// asks it: the main display asleep, or the screen saver in front. From
/// start() to stop() each of the two is kept from its change notices, read
/// once at start(); one without change notices (see host::Displays) is read
/// at every ask instead. Before start() and after stop() nothing is watched.
/// Everything on the run loop; the displays port must outlive the watch.
class UserPresenceWatch {
 public:
  explicit UserPresenceWatch(host::Displays& displays) : displays_(displays) {}

  /// Watches both and reads each watched one once; again from the start
  /// when already watching.
  void start();
  void stop();

  /// The main display asleep or the screen saver in front; false for what
  /// cannot be told.
  bool userAway() const;

 private:
  struct Watched {
    host::RegistrationPtr watch;
    bool value = false;
  };

  host::Displays& displays_;
  Watched displayAsleep_;
  Watched screenSaver_;
};

}  // namespace somnara
