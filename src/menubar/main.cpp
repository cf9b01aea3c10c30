#include <QApplication>

#include <memory>

#include "ORVPrivate/Appkit/ORVApplicationStartupHelper.h"
#include "host/linux/LinuxAgentHost.h"
#include "host/linux/LinuxHost.h"
#include "menubar/InsomniaRemoteControl.h"
#include "menubar/MenuBarAppDelegate.h"
#include "menubar/TrayStatusItem.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The slider window closing must not end a program whose face is the tray.
  QApplication::setQuitOnLastWindowClosed(false);
  somnara::linuxhost::LinuxHost host;
  somnara::ORVApplicationStartupHelper::standardApplicationStartup(host.context());
  somnara::linuxhost::LinuxAgentHost agentHost(host);
  auto& ports = agentHost.ports();
  auto statusItem = std::make_unique<somnara::TrayStatusItem>(host.context(), ports.trayHosts);
  somnara::MenuBarAppDelegate delegate(host.context(), ports, *statusItem);
  statusItem->connectMenu(delegate);
  // The command line's way to Insomnia, served once the loop runs.
  somnara::InsomniaRemoteControl remote(delegate, delegate.inhibitorList(), ports.insomniaService,
                                        host.loop());
  const int status = host.run(delegate);
  // The menu follows the delegate's properties: it goes first.
  statusItem.reset();
  return status;
}
