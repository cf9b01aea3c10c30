// The preferences program's window and delegate on the real host, its controls
// worked from stdin, one command a line, each answered "ok ..." or "error ...":
//   click <objectName>        clicks a button, check box or radio button ("ok checked" or "ok unchecked")
//   press <accessible name>   clicks the button of that accessible name (else label; words to the line's end)
//   text <objectName>         a label's text
//   message -                 the open message box as "<title>: <text>", line breaks as \n
//   quit                      quits the program the normal way
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <iostream>
#include <string>

#include "Application/Classes/PreferencesWindow.h"
#include "Application/Classes/Somnara_AppDelegate.h"
#include "ORVPrivate/Appkit/ORVApplicationStartupHelper.h"
#include "host/linux/BundleApplications.h"
#include "host/linux/CanberraSounds.h"
#include "host/linux/LinuxHost.h"
#include "host/linux/LinuxInhibitors.h"
#include "host/linux/QtDesktopServices.h"
#include "host/linux/SessionStatusArea.h"
#include "host/linux/XdgAutostartLoginItems.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  somnara::linuxhost::LinuxHost host;
  somnara::ORVApplicationStartupHelper::standardApplicationStartup(host.context());
  somnara::linuxhost::BundleApplications applications;
  somnara::linuxhost::XdgAutostartLoginItems loginItems(somnara::linuxhost::XdgAutostartLoginItems::defaultDirectory());
  somnara::linuxhost::QtDesktopServices desktop;
  somnara::linuxhost::CanberraSounds sounds(host.workspace());
  somnara::linuxhost::SessionStatusArea statusArea(QDBusConnection::sessionBus());
  somnara::linuxhost::LinuxInhibitors inhibitors(host.logind(), QDBusConnection::sessionBus(),
                                                 static_cast<unsigned>(QCoreApplication::applicationPid()));
  const somnara::host::PreferencesPorts ports{applications, loginItems, desktop, sounds, statusArea, inhibitors,
                                              nullptr};
  somnara::PreferencesWindow window(host.context(), ports);
  somnara::Somnara_AppDelegate delegate(host.context(), ports, window);
  window.connectDelegate(delegate);
  window.makeKeyAndOrderFront();

  const auto answer = [](const std::string& line) { std::cout << line << std::endl; };
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    std::string command, name;
    if (!(std::cin >> command)) {
      QApplication::quit();
      return;
    }
    if (command == "quit") {
      answer("ok");
      window.close();
      return;
    }
    std::cin >> name;
    if (command == "click") {
      auto* button = window.findChild<QAbstractButton*>(QString::fromStdString(name));
      if (!button || !button->isEnabled()) return answer("error no enabled button " + name);
      button->click();
      return answer(std::string("ok ") + (button->isChecked() ? "checked" : "unchecked"));
    }
    if (command == "press") {
      std::string rest;
      std::getline(std::cin, rest);
      const QString accessible = QString::fromStdString(name + rest);
      for (auto* button : window.findChildren<QAbstractButton*>())
        if ((button->accessibleName().isEmpty() ? QString(button->text()).remove('&') : button->accessibleName()) ==
                accessible &&
            button->isEnabled()) {
          button->click();
          return answer("ok");
        }
      return answer("error no enabled button named " + accessible.toStdString());
    }
    if (command == "message") {
      for (auto* box : window.findChildren<QMessageBox*>())
        if (box->isVisible())
          return answer("ok " + QString(box->windowTitle() + ": " + box->text()).replace('\n', "\\n").toStdString());
      return answer("error no message");
    }
    if (command == "text") {
      auto* label = window.findChild<QLabel*>(QString::fromStdString(name));
      if (!label) return answer("error no label " + name);
      return answer("ok " + label->text().toStdString());
    }
    answer("error unknown command " + command);
  });
  // Once the loop runs, the window has been shown.
  QTimer::singleShot(0, [&] { answer("ready"); });
  return host.run(delegate);
}
