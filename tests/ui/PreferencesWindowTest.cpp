// The settings window on the simulated machine, offscreen: bindings to the
// settings and the controllers, keyboard and accessibility, bad input, and
// the picture for the README.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleFactory>

#include <map>
#include <set>

#include "Application/Classes/PreferencesWindow.h"
#include "Application/Classes/Somnara_AppDelegate.h"
#include "core/SomnaraDaemon.h"
#include "host/sim/SimApplications.h"
#include "host/sim/SimDesktop.h"
#include "host/sim/SimLoginItems.h"
#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

using namespace std::chrono_literals;
constexpr const char* kBundle = "/Applications/Somnara.app";
const std::string kAgentPath = std::string(kBundle) + "/Contents/Library/LoginItems/Somnara MenuBar.app";
const std::string kDaemonPath = std::string(kBundle) + "/Contents/Library/LoginItems/Somnara Daemon.app";

host::Applications::BundleInfo bundle(std::string identifier, std::string name, std::string shortVersion = {},
                                      std::string build = {}, std::string notice = {}) {
  return {std::move(identifier), std::move(name), std::move(shortVersion), std::move(build), std::move(notice)};
}

struct WindowTest : ::testing::Test {
  SimMachine machine;
  SimProgram& daemon = machine.addProgram(kS_SomnaraDaemonBundleIdentifier, {kDaemonPath});
  SimProgram& prefs = machine.addProgram(kS_SomnaraApplicationBundleIdentifier, {kBundle});
  SimApplications apps{machine};
  SimLoginItems items;
  SimDesktop desktop;
  std::unique_ptr<PreferencesWindow> window;
  std::unique_ptr<Somnara_AppDelegate> delegate;

  WindowTest() {
    machine.state().setBattery(63, 130);
    SomnaraDaemon::sharedSomnaraDaemon(daemon.context());
    apps.installBundle(kBundle, bundle(kS_SomnaraApplicationBundleIdentifier, "Somnara", "0.1.0", "1",
                                       " 2026 Orvane. All rights reserved."));
    apps.installBundle(kAgentPath, bundle(kS_SomnaraMenuBarBundleIdentifier, "Somnara MenuBar"));
  }
  void open() {
    const host::PreferencesPorts ports{apps, items, desktop, prefs.agentPorts().sounds, nullptr};
    window = std::make_unique<PreferencesWindow>(prefs.context(), ports);
    delegate = std::make_unique<Somnara_AppDelegate>(prefs.context(), ports, *window);
    window->connectDelegate(*delegate);
    delegate->awakeFromNib();
    window->makeKeyAndOrderFront();
    settle();
  }
  void settle() {
    machine.runPending();
    QApplication::processEvents();
  }
  template <class T>
  T* find(const char* name) {
    T* w = window->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::optional<Value> stored(const char* key) { return machine.defaults().value(kS_SomnaraApplicationBundleIdentifier, key); }
};

TEST_F(WindowTest, EveryControlHasANameAndAKeyboardPath) {
  open();
  std::map<QChar, QString> mnemonics;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                         qobject_cast<QLineEdit*>(w) || qobject_cast<QSlider*>(w);
    if (!control || w->parentWidget() == nullptr || w->inherits("QMenu")) continue;
    if (w->objectName().startsWith("qt_")) continue;  // Qt's own parts
    SCOPED_TRACE(std::string(w->metaObject()->className()) + " " + w->objectName().toStdString());
    EXPECT_FALSE(w->accessibleName().isEmpty());
    // Tab reaches the chosen one of a group of choices, arrows the others.
    auto* radio = qobject_cast<QRadioButton*>(w);
    EXPECT_TRUE((w->focusPolicy() & Qt::TabFocus) || (radio && !radio->isChecked())) << "reachable with Tab";
    // Alt+key, where given on the control or the label naming it, is unique.
    QString text = qobject_cast<QAbstractButton*>(w) ? qobject_cast<QAbstractButton*>(w)->text() : QString();
    if (text.isEmpty())
      for (QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy() == w) text = label->text();
    const auto amp = text.indexOf('&');
    if (amp < 0) continue;
    const QChar key = text.at(amp + 1).toLower();
    EXPECT_FALSE(mnemonics.count(key)) << "Alt+" << QString(key).toStdString() << " taken by "
                                       << mnemonics[key].toStdString();
    mnemonics[key] = w->accessibleName();
  }
  EXPECT_GE(mnemonics.size(), 18u);
}

