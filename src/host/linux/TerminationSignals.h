#pragma once

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace somnara::linuxhost {

/// Turns SIGTERM and SIGINT into a call on the run loop (self-pipe written
/// by the signal handler, read through a socket notifier). One instance per
/// process; the previous dispositions come back when it is destroyed.
class TerminationSignals {
 public:
  /// onSignal receives the signal number.
  explicit TerminationSignals(std::function<void(int signal)> onSignal);
  /// The program is ending: from now on termination signals change nothing,
  /// also after this object is gone (they are ignored, not put back to their
  /// earlier action, so a late one cannot cut the shutdown short).
  void ignoreFurtherSignals();
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  /// Whether the handlers are installed.

 private:
  void drain();

  std::function<void(int)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction oldTerm_ {}, oldInt_ {};
  bool installed_ = false;
};

}  // namespace somnara::linuxhost
