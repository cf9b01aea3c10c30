// The smallest program of the daemon's kind: a Qt event loop, a session-bus
// connection and one idle 3 s timer. Its memory, wakeups and start-up time
// are what the daemon's figures are compared with.
//
//   bench_minimal_qt              runs until SIGTERM/SIGINT
//   bench_minimal_qt --ready-exit prints "ready" once its loop runs, then exits
//
// "ready" is written to stdout (and flushed) when the event loop first runs.
#include <csignal>
#include <cstdio>
#include <cstring>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  (void)!::write(signalPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool readyExit = argc > 1 && std::strcmp(argv[1], "--ready-exit") == 0;

  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) std::fprintf(stderr, "bench_minimal_qt: no session bus\n");

  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return 2;
  QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);

  int ticks = 0;
  QTimer idle;
  idle.setInterval(3000);
  QObject::connect(&idle, &QTimer::timeout, [&ticks] { ++ticks; });
  idle.start();

  QTimer::singleShot(0, &app, [readyExit] {
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    if (readyExit) QCoreApplication::quit();
  });
  const int rc = app.exec();
  return rc == 0 && ticks >= 0 ? 0 : 1;
}
