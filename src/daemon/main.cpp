#include <QCoreApplication>

#include "ORVPrivate/Appkit/ORVApplicationStartupHelper.h"
#include "daemon/Somnara_DaemonDelegate.h"
#include "host/linux/LinuxHost.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  somnara::linuxhost::LinuxHost host;
  somnara::ORVApplicationStartupHelper::standardApplicationStartup(host.context());
  somnara::Somnara_DaemonDelegate delegate(host.context());
  return host.run(delegate);
}
