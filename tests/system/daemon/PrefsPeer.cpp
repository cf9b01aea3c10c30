// Stands in for the preferences application: runs its controller on the real
// host, stores a sleep mode index as the settings window does and waits for the
// daemon's "state applied" message.   somnara_prefs_peer MODE_INDEX EXPECTED_HIBERNATEMODE TIMEOUT_MS
// Prints "applied <hibernatemode>" and exits 0 once that message came and the controller, told by it,
// reads the expected hibernatemode; exits 2 when it cannot act as the application, 3 on timeout.
#include <unistd.h>

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ORVPrivate/Appkit/ORVDistributedNotificationGroup.h"
#include "core/Constants.h"
#include "core/SomnaraDaemon.h"
#include "host/linux/LinuxHost.h"

using namespace somnara;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) return 64;
  const std::int64_t mode = std::atoll(argv[1]), expected = std::atoll(argv[2]);
  linuxhost::LinuxHost host;
  host::HostContext& context = host.context();
  SomnaraDaemon* controller = nullptr;

  bool appliedMessage = false, stateNotice = false;
  auto checkSoon = [&] {
    context.loop().schedule(std::chrono::milliseconds(0), false, [&] {
      if (!appliedMessage || !stateNotice || controller->currentsleepstate() != expected) return;
      std::printf("applied %lld\n", static_cast<long long>(expected));
      std::fflush(stdout);
      QCoreApplication::exit(0);
    });
  };

  const std::string group = std::string(kS_SomnaraDaemonDistributedGroupName) + "." + std::to_string(::geteuid());
  auto raw = context.notifications().observe(
      kS_ORVDistributedNotificationGroupMessage, group, [&](const host::Notification& n) {
        const Value* type = n.userInfo ? n.userInfo->find(kS_ORVDistributedNotification_MessageKey) : nullptr;
        if (integerOrZero(type) != kMessageStateApplied) return;
        appliedMessage = true;
        checkSoon();
      });
  controller = &SomnaraDaemon::sharedSomnaraDaemon(context);
  if (!raw || controller->processtype() != kProcessTypeApplication) {
    std::fprintf(stderr, "peer: no session bus, or process type %lld is not the preferences application\n",
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

  context.loop().schedule(std::chrono::milliseconds(std::atoi(argv[3])), false, [&] {
    std::printf("timeout message=%d notice=%d state=%lld\n", appliedMessage, stateNotice,
                static_cast<long long>(controller->currentsleepstate().value_or(-1)));
    std::fflush(stdout);
    QCoreApplication::exit(3);
  });
  // What the settings window's binding does: store the index in the shared domain.
  context.defaults().setValue(kS_SomnaraUserDefaultSleepModeIndex, Value(mode));
  return host.exec();
}