TEST_F(WindowTest, ChoicesReachTheMachineAndTheStatusLineSaysWhy) {
  open();
  find<QRadioButton>("sleepMode3")->click();
  settle();
  EXPECT_EQ(stored(kS_SomnaraUserDefaultSleepModeIndex), Value(3));
  const auto mode = machine.state().peekRootDomainProperty("Hibernate Mode");
  ASSERT_TRUE(mode);
  EXPECT_EQ(mode->integer(), 1) << "the daemon applied hibernate";
  EXPECT_EQ(find<QLabel>("status")->text().toStdString(), "Machine will hibernate on sleep");

  find<QRadioButton>("sleepMode1")->click();
  find<QSpinBox>("hibernateLevel")->setValue(70);
  settle();
  EXPECT_EQ(stored(kS_SomnaraUserDefaultsHibernateLevel), Value(70));
  EXPECT_EQ(find<QLabel>("statusReason")->text().toStdString(),
            "Adaptive: battery at 63 %, 130 min left, level 63 is at or below the hibernate level 70.");
  EXPECT_EQ(find<QLabel>("status")->text().toStdString(), "Machine will sleep and hibernate on sleep");

  find<QCheckBox>(kS_SomnaraUserDefaultsHardSetValues)->click();
  find<QSlider>("volume")->setValue(50);
  EXPECT_EQ(stored(kS_SomnaraUserDefaultsHardSetValues), Value(true));
  EXPECT_EQ(stored(kS_SomnaraUserDefaultsInsomniaSoundVolume), Value(0.5));

  // A change made elsewhere shows up in the window.
  prefs.defaults().setValue(kS_SomnaraUserDefaultBlackAndWhiteIcon, Value(true));
  settle();
  EXPECT_TRUE(find<QCheckBox>(kS_SomnaraUserDefaultBlackAndWhiteIcon)->isChecked());
}

TEST_F(WindowTest, ProgramSwitchesFollowTheControllersAndMissingProgramsAreExplained) {
  open();  // the daemon is missing from this bundle
  auto* login = find<QCheckBox>("agentLoginItem");
  auto* running = find<QCheckBox>("agentRunning");
  EXPECT_FALSE(running->isChecked());
  login->click();
  settle();
  EXPECT_EQ(items.entries().size(), 1u);
  EXPECT_TRUE(running->isChecked()) << "the agent starts with its login item";
  login->click();
  settle();
  EXPECT_TRUE(items.entries().empty());
  EXPECT_FALSE(running->isChecked());

  items.setWriteError("Permission denied");
  login->click();
  settle();
  EXPECT_FALSE(login->isChecked());
  EXPECT_TRUE(find<QLabel>("agentNote")->text().contains("Permission denied"));

  EXPECT_FALSE(find<QCheckBox>("daemonRunning")->isEnabled());
  EXPECT_FALSE(find<QCheckBox>("daemonLoginItem")->isEnabled());
  EXPECT_TRUE(find<QLabel>("daemonNote")->text().contains("missing"));
}

TEST_F(WindowTest, SoundThatCannotBePlayedIsSaid) {
  open();
  auto* file = find<QLineEdit>("soundFile");
  file->setText("/nowhere/alarm.wav");
  emit file->editingFinished();
  EXPECT_EQ(stored(kS_SomnaraUserDefaultsInsomniaSound), Value("/nowhere/alarm.wav"));
  find<QAbstractButton>("playSound")->click();
  auto* problem = find<QLabel>("soundProblem");
  EXPECT_FALSE(problem->isHidden());
  EXPECT_TRUE(problem->text().contains("/nowhere/alarm.wav"));
  file->clear();
  emit file->editingFinished();
  EXPECT_FALSE(stored(kS_SomnaraUserDefaultsInsomniaSound)) << "an empty path means the built-in sound";
}

