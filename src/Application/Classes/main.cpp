#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>

#include <cstring>
#include <iostream>

#include "Application/Classes/OpenFileForwarding.h"
#include "Application/Classes/PreferencesWindow.h"
#include "Application/Classes/Somnara_AppDelegate.h"
#include "ORVPrivate/Appkit/ORVApplicationStartupHelper.h"
#include "menubar/InsomniaCommand.h"
#include "host/linux/BundleApplications.h"
#include "host/linux/CanberraSounds.h"
#include "host/linux/DBusInsomniaRemote.h"
#include "host/linux/LinuxHost.h"
#include "host/linux/LinuxInhibitors.h"
#include "host/linux/QtDesktopServices.h"
#include "host/linux/SessionStatusArea.h"
#include "host/linux/XdgAutostartLoginItems.h"

namespace {
constexpr std::chrono::milliseconds kForwardTimeout{3000};

// `somnara insomnia …`: asks the running agent, opens no window, needs no display.
int insomniaCommand(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  somnara::linuxhost::DBusInsomniaRemote agent(QDBusConnection::sessionBus());
  return somnara::InsomniaCommand::run({argv + 2, argv + argc}, agent, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "insomnia") == 0) return insomniaCommand(argc, argv);
  QApplication application(argc, argv);
  somnara::linuxhost::LinuxHost host;
  auto& context = host.context();

  // Started to open a file while an instance runs: that instance shows it.
  const QStringList arguments = QApplication::arguments();
  const std::string file = arguments.size() > 1 ? arguments.at(1).toStdString() : std::string();
  if (!file.empty() && somnara::OpenFileForwarding::runningInstance(context) >= 0) {
    auto sent = somnara::OpenFileForwarding::forward(context, file, [] { QApplication::quit(); });
    context.loop().schedule(kForwardTimeout, false, [] { QApplication::quit(); });
    return host.exec();
  }

  somnara::ORVApplicationStartupHelper::standardApplicationStartup(context);
  somnara::linuxhost::BundleApplications applications;
  somnara::linuxhost::XdgAutostartLoginItems loginItems(somnara::linuxhost::XdgAutostartLoginItems::defaultDirectory());
  somnara::linuxhost::QtDesktopServices desktop;
  somnara::linuxhost::CanberraSounds sounds(host.workspace());
  somnara::linuxhost::SessionStatusArea statusArea(QDBusConnection::sessionBus());
  somnara::linuxhost::LinuxInhibitors inhibitors(host.logind(), QDBusConnection::sessionBus(),
                                                 static_cast<unsigned>(QCoreApplication::applicationPid()));
  const somnara::host::PreferencesPorts ports{applications, loginItems, desktop, sounds, statusArea, inhibitors,
                                              nullptr};

  somnara::PreferencesWindow window(context, ports);
  somnara::Somnara_AppDelegate delegate(context, ports, window);
  window.connectDelegate(delegate);
  auto forwarded = somnara::OpenFileForwarding::receive(context, [&delegate](const std::string& path) {
    delegate.openFile(path);
  });
  window.makeKeyAndOrderFront();
  return host.run(delegate);
}
