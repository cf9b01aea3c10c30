// The tray agent's Linux ports against private buses with python-dbusmock
// services (logind, UPower, screen savers, the desktop's suspend inhibitors),
// a fake machine root, and Xvfb where it is installed.
#include <gtest/gtest.h>

#include <QDBusVariant>
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <fstream>

#include "TestSupport.h"
#include "host/linux/BundleWorkspace.h"
#include "host/linux/CanberraSounds.h"
#include "host/linux/FreedesktopNotices.h"
#include "host/linux/LinuxAgentHost.h"
#include "host/linux/LinuxClamshell.h"
#include "host/linux/LinuxDisplays.h"
#include "host/linux/LinuxHost.h"
#include "host/linux/LinuxTrayHosts.h"
#include "host/linux/LogindInsomniaDriver.h"
#include "host/linux/LogindSessionLock.h"
#include "host/linux/LogindSystemPower.h"
#include "host/linux/QtRunLoop.h"
#include "host/linux/SessionStatusArea.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

using Activity = host::SystemPower::Activity;
using Kind = host::StatusArea::Kind;

const QString kLogind = "org.freedesktop.login1", kLogindPath = "/org/freedesktop/login1";
const QString kMock = "org.freedesktop.DBus.Mock", kProperties = "org.freedesktop.DBus.Properties";
const QString kUPower = "org.freedesktop.UPower", kUPowerPath = "/org/freedesktop/UPower";

QString mockTemplate(const char* name) { return QStringLiteral(SOMNARA_MOCKS_DIR "/") + name + ".py"; }

void setProperty(PrivateBus& bus, const QString& service, const QString& path, const QString& iface,
                 const QString& name, const QVariant& value) {
  bus.call(service, path, kProperties, "Set", {iface, name, QVariant::fromValue(QDBusVariant(value))});
}

Strings mockList(PrivateBus& bus, const QString& service, const QString& path) {
  Strings out;
  for (const QString& s : bus.call(service, path, kMock, "ListInhibitors").arguments().value(0).toStringList())
    out.push_back(s.toStdString());
  return out;
}

/// The calls of method (of every method when empty) a dbusmock service logged,
/// each as its arguments in text.
std::vector<QStringList> mockCalls(PrivateBus& bus, const QString& service, const QString& path,
                                   const QString& method = {}) {
  const QDBusMessage reply = method.isEmpty() ? bus.call(service, path, kMock, "GetCalls")
                                              : bus.call(service, path, kMock, "GetMethodCalls", {method});
  const QDBusArgument calls = reply.arguments().value(0).value<QDBusArgument>();
  std::vector<QStringList> out;
  calls.beginArray();  // read to the end: a reading left open keeps its state allocated
  while (!calls.atEnd()) {
    calls.beginStructure();
    qulonglong when = 0;
    QString name;
    calls >> when;
    if (method.isEmpty()) calls >> name;
    QStringList& args = out.emplace_back();
    calls.beginArray();
    while (!calls.atEnd()) {
      QDBusVariant arg;
      calls >> arg;
      args << arg.variant().toString();
    }
    calls.endArray();
    calls.endStructure();
  }
  calls.endArray();
  return out;
}

/// One system bus with logind (Somnara's template) and UPower, one with
/// logind alone, one empty; one session bus with the desktop's services.
class AgentPorts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    full = new PrivateBus;
    logindOnly = new PrivateBus;
    empty = new PrivateBus;
    session = new PrivateBus;
    ASSERT_TRUE(full->startMock(kLogind, mockTemplate("somnara_logind")));
    ASSERT_TRUE(full->startMock(kUPower, "upower", R"({"LidIsPresent": true, "LidIsClosed": false})"));
    ASSERT_TRUE(logindOnly->startMock(kLogind, mockTemplate("somnara_logind")));
    ASSERT_TRUE(session->startMock("org.freedesktop.ScreenSaver", mockTemplate("freedesktop_screensaver")));
    ASSERT_TRUE(session->startMock("org.freedesktop.PowerManagement", mockTemplate("power_management")));
    ASSERT_TRUE(session->startMock("org.gnome.SessionManager", mockTemplate("gnome_session")));
  }
  static void TearDownTestSuite() {
    for (PrivateBus* bus : {full, logindOnly, empty, session}) delete bus;
  }

  Strings sessionInhibitors() {
    Strings all = mockList(*session, "org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit");
    for (auto& s : mockList(*session, "org.gnome.SessionManager", "/org/gnome/SessionManager"))
      all.push_back("gnome:" + s);
    return all;
  }

  static inline PrivateBus *full, *logindOnly, *empty, *session;
  RecordingLogger logger;
  QtRunLoop loop;
};

