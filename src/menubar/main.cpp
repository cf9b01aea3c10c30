#include <QApplication>

#include "ORVPrivate/Appkit/ORVApplicationStartupHelper.h"
#include "host/linux/LinuxHost.h"
#include "menubar/MenuBarAppDelegate.h"
#include "menubar/TrayStatusItem.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The slider window closing must not end a program whose face is the tray.
  QApplication::setQuitOnLastWindowClosed(false);
  somnara::linuxhost::LinuxHost host;
  somnara::ORVApplicationStartupHelper::standardApplicationStartup(host.context());
  somnara::TrayStatusItem statusItem(host.context());
  somnara::MenuBarAppDelegate delegate(host.context(), host.agentPorts(), statusItem);
  statusItem.connectMenu(delegate);
  return host.run(delegate);
}
