// The preferences program's delegate: start-up, first start, tray notice, updates, help, log, files.
#include <map>

#include "Application/Classes/OpenFileForwarding.h"
#include "Application/Classes/SleepStatusText.h"
#include "Application/Classes/Somnara_AppDelegate.h"
#include "Application/Classes/UpdateMenuPlacement.h"
#include "SimControllerSupport.h"
#include "host/sim/SimUpdater.h"

namespace somnara::sim::testing {
namespace {

// A window that counts being brought forward and an application menu of titles.
struct FakeInterface : ApplicationInterface {
  void makeKeyAndOrderFront() override { ++fronted; }
  void afterWindowShown(std::function<void()> fn) override { afterShown.push_back(std::move(fn)); }
  /// The window has been drawn: what waited for it runs.
  void shown() {
    while (!afterShown.empty()) {
      auto fn = std::move(afterShown.front());
      afterShown.erase(afterShown.begin());
      fn();
    }
  }
  void setVersionText(const VersionText& text) override { version = text; }
  void setNotice(Notice notice, const std::string& text) override { notices[notice] = text; }
  void showMessage(const std::string& title, const std::string& text) override { messages.push_back(title + ": " + text); }
  std::optional<std::vector<std::string>> applicationMenuTitles() const override { return menu; }
  void insertApplicationMenuItem(std::size_t index, const std::string& title, std::function<void()> action) override {
    menu->insert(menu->begin() + static_cast<std::ptrdiff_t>(index), title);
    actions.push_back(std::move(action));
  }
  void bindBackgroundControllers(ORVBackgroundApplicationController* m, ORVBackgroundApplicationController* d) override {
    menuBar = m;
    daemon = d;
  }
  int fronted = 0;
  std::vector<std::function<void()>> afterShown;
  VersionText version;
  std::map<Notice, std::string> notices;
  std::vector<std::string> messages;
  std::optional<std::vector<std::string>> menu = std::vector<std::string>{"About", "Preferences…", "Quit"};
  std::vector<std::function<void()>> actions;
  ORVBackgroundApplicationController* menuBar = nullptr;
  ORVBackgroundApplicationController* daemon = nullptr;
};

struct PreferencesTest : ::testing::Test, Installation {
  SimUpdater updater;
  FakeInterface ui;