// Registering needs logind.
TEST_F(AgentPorts, IdleSleepVetoIsAnIdleInhibitorPlusTheDesktopsNeverASleepInhibitor) {
  LogindClient logind(full->connection());
  LogindSystemPower power(logind, session->connection(), loop, logger, "Somnara MenuBar");
  auto registration = power.registerForSystemPower();
  ASSERT_NE(registration, nullptr);
  EXPECT_TRUE(logindInhibitors(*full).empty()) << "registering takes nothing";

  const Strings desktop{"Somnara MenuBar", "gnome:Somnara MenuBar/4"};
  for (int round = 0; round < 2; ++round) {
    registration->setIdleSleepVetoed(true);
    registration->setIdleSleepVetoed(true);  // repeating holds one set
    EXPECT_TRUE(registration->idleSleepVetoed());
    EXPECT_EQ(logindInhibitors(*full), Strings{"idle/block"});
    EXPECT_EQ(sessionInhibitors(), desktop);
    registration->setIdleSleepVetoed(false);
    EXPECT_FALSE(registration->idleSleepVetoed());
    EXPECT_TRUE(spinUntil([&] { return logindInhibitors(*full).empty() && sessionInhibitors().empty(); }));
  }
  registration->setIdleSleepVetoed(true);
  registration.reset();
  EXPECT_TRUE(spinUntil([&] { return logindInhibitors(*full).empty() && sessionInhibitors().empty(); }))
      << "the registration's end releases the veto";
  EXPECT_TRUE(logger.lines.empty());
  for (QDBusConnection bus : {absentBus(), empty->connection()}) {  // no system bus, no logind on it
    LogindClient noLogind(bus);
    EXPECT_EQ(LogindSystemPower(noLogind, session->connection(), loop, logger, "S").registerForSystemPower(), nullptr);
  }
}

TEST_F(AgentPorts, ActivityReportsReachTheScreenSaverOrHoldTheDesktopsInhibitorsForAWhile) {
  LogindClient logind(absentBus());
  LogindSystemPower power(logind, session->connection(), loop, logger, "Somnara MenuBar", 1500ms);
  const QString saver = "org.freedesktop.ScreenSaver", saverPath = "/org/freedesktop/ScreenSaver";
  const auto before = mockCalls(*session, saver, saverPath, "SimulateUserActivity").size();
  power.reportActivity(Activity::Overall);
  EXPECT_TRUE(spinUntil([&] { return mockCalls(*session, saver, saverPath, "SimulateUserActivity").size() == before + 1; }));
  EXPECT_TRUE(sessionInhibitors().empty()) << "overall activity holds nothing";

  power.reportActivity(Activity::Idle);
  EXPECT_TRUE(power.holdsIdleActivity());
  EXPECT_EQ(sessionInhibitors(), (Strings{"Somnara MenuBar", "gnome:Somnara MenuBar/4"}));
  spinFor(1000ms);
  power.reportActivity(Activity::Idle);  // renews the hold
  spinFor(1000ms);
  EXPECT_TRUE(power.holdsIdleActivity()) << "a report starts the hold over";
  EXPECT_TRUE(spinUntil([&] { return !power.holdsIdleActivity() && sessionInhibitors().empty(); }, 3s));
}