// Where the machine has no swap, the choices that need hibernation are
// greyed out with the reason beneath; one stored before stays checked and
// the status says what happens instead. The picture goes beside the main one.
TEST_F(WindowTest, ChoicesTheMachineCannotDoAreGreyedOutWithTheReason) {
  using powertool::SleepAbility;
  using powertool::SleepBlocker;
  apps.installBundle(kDaemonPath, bundle(kS_SomnaraDaemonBundleIdentifier, "Somnara Daemon"));
  machine.state().setSleepCapabilities({SleepAbility::yes(), {SleepBlocker::NoSwap}, {SleepBlocker::NoSwap}});
  machine.defaults().write(kS_SomnaraApplicationBundleIdentifier, kS_SomnaraUserDefaultSleepModeIndex, Value(3));
  machine.advance(3s);
  open();
  // The daemon the window started from its bundle runs its controller.
  for (int pid : prefs.processes().runningApplications(kS_SomnaraDaemonBundleIdentifier))
    SomnaraDaemon::sharedSomnaraDaemon(machine.runningProgram(pid)->context());
  settle();
  for (int i : {3, 4}) {
    EXPECT_FALSE(find<QRadioButton>(("sleepMode" + std::to_string(i)).c_str())->isEnabled()) << i;
    EXPECT_EQ(find<QLabel>(("sleepMode" + std::to_string(i) + "Explanation").c_str())->text().toStdString(),
              "This machine can't hibernate: no swap space.");
  }
  for (int i : {0, 1, 2}) EXPECT_TRUE(find<QRadioButton>(("sleepMode" + std::to_string(i)).c_str())->isEnabled()) << i;
  EXPECT_TRUE(find<QRadioButton>("sleepMode3")->isChecked());
  EXPECT_EQ(find<QLabel>("status")->text().toStdString(), "Machine will sleep on sleep");
  EXPECT_EQ(find<QLabel>("statusReason")->text().toStdString(),
            "Because \"Hibernate\" is chosen. This machine can't hibernate: no swap space, so it sleeps.");

  // Swap comes back: the choices return with the next status refresh.
  machine.state().setSleepCapabilities(powertool::SleepCapabilities::all());
  machine.advance(3s);
  settle();
  EXPECT_TRUE(find<QRadioButton>("sleepMode3")->isEnabled());
  machine.state().setSleepCapabilities({SleepAbility::yes(), {SleepBlocker::NoSwap}, {SleepBlocker::NoSwap}});
  machine.advance(3s);
  settle();

  window->resize(560, window->sizeHint().height() + 60);
  settle();
  const char* path = std::getenv("SOMNARA_SCREENSHOT");
  ASSERT_TRUE(path) << "SOMNARA_SCREENSHOT names the picture file (ctest sets it)";
  QString other = QString(path).replace(".png", "-no-hibernation.png");
  QDir().mkpath(QFileInfo(other).path());
  EXPECT_TRUE(window->grab().save(other)) << other.toStdString();
}

TEST_F(WindowTest, PictureForTheReadme) {
  apps.installBundle(kDaemonPath, bundle(kS_SomnaraDaemonBundleIdentifier, "Somnara Daemon"));
  open();
  // The daemon the window started from its bundle runs its controller.
  for (int pid : prefs.processes().runningApplications(kS_SomnaraDaemonBundleIdentifier))
    SomnaraDaemon::sharedSomnaraDaemon(machine.runningProgram(pid)->context());
  find<QRadioButton>("sleepMode1")->click();
  window->resize(560, window->sizeHint().height() + 60);
  settle();
  const char* path = std::getenv("SOMNARA_SCREENSHOT");
  ASSERT_TRUE(path) << "SOMNARA_SCREENSHOT names the picture file (ctest sets it)";
  QDir().mkpath(QFileInfo(path).path());
  const QPixmap picture = window->grab();
  EXPECT_GT(picture.width(), 300);
  EXPECT_TRUE(picture.save(path)) << path;
}

}  // namespace
}  // namespace somnara::sim

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication::setPalette(QApplication::style()->standardPalette());  // the light theme
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
