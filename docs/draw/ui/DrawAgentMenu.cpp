// Draws the tray agent's open menu for the README into the folder given as
// the argument: agent-menu-no-hibernation.png, on a machine without swap
// (the commands that need hibernation greyed out) in the sleep mode.
#include <QApplication>
#include <QDir>
#include <QMenu>

#include <cstdio>

#include "host/sim/SimMachine.h"
#include "menubar/MenuBarAppDelegate.h"
#include "menubar/TrayStatusItem.h"

using namespace somnara;
using namespace somnara::sim;

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[argc - 1]));
  QDir().mkpath(out.path());
  using powertool::SleepAbility;
  using powertool::SleepBlocker;
  SimMachine machine;
  machine.state().setSleepCapabilities({SleepAbility::yes(), {SleepBlocker::NoSwap}, {SleepBlocker::NoSwap}});
  machine.state().setHibernateMode(host::HibernateModeReading::of(0));
  SimProgram& program = machine.addProgram(kS_SomnaraMenuBarBundleIdentifier);
  auto tray = std::make_unique<TrayStatusItem>(program.context(), program.agentPorts().trayHosts);
  auto delegate = std::make_unique<MenuBarAppDelegate>(program.context(), program.agentPorts(), *tray);
  tray->connectMenu(*delegate);
  delegate->awakeFromNib();
  machine.runPending();
  QMenu* menu = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = qobject_cast<QMenu*>(w))
      for (QAction* a : m->actions())
        if (a->text() == "Sleep Now") menu = m;
  if (!menu) {
    std::fprintf(stderr, "no tray menu\n");
    return 1;
  }
  emit menu->aboutToShow();
  menu->adjustSize();
  const QString file = out.filePath("agent-menu-no-hibernation.png");
  const bool saved = menu->grab().save(file);
  if (!saved) std::fprintf(stderr, "could not write %s\n", qPrintable(file));
  tray.reset();  // the menu follows the delegate: it goes first
  delegate.reset();
  return saved ? 0 : 1;
}