TEST_F(AgentPorts, LidClosedServiceIsLogindsLidSwitchInhibitor) {
  LogindClient absent(absentBus()), none(empty->connection()), logind(full->connection());
  EXPECT_EQ(LogindInsomniaDriver(absent, "S").matchingServices(), std::nullopt);
  LogindInsomniaDriver missing(none, "S");
  EXPECT_EQ(missing.matchingServices(), 0u);
  EXPECT_EQ(missing.open(0), nullptr);

  LogindInsomniaDriver driver(logind, "Somnara MenuBar");
  EXPECT_EQ(driver.matchingServices(), 1u);
  EXPECT_EQ(driver.open(1), nullptr);
  auto connection = driver.open(0);
  ASSERT_NE(connection, nullptr);
  EXPECT_TRUE(spinUntil([&] { return logindInhibitors(*full).empty(); })) << "opening holds nothing";
  struct {
    std::uint32_t selector;
    bool result;
    Strings held;
  } const calls[] = {
      {host::InsomniaDriver::kStart, true, {"handle-lid-switch/block"}},
      {host::InsomniaDriver::kStart, true, {"handle-lid-switch/block"}},
      {7, false, {"handle-lid-switch/block"}},
      {host::InsomniaDriver::kStop, true, {}},
      {host::InsomniaDriver::kStop, true, {}},
      {host::InsomniaDriver::kStart, true, {"handle-lid-switch/block"}},
  };
  for (const auto& c : calls) {
    SCOPED_TRACE(c.selector);
    EXPECT_EQ(connection->callMethod(c.selector), c.result);
    EXPECT_TRUE(spinUntil([&] { return logindInhibitors(*full) == c.held; }));
  }
  connection.reset();
  EXPECT_TRUE(spinUntil([&] { return logindInhibitors(*full).empty(); })) << "closing ends what kStart took";

  // Where polkit refuses the inhibitor there is no connection at all, and a
  // connection made earlier reports its start as failed; both with logind's reason.
  auto earlier = driver.open(0);
  EXPECT_EQ(driver.failureReason(), "");
  full->call(kLogind, kLogindPath, kMock, "SetRefusedInhibitors", {QStringList{"handle-lid-switch"}});
  EXPECT_EQ(driver.open(0), nullptr);
  EXPECT_EQ(driver.failureReason(), "org.freedesktop.DBus.Error.AccessDenied: Permission denied");
  full->call(kLogind, kLogindPath, kMock, "SetRefusedInhibitors", {QStringList{}});
  EXPECT_TRUE(earlier->callMethod(host::InsomniaDriver::kStart));
  EXPECT_EQ(driver.failureReason(), "") << "a granted lock clears the reason";
  EXPECT_TRUE(earlier->callMethod(host::InsomniaDriver::kStop));
  full->call(kLogind, kLogindPath, kMock, "SetRefusedInhibitors", {QStringList{"handle-lid-switch"}});
  EXPECT_FALSE(earlier->callMethod(host::InsomniaDriver::kStart));
  EXPECT_EQ(driver.failureReason(), "org.freedesktop.DBus.Error.AccessDenied: Permission denied");
  full->call(kLogind, kLogindPath, kMock, "SetRefusedInhibitors", {QStringList{}});
  EXPECT_TRUE(spinUntil([&] { return logindInhibitors(*full).empty(); }));
}

// Notices reach the notification server with the program's name, and only
// while one runs: none is started for a notice.
TEST(Notices, SentToTheNotificationServerOnlyWhileOneRuns) {
  const QString server = "org.freedesktop.Notifications", path = "/org/freedesktop/Notifications";
  PrivateBus bus;
  FreedesktopNotices notices(bus.connection(), "Somnara MenuBar");
  EXPECT_FALSE(notices.post("Sleep Now failed", "no server"));
  EXPECT_FALSE(FreedesktopNotices(absentBus(), "S").post("a", "b"));
  ASSERT_TRUE(bus.startMock(server, "notification_daemon"));
  EXPECT_TRUE(notices.post("Sleep Now failed", "The power tool's sleep request failed with exit status 1"));
  ASSERT_TRUE(spinUntil([&] { return mockCalls(bus, server, path, "Notify").size() == 1; }));
  // App name, replaced id, icon, summary, body.
  EXPECT_EQ(mockCalls(bus, server, path, "Notify")[0].mid(0, 5),
            (QStringList{"Somnara MenuBar", "0", "", "Sleep Now failed",
                         "The power tool's sleep request failed with exit status 1"}));
}

