// Draws the settings window for the README into the folder given as the
// last argument: preferences-window.png (light palette, adaptive mode),
// preferences-window-dark.png (dark palette, scrolled to the version text)
// and preferences-window-no-hibernation.png (a machine without swap).
// Run with a screen configuration that has a 1024x600 screen.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QStyleFactory>

#include <cstdio>

#include "DarkPalette.h"
#include "Application/Classes/PreferencesWindow.h"
#include "Application/Classes/Somnara_AppDelegate.h"
#include "core/SomnaraDaemon.h"
#include "host/sim/SimApplications.h"
#include "host/sim/SimDesktop.h"
#include "host/sim/SimLoginItems.h"
#include "host/sim/SimMachine.h"
#include "host/sim/SimStatusArea.h"

using namespace somnara;
using namespace somnara::sim;
using namespace std::chrono_literals;

namespace {

constexpr const char* kBundle = "/Applications/Somnara.app";
const std::string kAgentPath = std::string(kBundle) + "/Contents/Library/LoginItems/Somnara MenuBar.app";
const std::string kDaemonPath = std::string(kBundle) + "/Contents/Library/LoginItems/Somnara Daemon.app";


/// A user's machine with the window open on the 1024x600 screen and the
/// daemon the window started running its controller.
struct Scene {
  SimMachine machine;
  SimProgram& prefs = machine.addProgram(kS_SomnaraApplicationBundleIdentifier, {kBundle});
  SimApplications apps{machine};
  SimLoginItems items;
  SimDesktop desktop;
  SimStatusArea statusArea;
  std::unique_ptr<PreferencesWindow> window;
  std::unique_ptr<Somnara_AppDelegate> delegate;

  explicit Scene(const powertool::SleepCapabilities& caps, std::int64_t modeIndex) {
    machine.state().setBattery(63, 130);
    machine.state().setSleepCapabilities(caps);
    apps.installBundle(kBundle, {kS_SomnaraApplicationBundleIdentifier, "Somnara", "0.1.0", "1",
                                 " 2026 Orvane. All rights reserved."});
    apps.installBundle(kAgentPath, {kS_SomnaraMenuBarBundleIdentifier, "Somnara MenuBar", {}, {}, {}});
    apps.installBundle(kDaemonPath, {kS_SomnaraDaemonBundleIdentifier, "Somnara Daemon", {}, {}, {}});
    statusArea.setKind(host::StatusArea::Kind::StatusNotifierHost);
    machine.defaults().write(kS_SomnaraApplicationBundleIdentifier, Somnara_AppDelegate::kFirstStartDoneKey,
                             Value(true));
    machine.defaults().write(kS_SomnaraApplicationBundleIdentifier, kS_SomnaraUserDefaultSleepModeIndex,
                             Value(modeIndex));
    const host::PreferencesPorts ports{apps,       items, desktop, prefs.agentPorts().sounds,
                                       statusArea, prefs.agentPorts().inhibitors, nullptr};
    window = std::make_unique<PreferencesWindow>(prefs.context(), ports);
    QScreen* screen = QGuiApplication::primaryScreen();
    for (QScreen* s : QGuiApplication::screens())
      if (s->size() == QSize(1024, 600)) screen = s;
    window->setScreen(screen);
    window->move(screen->availableGeometry().topLeft());
    delegate = std::make_unique<Somnara_AppDelegate>(prefs.context(), ports, *window);
    window->connectDelegate(*delegate);
    delegate->awakeFromNib();
    window->makeKeyAndOrderFront();
    settle();
    for (int pid : prefs.processes().runningApplications(kS_SomnaraDaemonBundleIdentifier))
      SomnaraDaemon::sharedSomnaraDaemon(machine.runningProgram(pid)->context());
    machine.advance(3s);
    settle();
  }
  ~Scene() {
    delegate.reset();
    window.reset();
  }
  void settle() {
    machine.runPending();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }
  bool save(const QString& file) {
    settle();
    const bool saved = window->grab().save(file);
    if (!saved) std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    return saved;
  }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  const QPalette light = QApplication::style()->standardPalette();
  QApplication::setPalette(light);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [-platform ...] <folder>\n", argv[0]);
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[argc - 1]));
  QDir().mkpath(out.path());
  bool ok = true;
  {
    Scene scene(powertool::SleepCapabilities::all(), 1);
    ok &= scene.save(out.filePath("preferences-window.png"));
    QApplication::setPalette(somnara::testing::darkPalette());
    scene.window->findChild<QScrollArea*>("settingsArea")
        ->ensureWidgetVisible(scene.window->findChild<QLabel*>("versionText"));
    ok &= scene.save(out.filePath("preferences-window-dark.png"));
    QApplication::setPalette(light);
  }
  {
    using powertool::SleepAbility;
    using powertool::SleepBlocker;
    Scene scene({SleepAbility::yes(), {SleepBlocker::NoSwap}, {SleepBlocker::NoSwap}}, 3);
    scene.window->resize(560, scene.window->sizeHint().height() + 60);
    ok &= scene.save(out.filePath("preferences-window-no-hibernation.png"));
  }
  return ok ? 0 : 1;
}
