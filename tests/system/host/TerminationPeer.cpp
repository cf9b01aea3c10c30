// A program that ends on SIGTERM through TerminationSignals: with "run" its
// run loop stays free and it quits with status 0; with "block" the loop is
// stuck in a system call that a signal does not end, as in a blocking open()
// of a FIFO. Prints "ready" once the signals are in place.
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "host/linux/TerminationSignals.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  somnara::linuxhost::TerminationSignals termination([](int) { QCoreApplication::quit(); });
  const bool block = argc > 1 && std::strcmp(argv[1], "block") == 0;
  QTimer::singleShot(0, [block] {
    std::printf("ready\n");
    std::fflush(stdout);
    while (block) ::pause();
  });
  return app.exec();
}