// The StatusNotifierWatcher: there with its host, and each change of its
// bus name's owner (it appears, another replaces it, it goes) told once.
// Without X only a registered host makes a status area.
TEST(TrayHosts, TheWatcherWithItsHostAndEachChangeOfItsOwner) {
  const ScopedEnvironment noX{{"DISPLAY", nullptr}};
  const QString watcher = "org.kde.StatusNotifierWatcher";
  PrivateBus bus;
  LinuxTrayHosts hosts(bus.connection());
  SessionStatusArea area(bus.connection());
  EXPECT_EQ(LinuxTrayHosts(absentBus()).observeNotifierWatcher([] {}), nullptr);
  EXPECT_EQ(SessionStatusArea(absentBus()).find(), Kind::None);
  int changes = 0;
  auto watch = hosts.observeNotifierWatcher([&] { ++changes; });
  ASSERT_NE(watch, nullptr);
  EXPECT_FALSE(hosts.notifierHostPresent());
  EXPECT_EQ(area.find(), Kind::None);

  ASSERT_TRUE(bus.startMock(watcher, mockTemplate("status_notifier_watcher")));
  EXPECT_TRUE(spinUntil([&] { return changes == 1; }));
  EXPECT_TRUE(hosts.notifierHostPresent());
  EXPECT_EQ(area.find(), Kind::StatusNotifierHost);
  setProperty(bus, watcher, "/StatusNotifierWatcher", watcher, "IsStatusNotifierHostRegistered", false);
  EXPECT_FALSE(hosts.notifierHostPresent()) << "a watcher without a host shows nothing";
  EXPECT_EQ(area.find(), Kind::None) << "asked afresh";

  bus.startMock(watcher, mockTemplate("status_notifier_watcher"));  // takes the name over
  EXPECT_TRUE(spinUntil([&] { return changes == 2; }));
  EXPECT_TRUE(hosts.notifierHostPresent());
  bus.stopNewestMock();  // the first one does not get the name back
  EXPECT_TRUE(spinUntil([&] { return changes == 3; }));
  EXPECT_FALSE(hosts.notifierHostPresent());

  watch.reset();
  ASSERT_TRUE(bus.startMock(watcher, mockTemplate("status_notifier_watcher")));
  spinFor(300ms);
  EXPECT_EQ(changes, 3) << "nothing after the registration ended";
}

