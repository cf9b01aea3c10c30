// Stands in for the preferences application: runs its controller on the real
// host, stores a sleep mode index the way the settings window does, and
// waits until the daemon reports the state as applied.
//
//   somnara_prefs_peer MODE_INDEX EXPECTED_HIBERNATEMODE TIMEOUT_MS
//
// Prints "applied <hibernatemode>" and exits 0 once the daemon's "state
// applied" message has arrived and the controller, told by it, reads the
// expected hibernatemode. Exits 2 when it cannot act as the preferences
// application, 3 on timeout.
#include <unistd.h>

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "ORVPrivate/Appkit/ORVDistributedNotificationGroup.h"
#include "core/Constants.h"
#include "core/SomnaraDaemon.h"
#include "host/linux/LinuxHost.h"

using namespace somnara;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s MODE_INDEX EXPECTED_HIBERNATEMODE TIMEOUT_MS\n", argv[0]);
    return 64;
  }
  const std::int64_t mode = std::atoll(argv[1]);
  const std::int64_t expected = std::atoll(argv[2]);
  const int timeoutMs = std::atoi(argv[3]);

  linuxhost::LinuxHost host;
  host::HostContext& context = host.context();
  SomnaraDaemon* controller = nullptr;

  // Done once the daemon's broadcast has come by on the bus and the
  // controller, told of it, reads the expected state.
  bool appliedMessage = false, stateNotice = false, done = false;
  std::function<void()> check = [&] {
    if (done || !appliedMessage || !stateNotice) return;
    const std::int64_t now = controller->currentsleepstate();
    if (now != expected) return;
    done = true;
    std::printf("applied %lld\n", static_cast<long long>(now));
    std::fflush(stdout);
    QCoreApplication::exit(0);
  };
  auto checkSoon = [&] { context.loop().schedule(std::chrono::milliseconds(0), false, check); };

  const std::string group = std::string(kS_SomnaraDaemonDistributedGroupName) + "." + std::to_string(::geteuid());
  auto raw = context.notifications().observe(kS_ORVDistributedNotificationGroupMessage, group,
                                             [&](const host::Notification& n) {
                                               const Value* type =
                                                   n.userInfo ? n.userInfo->find(kS_ORVDistributedNotification_MessageKey)
                                                              : nullptr;
                                               if (integerOrZero(type) != kMessageStateApplied) return;
                                               appliedMessage = true;
                                               checkSoon();
                                             });
  if (!raw) {
    std::fprintf(stderr, "peer: session bus unavailable\n");
    return 2;
  }

  controller = &SomnaraDaemon::sharedSomnaraDaemon(context);
  if (controller->processtype() != kProcessTypeApplication) {
    std::fprintf(stderr, "peer: process type %lld, not the preferences application\n",
                 static_cast<long long>(controller->processtype()));
    return 2;
  }
  // The first reading always announces a change; take it before watching so
  // that only notices caused by messages count.
  controller->currentsleepstate();
  controller->addObserver(kS_Property_currentsleepstate, [&](const std::string&, KeyValueObservable::Phase phase) {
    if (phase != KeyValueObservable::Phase::DidChange) return;
    stateNotice = true;
    checkSoon();
  });

  context.loop().schedule(std::chrono::milliseconds(timeoutMs), false, [&] {
    std::printf("timeout message=%d notice=%d state=%lld\n", appliedMessage, stateNotice,
                static_cast<long long>(controller->currentsleepstate()));
    std::fflush(stdout);
    QCoreApplication::exit(3);
  });

  // What the settings window's binding does: store the index in the shared domain.
  context.defaults().setValue(kS_SomnaraUserDefaultSleepModeIndex, Value(mode));
  return host.exec();
}
