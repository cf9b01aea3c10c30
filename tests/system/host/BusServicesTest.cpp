// No bus, logind events from python-dbusmock on a private system bus, the
// whole host's termination path.
#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <csignal>
#include <cstdlib>
#include <map>

#include <unistd.h>

#include "TestSupport.h"
#include "host/linux/BundleWorkspace.h"
#include "host/linux/DBusNotificationCenter.h"
#include "host/linux/LinuxHost.h"
#include "host/linux/LinuxPowerManager.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

using host::Notification;
using Event = host::Workspace::Event;

TEST(NoBus, OneLogLineEachAndNoEvents) {
  RecordingLogger logger;
  DBusNotificationCenter center(absentBus(), logger);
  EXPECT_EQ(center.observe("n", "o", [](const Notification&) {}), nullptr);
  for (int i = 0; i < 2; ++i) center.post({"n", "o", Value(i)});
  EXPECT_EQ(logger.lines.size(), 1u);

  // A workspace without logind still knows its bundle.
  TempTree dir;
  const std::string bundle = dir / "Somnara.app";
  writeFile(bundle + "/Contents/Info.plist",
            plist::toXml(Value(Dictionary{{"CFBundleIdentifier", Value("de.orvane.Somnara")}})));
  writeFile(bundle + "/Contents/Resources/Readme.html", "<html/>");
  LogindClient logind(absentBus());
  BundleWorkspace workspace(bundle + "/Contents/MacOS/Somnara", logind, logger, "", 1);
  EXPECT_NE(workspace.observe(Event::WillSleep, [] {}), nullptr);
  EXPECT_FALSE(workspace.holdsSleepDelay());
  EXPECT_EQ(logger.lines.size(), 2u);
  EXPECT_EQ(workspace.mainBundleIdentifier(), "de.orvane.Somnara");
  EXPECT_EQ(workspace.pathForResource("Readme.html"), bundle + "/Contents/Resources/Readme.html");
  EXPECT_FALSE(workspace.pathForResource("ReleaseHistory.html").has_value());

  // Property-list resources: a dictionary or nothing, whatever the file holds.
  const Dictionary defaults{{"blinkinterval", Value(5.0)}};
  writeFile(bundle + "/Contents/Resources/UserDefaults.plist", plist::toXml(Value(defaults)));
  writeFile(bundle + "/Contents/Resources/Corrupt.plist", "<plist><dict><key>a</key>");
  writeFile(bundle + "/Contents/Resources/List.plist", plist::toXml(Value(Array{Value(1)})));
  EXPECT_EQ(workspace.propertyListResource("UserDefaults.plist"), defaults);
  EXPECT_EQ(workspace.propertyListResource("Corrupt.plist"), std::nullopt);
  EXPECT_EQ(workspace.propertyListResource("List.plist"), std::nullopt);
  EXPECT_EQ(workspace.propertyListResource("Missing.plist"), std::nullopt);
  EXPECT_EQ(workspace.propertyListResource("Readme.html"), std::nullopt);
}

// Which kinds of sleep work: logind's answer where it runs, with the reason
// the kernel files give for a "na"; the kernel files alone without logind.
TEST(Logind, SleepCapabilitiesTakeLogindsAnswerAndTheKernelsReason) {
  using powertool::SleepBlocker;
  TempTree root;
  auto kernel = [&](bool swap) {
    writeFile(root / "sys/power/state", "freeze mem disk\n");
    writeFile(root / "proc/swaps", std::string("Filename Type Size Used Priority\n") +
                                       (swap ? "/dev/vda2 partition 8388608 0 -2\n" : ""));
  };
  kernel(false);
  LinuxPowerManager withoutLogind(MachineRoot(root.path()), nullptr);
  EXPECT_EQ(withoutLogind.sleepCapabilities().hibernate.blocker, SleepBlocker::NoSwap);
  LogindClient absent(absentBus());
  EXPECT_EQ(LinuxPowerManager(MachineRoot(root.path()), &absent).sleepCapabilities().hibernate.blocker,
            SleepBlocker::NoSwap);

  PrivateBus system;
  ASSERT_TRUE(system.startMock("org.freedesktop.login1", "logind"));
  LogindClient logind(system.connection());
  LinuxPowerManager pm(MachineRoot(root.path()), &logind);
  const std::tuple<const char*, bool, SleepBlocker> cases[] = {
      {"na", false, SleepBlocker::NoSwap},         {"na", true, SleepBlocker::RefusedBySystem},
      {"yes", false, SleepBlocker::None},          {"challenge", false, SleepBlocker::None},
      {"no", false, SleepBlocker::None},  // refuses the caller, not the machine
  };
  for (const auto& [answer, swap, blocker] : cases) {
    SCOPED_TRACE(std::string(answer) + (swap ? ", swap" : ", no swap"));
    kernel(swap);
    system.call("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddMethod",
                {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("CanHibernate"), QString(),
                 QStringLiteral("s"), QStringLiteral("ret = '%1'").arg(answer)});
    const auto caps = pm.sleepCapabilities();
    EXPECT_EQ(caps.hibernate.blocker, blocker);
    EXPECT_TRUE(caps.suspend.possible());
  }
}