// Under Xvfb: a tray exists once a window owns _NET_SYSTEM_TRAY_S0, and no longer once it is gone.
TEST(TrayHosts, AnXEmbedTrayOwnsTheScreensTraySelection) {
  Xvfb xvfb;
  if (xvfb.display.isEmpty()) GTEST_SKIP() << "no Xvfb";
  const ScopedEnvironment ours{{"DISPLAY", xvfb.display.constData()}};
  SessionStatusArea area(absentBus());
  EXPECT_EQ(area.find(), Kind::None);
  xcb_connection_t* tray = xcb_connect(nullptr, nullptr);
  ASSERT_FALSE(xcb_connection_has_error(tray));
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(tray)).data;
  const xcb_window_t window = xcb_generate_id(tray);
  xcb_create_window(tray, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  const std::string name = "_NET_SYSTEM_TRAY_S0";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      tray, xcb_intern_atom(tray, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
  ASSERT_TRUE(atom);
  xcb_set_selection_owner(tray, window, atom->atom, XCB_CURRENT_TIME);
  std::free(atom);
  xcb_flush(tray);
  EXPECT_TRUE(spinUntil([&] { return area.find() == Kind::XEmbedTray; }, 2s));
  xcb_disconnect(tray);  // the tray ends
  EXPECT_TRUE(spinUntil([&] { return area.find() == Kind::None; }, 2s));
}

TEST_F(AgentPorts, LidReadingFromTheFirstSourceThatAnswers) {
  constexpr const char* kLidSwitch = "1";  // capabilities/sw of an input device: bit 0, the lid
  struct {
    const char* what;
    PrivateBus* bus;  // null: no system bus
    std::optional<bool> upowerPresent, upowerClosed, logindClosed;
    std::optional<std::string> proc;  // lid0 state file
    std::vector<std::string> switches;  // capabilities/sw of input0, input1, …
    std::optional<bool> expected;
  } const cases[] = {
      {"UPower: closed", full, true, true, false, "state:      open", {kLidSwitch}, true},
      {"UPower: open", full, true, false, true, "state:      closed", {kLidSwitch}, false},
      {"UPower: no lid", full, false, true, true, "state:      closed", {kLidSwitch}, std::nullopt},
      {"logind: closed", logindOnly, {}, {}, true, "state:      open", {kLidSwitch}, true},
      {"logind: open", logindOnly, {}, {}, false, std::nullopt, {"0", kLidSwitch}, false},
      {"logind: lid bit among others", logindOnly, {}, {}, true, std::nullopt, {"2", "0 4003"}, true},
      {"logind without a lid switch", logindOnly, {}, {}, false, std::nullopt, {}, std::nullopt},
      {"logind, switches but no lid", logindOnly, {}, {}, true, std::nullopt, {"2", "1 0", "zz"}, std::nullopt},
      {"logind without a lid switch, proc", logindOnly, {}, {}, false, "state:      closed", {"2"}, true},
      {"proc: closed", empty, {}, {}, {}, "state:      closed", {}, true},
      {"proc: open, no bus", nullptr, {}, {}, {}, "state:      open", {}, false},
      {"proc: another word", empty, {}, {}, {}, "state:      unknown", {}, std::nullopt},
      {"nothing at all", empty, {}, {}, {}, std::nullopt, {kLidSwitch}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree root;
    if (c.proc) writeFile(root / "proc/acpi/button/lid/LID0/state", *c.proc + "\n");
    for (std::size_t i = 0; i < c.switches.size(); ++i)
      writeFile(root / ("sys/class/input/input" + std::to_string(i) + "/capabilities/sw"), c.switches[i] + "\n");
    if (c.upowerPresent) {
      setProperty(*c.bus, kUPower, kUPowerPath, kUPower, "LidIsPresent", *c.upowerPresent);
      setProperty(*c.bus, kUPower, kUPowerPath, kUPower, "LidIsClosed", *c.upowerClosed);
    }
    if (c.logindClosed)
      setProperty(*c.bus, kLogind, kLogindPath, "org.freedesktop.login1.Manager", "LidClosed", *c.logindClosed);
    QDBusConnection bus = c.bus ? c.bus->connection() : absentBus();
    LogindClient logind(bus);
    LinuxClamshell clamshell(bus, logind, MachineRoot(root.path()), loop);
    EXPECT_EQ(clamshell.clamshellState(), c.expected);
  }
}

TEST_F(AgentPorts, LidMessagesFollowThePropertyChangeSignalsOrASlowPoll) {
  TempTree root;
  writeFile(root / "proc/acpi/button/lid/LID0/state", "state:      open\n");
  int messages = 0;
  auto expectMessages = [&](int n) {
    EXPECT_TRUE(spinUntil([&] { return messages == n; }));
    spinFor(150ms);
    EXPECT_EQ(messages, n);
  };
  {
    LogindClient logind(full->connection());
    LinuxClamshell clamshell(full->connection(), logind, MachineRoot(root.path()), loop, 50ms);
    auto r = clamshell.observeRootDomain([&] { ++messages; });
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(loop.pendingTimers(), 0u) << "no poll where a service signals";
    setProperty(*full, kUPower, kUPowerPath, kUPower, "LidIsClosed", true);
    expectMessages(1);
    setProperty(*full, kLogind, kLogindPath, "org.freedesktop.login1.Manager", "LidClosed", true);
    expectMessages(2);
    setProperty(*full, kUPower, kUPowerPath, kUPower, "OnBattery", true);  // not about the lid
    expectMessages(2);
    r.reset();
    setProperty(*full, kUPower, kUPowerPath, kUPower, "LidIsClosed", false);
    expectMessages(2);
  }
  {
    LogindClient logind(empty->connection());
    LinuxClamshell clamshell(empty->connection(), logind, MachineRoot(root.path()), loop, 50ms);
    auto r = clamshell.observeRootDomain([&] { ++messages; });
    ASSERT_NE(r, nullptr);
    expectMessages(2);  // polling, nothing changed
    writeFile(root / "proc/acpi/button/lid/LID0/state", "state:      closed\n");
    expectMessages(3);
    r.reset();
    EXPECT_EQ(loop.pendingTimers(), 0u) << "the poll ends with its observer";
  }
  TempTree noLid;
  LogindClient logind(empty->connection());
  EXPECT_EQ(LinuxClamshell(empty->connection(), logind, MachineRoot(noLid.path()), loop).observeRootDomain([] {}),
            nullptr);
}

// The screen saver's state from whichever screen saver runs; the session's lock
// from logind's LockedHint, else from the screen saver. Each is read afresh
// and told while observed; a screen saver that starts later is heard too.
TEST_F(AgentPorts, ScreenSaverAndSessionLockAreReadAndTold) {
  TempTree root;
  PrivateBus gnome;
  ASSERT_TRUE(gnome.startMock("org.gnome.ScreenSaver", "gnome_screensaver"));
  logindOnly->call(kLogind, kLogindPath, kMock, "AddSession", {"c9", "seat0", QVariant::fromValue(1000u), "tester", true});
  const auto saver = [&](PrivateBus& bus, const QString& name) {
    const QString path = "/" + QString(name).replace('.', '/');
    return [&bus, name, path](bool on) { bus.call(name, path, name, "SetActive", {on}); };
  };
  struct Port {
    std::function<std::optional<bool>()> read;
    std::function<host::RegistrationPtr(std::function<void(bool)>)> observe;
    std::shared_ptr<void> owner;
  };
  const auto displays = [&](QDBusConnection bus) {
    auto d = std::make_shared<LinuxDisplays>(bus, MachineRoot(root.path()));
    return Port{[d] { return std::optional(d->screenSaverActive()); },
                [d](auto fn) { return d->observeScreenSaver(std::move(fn)); }, d};
  };
  const auto lock = [&](PrivateBus* system) {
    auto logind = std::make_shared<LogindClient>(system->connection());
    auto l = std::make_shared<LogindSessionLock>(*logind, session->connection(), "c9", 1);
    return Port{[l] { return l->locked(); }, [l](auto fn) { return l->observeLocked(std::move(fn)); },
                std::make_shared<std::pair<decltype(logind), decltype(l)>>(logind, l)};
  };
  const struct {
    const char* what;
    std::function<Port()> port;
    std::function<void(bool)> set;  // null: nothing to set
  } cases[] = {
      {"freedesktop screen saver", [&] { return displays(session->connection()); },
       saver(*session, "org.freedesktop.ScreenSaver")},
      {"GNOME screen saver", [&] { return displays(gnome.connection()); }, saver(gnome, "org.gnome.ScreenSaver")},
      {"no screen saver", [&] { return displays(empty->connection()); }, nullptr},
      {"logind's lock", [&] { return lock(logindOnly); },
       [&](bool on) {
         logindOnly->call(kLogind, kLogindPath + "/session/c9", "org.freedesktop.login1.Session", "SetLockedHint", {on});
       }},
      {"the screen saver as the lock", [&] { return lock(empty); }, saver(*session, "org.freedesktop.ScreenSaver")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Port port = c.port();
    std::vector<bool> told;
    auto watch = port.observe([&](bool on) { told.push_back(on); });
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(port.read(), false);
    if (!c.set) continue;
    c.set(true);
    EXPECT_EQ(port.read(), true);
    c.set(false);
    EXPECT_EQ(port.read(), false);
    EXPECT_TRUE(spinUntil([&] { return told == std::vector<bool>{true, false}; })) << told.size();
    watch.reset();
    c.set(true);
    c.set(false);
    spinFor(100ms);
    EXPECT_EQ(told.size(), 2u) << "told once the registration is gone";
  }
  EXPECT_EQ(LinuxDisplays(absentBus(), MachineRoot(root.path())).observeScreenSaver([](bool) {}), nullptr);
  LogindClient nobody(empty->connection());
  EXPECT_EQ(LogindSessionLock(nobody, empty->connection(), "c9", 1).locked(), std::nullopt);
}

// GNOME tells of the display's sleep through Mutter's PowerSaveMode; where
// Mutter does not run, or cannot tell the mode, nothing is watched. A mode
// that becomes unknown is read from the display itself (here: the DRM panel).
TEST_F(AgentPorts, DisplaySleepNoticesFromMutterOnly) {
  const ScopedEnvironment noX11{{"DISPLAY", nullptr}};
  TempTree root;
  writeFile(root / "sys/class/drm/card0-eDP-1/status", "connected\n");
  writeFile(root / "sys/class/drm/card0-eDP-1/dpms", "Off\n");
  PrivateBus gnome, unknown;
  ASSERT_TRUE(gnome.startMock("org.gnome.Mutter.DisplayConfig", mockTemplate("mutter_display_config")));
  ASSERT_TRUE(unknown.startMock("org.gnome.Mutter.DisplayConfig", mockTemplate("mutter_display_config"),
                                R"({"PowerSaveMode": -1})"));
  const QString mutter = "org.gnome.Mutter.DisplayConfig", path = "/org/gnome/Mutter/DisplayConfig";
  auto setMode = [&](int mode) {
    setProperty(gnome, mutter, path, mutter, "PowerSaveMode", QVariant::fromValue(mode));
  };

  LinuxDisplays displays(gnome.connection(), MachineRoot(root.path()));
  std::vector<bool> told;
  auto watch = displays.observeMainDisplayAsleep([&](bool asleep) { told.push_back(asleep); });
  ASSERT_NE(watch, nullptr);
  for (int mode : {3, 0, 1, 2, 0, -1}) setMode(mode);
  const std::vector<bool> expected{true, false, true, true, false, true};
  EXPECT_TRUE(spinUntil([&] { return told == expected; })) << told.size();
  watch.reset();
  setMode(3);
  spinFor(100ms);
  EXPECT_EQ(told.size(), expected.size()) << "nothing told once the registration is gone";

  struct {
    const char* what;
    QDBusConnection bus;
  } const none[] = {{"mode unknown", unknown.connection()}, {"no Mutter", empty->connection()}, {"no bus", absentBus()}};
  for (const auto& c : none) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(LinuxDisplays(c.bus, MachineRoot(root.path())).observeMainDisplayAsleep([](bool) {}), nullptr);
  }
}

// Without an X display: DPMS from the DRM connectors, and no probe.
TEST(Displays, WithoutX11TheFirstConnectedConnectorTellsAndNothingIsProbed) {
  const ScopedEnvironment noX11{{"DISPLAY", nullptr}};
  struct {
    const char* what;
    const char* connectors;  // "name:status:dpms;…"
    bool asleep;
  } const cases[] = {
      {"the laptop's panel is off", "card0-DP-1:disconnected:Off;card0-HDMI-A-1:connected:On;card0-eDP-1:connected:Off",
       true},
      {"the laptop's panel is on", "card0-HDMI-A-1:connected:Off;card0-eDP-1:connected:On", false},
      {"no panel: first connected in name order", "card0-DP-1:disconnected:On;card0-DP-2:connected:Off;card1-LVDS-1:disconnected:On",
       true},
      {"standby counts as asleep", "card0-eDP-1:connected:Standby", true},
      {"nothing connected", "card0-DP-1:disconnected:Off", false},
      {"no drm at all", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree root;
    for (const QString& connector : QString(c.connectors).split(';', Qt::SkipEmptyParts)) {
      const QStringList f = connector.split(':');
      writeFile(root / ("sys/class/drm/" + f[0] + "/status").toStdString(), f[1].toStdString() + "\n");
      writeFile(root / ("sys/class/drm/" + f[0] + "/dpms").toStdString(), f[2].toStdString() + "\n");
    }
    LinuxDisplays displays(absentBus(), MachineRoot(root.path()));
    EXPECT_EQ(displays.mainDisplayAsleep(), c.asleep);
    EXPECT_EQ(displays.probeActiveDisplays(64), 0u);
  }
}

// Under Xvfb, in an X11 session: RandR names its one output. In a Wayland
// session the same display (as Xwayland's would be) is never asked and
// nothing is probed. Xvfb has no DPMS, so the DRM panel tells in both.
TEST(Displays, X11AnswersInAnX11SessionOnly) {
  Xvfb xvfb;
  if (xvfb.display.isEmpty()) GTEST_SKIP() << "no Xvfb";
  TempTree root;
  writeFile(root / "sys/class/drm/card0-eDP-1/status", "connected\n");
  writeFile(root / "sys/class/drm/card0-eDP-1/dpms", "Off\n");
  struct {
    const char* waylandDisplay;
    const char* sessionType;
    bool x11;
  } const cases[] = {
      {nullptr, nullptr, true},
      {"", "x11", true},
      {"wayland-0", nullptr, false},
      {nullptr, "wayland", false},
      {"wayland-1", "x11", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("WAYLAND_DISPLAY=") + (c.waylandDisplay ? c.waylandDisplay : "(unset)") +
                 " XDG_SESSION_TYPE=" + (c.sessionType ? c.sessionType : "(unset)"));
    ScopedEnvironment env{
        {"DISPLAY", xvfb.display.constData()}, {"WAYLAND_DISPLAY", c.waylandDisplay}, {"XDG_SESSION_TYPE", c.sessionType}};
    LinuxDisplays displays(absentBus(), MachineRoot(root.path()));
    EXPECT_EQ(displays.probeActiveDisplays(64), c.x11 ? 1u : 0u);
    EXPECT_EQ(displays.probeActiveDisplays(0), 0u);
    EXPECT_TRUE(displays.mainDisplayAsleep());
  }
}

TEST(Sounds, FilesByReferenceBundleResourcesThenTheSoundTheme) {
  TempTree dir;
  const std::string bundle = dir / "Agent.app";
  writeFile(bundle + "/Contents/Info.plist",
            plist::toXml(Value(Dictionary{{"CFBundleIdentifier", Value("de.orvane.Somnara.MenuBar")}})));
  const std::string wav = std::string("RIFF\x24\0\0\0WAVEfmt ", 16), ogg("OggS\0\2\0\0\0\0\0\0\0\0", 14);
  writeFile(bundle + "/Contents/Resources/Insomnia.oga", ogg);
  writeFile(bundle + "/Contents/Resources/Broken.wav", "not a sound");
  writeFile(dir / "data/sounds/freedesktop/stereo/bell.oga", ogg);
  writeFile(dir / "data/sounds/freedesktop/stereo/Broken.oga", ogg);
  writeFile(dir / "file.wav", wav);
  writeFile(dir / "text.wav", "hello, world");
  ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);  // nobody writes: a blocking open never returns
  const ScopedEnvironment xdg{{"XDG_DATA_HOME", (dir / "nothing").c_str()}, {"XDG_DATA_DIRS", (dir / "data").c_str()}};
  RecordingLogger logger;
  LogindClient logind(absentBus());
  BundleWorkspace workspace(bundle + "/Contents/MacOS/Agent", logind, logger, "", 1);
  CanberraSounds sounds(workspace);

  struct {
    const char* what;
    std::function<std::unique_ptr<host::Sounds::Sound>()> load;
    bool found;
  } const cases[] = {
      {"a WAV file", [&] { return sounds.soundFromFile(dir / "file.wav"); }, true},
      {"text named .wav", [&] { return sounds.soundFromFile(dir / "text.wav"); }, false},
      {"a missing file", [&] { return sounds.soundFromFile(dir / "missing.wav"); }, false},
      {"a directory", [&] { return sounds.soundFromFile(dir.path()); }, false},
      {"a FIFO", [&] { return sounds.soundFromFile(dir / "fifo.wav"); }, false},
      {"the bundle's .oga", [&] { return sounds.namedSound("Insomnia"); }, true},
      {"a broken resource falls back to the theme", [&] { return sounds.namedSound("Broken"); }, true},
      {"the theme", [&] { return sounds.namedSound("bell"); }, true},
      {"nowhere", [&] { return sounds.namedSound("Nothing"); }, false},
      {"no path tricks", [&] { return sounds.namedSound("../file"); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto sound = c.load();
    EXPECT_EQ(sound != nullptr, c.found);
    if (!sound) continue;
    // No audio device here: playing must neither hang nor crash.
    QElapsedTimer t;
    t.start();
    sound->play();
    sound->play();
    EXPECT_LT(t.elapsed(), 2000);
  }
  auto sound = sounds.soundFromFile(dir / "file.wav");
  for (auto [set, read] : {std::pair{0.2f, 0.2f}, {-1.0f, 0.0f}, {3.0f, 1.0f}, {0.0f, 0.0f}}) {
    sound->setVolume(set);
    EXPECT_FLOAT_EQ(sound->volume(), read);
    sound->play();
  }
  // The file is read when it plays, not when it is loaded.
  ::unlink((dir / "file.wav").c_str());
  sound->setVolume(1.0f);
  sound->play();
}

// Last: the process-wide buses point at private ones from here on.
TEST_F(AgentPorts, TheAgentHostMakesThePortsAndTheyContactNothingBeforeUse) {
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", full->address().toUtf8().constData(), 1);
  ::setenv("DBUS_SESSION_BUS_ADDRESS", session->address().toUtf8().constData(), 1);
  full->call(kLogind, kLogindPath, kMock, "ClearCalls");
  LinuxHost host;
  LinuxAgentHost agentHost(host);
  host::AgentPorts& ports = agentHost.ports();
  spinFor(100ms);
  EXPECT_EQ(mockCalls(*full, kLogind, kLogindPath).size(), 0u) << "logind was called before any port was used";
  auto registration = ports.systemPower.registerForSystemPower();
  ASSERT_NE(registration, nullptr);
  registration->setIdleSleepVetoed(true);
  auto driver = ports.insomniaDriver.open(0);
  ASSERT_NE(driver, nullptr);
  EXPECT_TRUE(driver->callMethod(host::InsomniaDriver::kStart));
  // The lock open() took to find out is dropped as logind notices the closed descriptor.
  EXPECT_TRUE(spinUntil([&] { return logindInhibitors(*full) == Strings{"idle/block", "handle-lid-switch/block"}; }))
      << ::testing::PrintToString(logindInhibitors(*full));
  registration.reset();
  driver.reset();
  EXPECT_TRUE(spinUntil([&] { return logindInhibitors(*full).empty(); }));
}

}  // namespace
}  // namespace somnara::linuxhost