  // A user who has run Somnara before, on a desktop with a tray, unless a test says otherwise.
  explicit PreferencesTest(bool settingsDomainExists = true) {
    apps.installBundle(kBundle, bundle(kApp, "Somnara", "2.0", "300", " 2026 Orvane"));
    if (settingsDomainExists) machine.defaults().write(kApp, kS_SomnaraUserDefaultsHibernateLevel, Value(30));
    statusArea.setKind(host::StatusArea::Kind::StatusNotifierHost);
  }
};

TEST_F(PreferencesTest, StartRestartsTheDaemonFromTheOwnBundleOnly) {
  SimProgram& stale = machine.addProgram(kDaemon, {kDaemonPath});
  SimProgram& otherCopy = machine.addProgram(kDaemon, {"/opt/Old/Somnara Daemon.app"});
  otherCopy.setIgnoresTerminate(true);
  statusArea.setKind(host::StatusArea::Kind::None);
  Somnara_AppDelegate delegate(prefs.context(), ports(), ui);
  delegate.awakeFromNib();
  delegate.applicationWillBecomeActive();
  machine.runPending();
  EXPECT_TRUE(stale.isRunning()) << "nothing that blocks before the window is drawn";
  EXPECT_EQ(statusArea.lookCount(), 0);
  EXPECT_EQ(ui.daemon, delegate.daemonController()) << "the switches are bound at once";
  ui.shown();
  machine.runPending();
  EXPECT_EQ(statusArea.lookCount(), 1) << "one look serves both asks";
  EXPECT_FALSE(stale.isRunning()) << "the running daemon is restarted, not kept";
  EXPECT_FALSE(otherCopy.isRunning());
  ASSERT_EQ(running(kDaemon).size(), 1u);
  EXPECT_EQ(*prefs.processes().bundlePathOfApplication(running(kDaemon)[0]), kDaemonPath);
  EXPECT_TRUE(running(kAgent).empty()) << "the agent follows its login item only";
  EXPECT_FALSE(delegate.daemonController()->launchandterminateonloginitemstate());
  EXPECT_TRUE(delegate.menuBarController()->launchandterminateonloginitemstate());
  EXPECT_EQ(ui.menuBar, delegate.menuBarController());
  EXPECT_EQ(ui.daemon, delegate.daemonController());

  prefs.terminate();  // quitting: only login items keep running
  machine.runPending();
  EXPECT_TRUE(running(kDaemon).empty());
}

struct FirstStartTest : PreferencesTest {
  FirstStartTest() : PreferencesTest(false) {}
  std::vector<std::string> loginItemPaths() {
    std::vector<std::string> paths;
    for (const auto& e : items.entries()) paths.push_back(e.bundlePath.value_or("(unresolved)"));
    return paths;
  }
};

// The first start makes both programs login items, starts them and says so; the switches undo it for good.
TEST_F(FirstStartTest, MakesBothProgramsLoginItemsOnceAndSaysSo) {
  {
    Somnara_AppDelegate delegate(prefs.context(), ports(), ui);
    delegate.awakeFromNib();
    ui.shown();
    machine.runPending();
    EXPECT_EQ(loginItemPaths(), (std::vector<std::string>{kAgentPath, kDaemonPath}));
    EXPECT_EQ(running(kAgent).size(), 1u) << "the tray icon shows at once";
    EXPECT_EQ(running(kDaemon).size(), 1u);
    EXPECT_EQ(ui.notices[ApplicationInterface::Notice::FirstStart],
              "Somnara's tray icon and daemon now start at every login; the switches under \"Background "
              "programs\" turn that off.");
    EXPECT_TRUE(prefs.defaults().ownDomainExists());
    // The user switches the agent off.
    delegate.menuBarController()->setLoginitem(false);
    machine.runPending();
    EXPECT_TRUE(running(kAgent).empty());
  }
  // The next start leaves the user's choice alone.
  FakeInterface second;
  Somnara_AppDelegate later(prefs.context(), ports(), second);
  later.awakeFromNib();
  second.shown();
  machine.runPending();
  EXPECT_EQ(loginItemPaths(), std::vector<std::string>{kDaemonPath});
  EXPECT_TRUE(running(kAgent).empty());
  EXPECT_FALSE(second.notices.count(ApplicationInterface::Notice::FirstStart));
}

// Only what was done is said; a failed list is not tried again at every start.
TEST_F(FirstStartTest, SaysOnlyWhatItDid) {
  const struct {
    const char* name;
    bool agentInstalled;
    std::string writeError;
    std::vector<std::string> paths;
    std::string notice;
  } cases[] = {
      {"agent missing", false, "", {kDaemonPath},
       "Somnara's daemon now starts at every login; the switches under \"Background programs\" turn that off."},
      {"list not writable", true, "Permission denied", {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation fresh;
    fresh.items.setWriteError(c.writeError);
    fresh.apps.installBundle(kBundle, bundle(kApp, "Somnara"));
    if (!c.agentInstalled) fresh.apps.uninstall(kAgentPath);
    FakeInterface face;
    Somnara_AppDelegate delegate(fresh.prefs.context(), fresh.ports(), face);
    delegate.awakeFromNib();
    face.shown();
    std::vector<std::string> paths;
    for (const auto& e : fresh.items.entries()) paths.push_back(*e.bundlePath);
    EXPECT_EQ(paths, c.paths);
    EXPECT_EQ(face.notices[ApplicationInterface::Notice::FirstStart], c.notice);
    EXPECT_TRUE(fresh.prefs.defaults().ownDomainExists()) << "the next start is no first start";
  }
}

// Without a tray the window says so; each activation looks again and brings the window forward.
TEST_F(PreferencesTest, NoticeWhereNoStatusAreaShowsTheIcon) {
  using Kind = host::StatusArea::Kind;
  Somnara_AppDelegate delegate(prefs.context(), ports(), ui);
  // The first at start-up, the others at each activation.
  const std::pair<Kind, bool> cases[] = {
      {Kind::None, true}, {Kind::StatusNotifierHost, false}, {Kind::XEmbedTray, false}, {Kind::None, true}};
  for (int i = 0; i < 4; ++i) {
    statusArea.setKind(cases[i].first);
    if (i == 0)
      delegate.awakeFromNib();
    else
      delegate.applicationWillBecomeActive();
    ui.shown();
    const std::string& notice = ui.notices[ApplicationInterface::Notice::NoStatusArea];
    EXPECT_EQ(notice.find("needs a tray extension") != std::string::npos, cases[i].second) << i << ": " << notice;
    EXPECT_EQ(notice.empty(), !cases[i].second) << i;
    EXPECT_EQ(ui.fronted, i) << "each activation brings the window forward";
  }
  EXPECT_EQ(statusArea.lookCount(), 4);
  EXPECT_FALSE(ui.notices.count(ApplicationInterface::Notice::FirstStart)) << "no first start";
}

TEST_F(PreferencesTest, MissingProgramGivesNoControllerAndNoCrash) {
  apps.uninstall(kAgentPath);
  Somnara_AppDelegate delegate(prefs.context(), ports(&updater), ui);
  delegate.awakeFromNib();
  delegate.updaterWillInstallUpdate();
  EXPECT_EQ(delegate.menuBarController(), nullptr);
  EXPECT_EQ(ui.menuBar, nullptr);
  EXPECT_NE(ui.daemon, nullptr);
  EXPECT_EQ(countLog(prefs, "-[ORVBackgroundApplicationController initWithName:]",
                     "Could not find backgroundApplication path for name:de.orvane.Somnara.MenuBar"),
            1);
}

TEST_F(PreferencesTest, UpdateItemGoesAfterPreferencesOrByMenuLength) {
  using Titles = std::vector<std::string>;
  const std::pair<Titles, std::size_t> cases[] = {
      {{"About", "Services", "Preferences", "Hide"}, 3},
      {{"Preferences…", "Preferences again"}, 1},    // the first match wins
      {{"About", "Preferences and more"}, 2},         // a prefix counts
      {{"About", "Quit"}, 2},                          // short menu: appended
      {{}, 0},
      {{"About", "Services", "Hide", "Quit"}, 2},
      {{"About", "preferences", "Hide"}, 2},           // case matters
  };
  for (const auto& [titles, index] : cases) EXPECT_EQ(updateMenuItemIndex(titles), index) << titles.size();

  Somnara_AppDelegate delegate(prefs.context(), ports(&updater), ui);
  delegate.applicationDidFinishLaunching();
  EXPECT_EQ(*ui.menu, (Titles{"About", "Preferences…", Somnara_AppDelegate::kCheckForUpdatesTitle, "Quit"}));
  ui.actions.at(0)();
  EXPECT_EQ(updater.checkCount(), 1);
  EXPECT_EQ(updater.delegate(), &delegate);

  FakeInterface noMenu;
  noMenu.menu.reset();
  Somnara_AppDelegate withoutMenu(prefs.context(), ports(&updater), noMenu);
  withoutMenu.applicationDidFinishLaunching();
  EXPECT_EQ(updater.delegate(), &withoutMenu) << "no application menu: only the delegate is set";

  FakeInterface absent;
  Somnara_AppDelegate withoutUpdater(prefs.context(), ports(), absent);
  withoutUpdater.applicationDidFinishLaunching();
  EXPECT_EQ(absent.menu->size(), 3u) << "no updater: no item";
}

TEST_F(PreferencesTest, InstallingAnUpdateStopsBothProgramsLoginItemsIncluded) {
  items.add({"agent", "Somnara MenuBar", kAgentPath, true});
  Somnara_AppDelegate delegate(prefs.context(), ports(&updater), ui);
  delegate.awakeFromNib();
  delegate.applicationDidFinishLaunching();
  ui.shown();
  EXPECT_TRUE(delegate.menuBarController()->isLoginitem());
  machine.runPending();
  ASSERT_EQ(running(kAgent).size(), 1u);
  ASSERT_EQ(running(kDaemon).size(), 1u);
  updater.installUpdate();
  machine.runPending();
  EXPECT_TRUE(running(kAgent).empty());
  EXPECT_TRUE(running(kDaemon).empty());
  EXPECT_EQ(countLog(prefs, "-[Somnara_AppDelegate updater:willInstallUpdate:]", ""), 1);
}

TEST_F(PreferencesTest, VersionTextLinesSizesAndLink) {
  Somnara_AppDelegate delegate(prefs.context(), ports(), ui);
  delegate.updateVersionTextField();
  const VersionText& v = ui.version;
  EXPECT_EQ(v.text, "\nVersion 2.0\n(300)\n\n\n\n\u00a9 2026 Orvane\n");
  EXPECT_EQ(v.text.substr(v.versionLine.location, v.versionLine.length), "Version 2.0\n");
  EXPECT_EQ(v.text.substr(v.noticeLine.location, v.noticeLine.length), "\u00a9 2026 Orvane\n");
}

// Help and the log open with the default application, or a message says where they are; a log
// file that is missing is told apart from one no program opens.
TEST_F(PreferencesTest, PagesAndTheLogOpenOrSayWhy) {
  Somnara_AppDelegate delegate(prefs.context(), ports(), ui);
  prefs.workspace().addResource("Readme.html");
  const std::string readme = prefs.workspace().resourcePath("Readme.html");
  const std::string log = "/home/u/.local/state/somnara/de.orvane.Somnara.log";
  const std::string noOpener = "No program to open this file was found. The file is at:\n";
  const struct {
    bool help;  // else the log
    std::optional<std::string> path;
    bool exists, opener;
    std::string logLine, message;  // empty: none
    bool beeps;
  } cases[] = {
      {true, {}, true, true, "", "", false},
      {true, {}, true, false, "", "Readme: " + noOpener + readme, false},
      {false, std::nullopt, false, true, "Can't find logfile: (null)", "", true},
      {false, log, false, true, "Can't find logfile: " + log, "", true},
      {false, log, true, true, "", "", false},
      {false, log, true, false, "Can't open logfile: " + log, "Log: " + noOpener + log, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.help ? "help" : "log ") + c.path.value_or("(no path)") + (c.exists ? " present" : "") +
                 (c.opener ? "" : ", no opener"));
    if (!c.help) prefs.platform().setLogFilePath(c.path);
    if (!c.help && c.exists) apps.installFile(log);
    desktop.setHasOpener(c.opener);
    ui.messages.clear();
    const int beeps = prefs.workspace().beepCount();
    const auto opened = desktop.opened().size();
    const auto logged = prefs.logger().logLines().size();
    if (c.help) {
      delegate.showHelp();
      delegate.showReleaseHistory();  // missing from the bundle: nothing happens
    } else {
      delegate.showLog();
    }
    EXPECT_EQ(desktop.opened().size() - opened, c.exists && c.opener ? 1u : 0u);
    EXPECT_EQ(prefs.workspace().beepCount() - beeps, c.beeps ? 1 : 0);
    EXPECT_EQ(prefs.logger().logLines().size() - logged, c.logLine.empty() ? 0u : 1u);
    EXPECT_EQ(countLog(prefs, "-[Somnara_AppDelegate showLog:]", c.logLine), c.logLine.empty() ? 0 : 1);
    EXPECT_EQ(ui.messages, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
  }
}

TEST_F(PreferencesTest, FileOpenedByALaterStartBringsTheRunningWindowForward) {
  Somnara_AppDelegate delegate(prefs.context(), ports(), ui);
  auto receiving = OpenFileForwarding::receive(prefs.context(), [&](const std::string& p) { delegate.openFile(p); });
  SimProgram& second = machine.addProgram(kApp, {kBundle});
  EXPECT_EQ(OpenFileForwarding::runningInstance(second.context()), prefs.pid());
  bool sent = false;
  auto forwarding = OpenFileForwarding::forward(second.context(), kAgentPath, [&] { sent = true; });
  machine.runPending();
  EXPECT_TRUE(sent);
  EXPECT_EQ(ui.fronted, 1);
  EXPECT_TRUE(prefs.isRunning()) << "the running instance stays";
  prefs.end();
  EXPECT_EQ(OpenFileForwarding::runningInstance(second.context()), -1);
}

TEST(SleepStatusReason, NamesTheChoiceTheReadingAndWhatTheMachineCannotDo) {
  struct Case {
    std::int64_t mode;
    bool battery;
    std::optional<std::int32_t> charge, timeLeft;
    powertool::SleepCapabilities caps;
    const char* reason;
  };
  constexpr auto unknown = std::nullopt;
  const Case cases[] = {
      {0, true, 50, 100, kEvery, "Because the system's own setting is chosen."},
      {3, true, 50, 100, kEvery, "Because \"Hibernate\" is chosen."},
      {1, true, 63, 130, kEvery, "Adaptive: battery at 63 %, 130 min left, level 63 is above the hibernate level 20."},
      {1, true, 80, 15, kEvery, "Adaptive: battery at 80 %, 15 min left, level 15 is at or below the hibernate level 20."},
      {1, true, 3, unknown, kEvery, "Adaptive: battery at 3 %, level 3: the battery is nearly empty."},
      {1, true, unknown, unknown, kEvery, "Adaptive: no charge reading, level -1: the battery is nearly empty."},
      {1, false, unknown, unknown, kEvery,
       "\"Adaptive\" needs a battery and this machine has none: the system's own setting applies."},
      {3, true, 50, 100, kNoSwap,
       "Because \"Hibernate\" is chosen. This machine can't hibernate: no swap space, so it sleeps."},
      {4, true, 50, 100, kNoHybrid,
       "Because \"Sleep and hibernate\" is chosen. This machine can't sleep and hibernate: not offered by the "
       "kernel, so it sleeps."},
      {1, true, 3, unknown, kNoSwap,
       "Adaptive: battery at 3 %, level 3: the battery is nearly empty. This machine can't hibernate: no swap "
       "space, so it sleeps."},
      {1, true, 80, unknown, kNoSwap, "Adaptive: battery at 80 %, level 80 is above the hibernate level 20."},
      {4, true, 50, 100, kNone, "This machine can't sleep: not offered by the kernel."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sleepStatusReason({c.mode, c.battery, c.charge, c.timeLeft, 20, c.caps}), c.reason) << c.mode;
}

TEST(SleepStatusReason, ChoicesTheMachineCannotDoSayWhy) {
  using powertool::SleepAbility;
  using powertool::SleepBlocker;
  const powertool::SleepCapabilities lockdown{SleepAbility::yes(), {SleepBlocker::Lockdown}, {SleepBlocker::Lockdown}};
  const struct {
    std::int64_t mode;
    bool battery;
    powertool::SleepCapabilities caps;
    std::optional<std::string> reason;
  } cases[] = {
      {0, true, lockdown, std::nullopt},
      {1, true, lockdown, std::nullopt},
      {1, false, kEvery, "Needs a battery; this machine has none"},
      {2, true, lockdown, std::nullopt},
      {3, true, lockdown, "This machine can't hibernate: Secure Boot lockdown"},
      {4, true, lockdown, "This machine can't hibernate: Secure Boot lockdown"},
      {2, true, kNone, "This machine can't sleep: not offered by the kernel"},
      {0, true, kNone, std::nullopt},
  };
  for (const auto& c : cases) {
    SleepStatusFacts facts;
    facts.chosenMode = c.mode, facts.hasBattery = c.battery, facts.capabilities = c.caps;
    EXPECT_EQ(unavailableModeReason(c.mode, facts), c.reason) << c.mode;
  }
}

}  // namespace
}  // namespace somnara::sim::testing
