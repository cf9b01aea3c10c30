#pragma once

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace somnara::linuxhost {

/// Turns SIGTERM and SIGINT into a call on the run loop (self-pipe written
/// by the signal handler, read through a socket notifier). One instance per
/// process; the previous dispositions come back when it is destroyed.
///
/// The first termination signal also starts a deadline (a POSIX timer
/// raising SIGALRM, whose handler this class owns from then on): a program
/// that has not ended kDeadlineMs later, its run loop blocked or its
/// shutdown stuck, ends by that signal's default action. Settings are
/// written by atomic rename and locks die with the process, so nothing is
/// lost that an orderly end would have kept. The deadline stays armed after
/// this object is destroyed: it covers the whole end of the program.
class TerminationSignals {
 public:
  static constexpr long kDeadlineMs = 1500;

  /// onSignal receives the signal number.
  explicit TerminationSignals(std::function<void(int signal)> onSignal);
  /// The program is ending: from now on termination signals change nothing,
  /// also after this object is gone (they are ignored, not put back to their
  /// earlier action, so a late one cannot cut the shutdown short).
  void ignoreFurtherSignals();
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  void drain();

  std::function<void(int)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction oldTerm_ {}, oldInt_ {};
  bool installed_ = false;
};

}  // namespace somnara::linuxhost