// A private bus standing in for the system bus, with dbusmock's logind and session c1 on it.
TEST(Logind, SessionChangesAndSleepHoldingTheDelayInhibitorAroundWillSleep) {
  PrivateBus system;
  ASSERT_TRUE(system.startMock("org.freedesktop.login1", "logind"));
  QDBusConnection bus = system.connection();
  auto call = [&](const QString& path, const QString& iface, const QString& method, const QList<QVariant>& args) {
    return system.call("org.freedesktop.login1", "/org/freedesktop/login1" + path, iface, method, args);
  };
  auto prepareForSleep = [&](bool start) {
    call("", "org.freedesktop.DBus.Mock", "EmitSignal",
         {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), QStringLiteral("b"),
          QVariant::fromValue(QVariantList{QVariant::fromValue(QDBusVariant(start))})});
  };
  auto setActive = [&](bool active) {
    call("/session/c1", "org.freedesktop.DBus.Properties", "Set",
         {QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Active"),
          QVariant::fromValue(QDBusVariant(active))});
  };
  auto inhibitors = [&] { return logindInhibitors(system); };
  call("", "org.freedesktop.DBus.Mock", "AddSession",
       {QStringLiteral("c1"), QStringLiteral("seat0"), 1000u, QStringLiteral("user"), true});

  RecordingLogger logger;
  LogindClient logind(bus);
  BundleWorkspace workspace("/opt/x/tool", logind, logger, "c1", 1);
  Strings events;
  bool heldDuringWillSleep = false;
  std::vector<host::RegistrationPtr> registrations;
  for (auto [event, name] : {std::pair{Event::WillSleep, "sleep"}, {Event::DidWake, "wake"},
                             {Event::SessionDidBecomeActive, "active"}, {Event::SessionDidResignActive, "resign"}})
    registrations.push_back(workspace.observe(event, [&, name = std::string(name)] {
      events.push_back(name);
      if (name == "sleep") heldDuringWillSleep = workspace.holdsSleepDelay();
    }));

  setActive(false);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 1; }));
  setActive(false);  // no change, no event
  setActive(true);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 2; }));
  EXPECT_TRUE(workspace.holdsSleepDelay());
  EXPECT_EQ(inhibitors(), Strings{"sleep/delay"});

  prepareForSleep(true);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 3; }));
  EXPECT_TRUE(heldDuringWillSleep);
  EXPECT_FALSE(workspace.holdsSleepDelay());
  EXPECT_TRUE(spinUntil([&] { return inhibitors().empty(); })) << "logind still waits for us";

  prepareForSleep(false);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 4; }));
  spinFor(100ms);
  EXPECT_EQ(events, (Strings{"resign", "active", "sleep", "wake"}));
  EXPECT_TRUE(workspace.holdsSleepDelay());
  EXPECT_EQ(inhibitors(), Strings{"sleep/delay"});
  EXPECT_TRUE(logger.lines.empty());
}

// Last: quitting the application ends its event loop for good.
TEST(LinuxHost, SigtermRunsWillTerminateWritesSettingsAndEndsTheLoopNormally) {
  TempTree config;
  ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  LinuxHost host;
  int willTerminate = 0;
  auto r = host.context().workspace().observe(Event::WillTerminate, [&] { ++willTerminate; });
  host.context().defaults().setValue("Key", Value(1));
  host.context().loop().schedule(20ms, false, [] { ::raise(SIGTERM); });
  EXPECT_EQ(host.exec(), 0);
  EXPECT_EQ(willTerminate, 1);
  // Outside a bundle the settings domain is the executable's name.
  EXPECT_FALSE(readFile(config / "somnara/somnara_host_bus_tests.plist").empty());
}

}  // namespace
}  // namespace somnara::linuxhost
