#include "host/linux/TerminationSignals.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>

namespace somnara::linuxhost {
namespace {

std::atomic<int> gWriteFd{-1};
int gReadFd = -1;
// The deadline timer (SIGALRM when it fires) and the signal that armed it.
timer_t gDeadline{};
std::atomic<bool> gDeadlineCreated{false};
std::atomic<int> gFirstSignal{0};

extern "C" void onTerminationSignal(int signal) {
  const int saved = errno;
  const int fd = gWriteFd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t ignored = ::write(fd, &byte, 1);
  }
  int none = 0;
  if (gDeadlineCreated.load() && gFirstSignal.compare_exchange_strong(none, signal)) {
    constexpr long kMs = TerminationSignals::kDeadlineMs;
    const itimerspec in{{0, 0}, {kMs / 1000, (kMs % 1000) * 1000000}};
    ::timer_settime(gDeadline, 0, &in, nullptr);  // async-signal-safe
  }
  errno = saved;
}

// The orderly end took too long: the program ends by the signal it was sent.
extern "C" void onDeadline(int) {
  const int signal = gFirstSignal.load();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  ::_exit(128 + signal);
}

void armDeadlineTimer() {
  struct sigaction sa {};
  sa.sa_handler = onDeadline;
  sigemptyset(&sa.sa_mask);
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGALRM;
  if (::sigaction(SIGALRM, &sa, nullptr) == 0 && ::timer_create(CLOCK_MONOTONIC, &event, &gDeadline) == 0)
    gDeadlineCreated.store(true);
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  if (gWriteFd.load() >= 0) return;  // another instance owns the signals
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
  gReadFd = fds[0];
  gWriteFd.store(fds[1]);
  struct sigaction sa {};
  sa.sa_handler = onTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, &oldTerm_);
  ::sigaction(SIGINT, &sa, &oldInt_);
  if (!gDeadlineCreated.load()) armDeadlineTimer();
  notifier_ = std::make_unique<QSocketNotifier>(gReadFd, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
  installed_ = true;
}

TerminationSignals::~TerminationSignals() {
  if (!installed_) return;
  ::sigaction(SIGTERM, &oldTerm_, nullptr);
  ::sigaction(SIGINT, &oldInt_, nullptr);
  notifier_.reset();
  const int w = gWriteFd.exchange(-1);
  ::close(w);
  ::close(gReadFd);
  gReadFd = -1;
}

void TerminationSignals::ignoreFurtherSignals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  oldTerm_ = ignore;
  oldInt_ = ignore;
}

void TerminationSignals::drain() {
  unsigned char bytes[64];
  for (;;) {
    const ssize_t n = ::read(gReadFd, bytes, sizeof bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i)
      if (onSignal_) onSignal_(bytes[i]);
  }
}

}  // namespace somnara::linuxhost
