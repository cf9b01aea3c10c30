// Distributed notifications on a private session bus; logind events from
// python-dbusmock on a private stand-in for the system bus; the whole host's
// termination path.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <cstdlib>

#include "TestSupport.h"
#include "host/linux/BundleWorkspace.h"
#include "host/linux/DBusNotificationCenter.h"
#include "host/linux/LinuxHost.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

using namespace std::chrono_literals;
using host::Notification;
using Event = host::Workspace::Event;
using test::RecordingLogger;
using test::spinUntil;

QDBusConnection absentBus() {
  return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/somnara-test-bus"),
                                       QStringLiteral("absent"));
}

TEST(DBusNotificationCenter, RoundTripWithAnotherProcess) {
  RecordingLogger logger;
  DBusNotificationCenter center(QDBusConnection::sessionBus(), logger);
  bool ready = false;
  std::vector<Notification> pongs;
  int pingsSeenHere = 0;
  auto r1 = center.observe("ready", "peer", [&](const Notification&) { ready = true; });
  auto r2 = center.observe("pong", "peer", [&](const Notification& n) { pongs.push_back(n); });
  auto r3 = center.observe("ping", "peer", [&](const Notification&) { ++pingsSeenHere; });
  ASSERT_TRUE(r1 && r2 && r3);

  QProcess peer;
  peer.setProcessChannelMode(QProcess::ForwardedChannels);
  peer.start(QStringLiteral(SOMNARA_NOTIFICATION_PEER), {});
  ASSERT_TRUE(peer.waitForStarted());
  ASSERT_TRUE(spinUntil([&] { return ready; }, 10s));

  const Value info(Dictionary{{"Hibernate Mode", Value(3)}, {"Name", Value("<&> ünï")}, {"On", Value(true)}});
  center.post({"ping", "peer", info});
  ASSERT_TRUE(spinUntil([&] { return pongs.size() == 1; }));
  EXPECT_EQ(pongs[0].name, "pong");
  EXPECT_EQ(pongs[0].object, "peer");
  EXPECT_EQ(pongs[0].userInfo, info);

  center.post({"ping", "peer", std::nullopt});
  ASSERT_TRUE(spinUntil([&] { return pongs.size() == 2; }));
  EXPECT_FALSE(pongs[1].userInfo.has_value());

  // Our own observer saw each of our posts exactly once.
  test::spinFor(200ms);
  EXPECT_EQ(pingsSeenHere, 2);
  EXPECT_EQ(pongs.size(), 2u);

  center.post({"quit", "peer", std::nullopt});
  ASSERT_TRUE(peer.waitForFinished(5000));
  EXPECT_EQ(peer.exitCode(), 0);
  EXPECT_TRUE(logger.lines.empty());
}

TEST(DBusNotificationCenter, ObserversMatchNameAndObjectExactlyOnce) {
  RecordingLogger logger;
  DBusNotificationCenter center(QDBusConnection::sessionBus(), logger);
  std::map<std::string, int> calls;
  auto count = [&](std::string tag) { return [&calls, tag](const Notification&) { ++calls[tag]; }; };
  auto a = center.observe("changed", "de.orvane.Somnara", count("a"));
  auto b = center.observe("changed", "de.orvane.Somnara", count("b"));
  auto other = center.observe("changed", "de.orvane.Other", count("other"));
  auto prefix = center.observe("change", "de.orvane.Somnara", count("prefix"));
  center.post({"changed", "de.orvane.Somnara", std::nullopt});
  EXPECT_EQ(calls.size(), 0u) << "delivered inside post()";
  center.post({"changed", "de.orvane.Somnara", Value(Dictionary{})});
  EXPECT_TRUE(spinUntil([&] { return calls["a"] == 2 && calls["b"] == 2; }));
  b.reset();
  center.post({"changed", "de.orvane.Somnara", std::nullopt});
  EXPECT_TRUE(spinUntil([&] { return calls["a"] == 3; }));
  test::spinFor(200ms);
  EXPECT_EQ(calls["a"], 3);
  EXPECT_EQ(calls["b"], 2);
  EXPECT_EQ(calls["other"], 0);
  EXPECT_EQ(calls["prefix"], 0);
}

TEST(DBusNotificationCenter, UnreadableUserInfoIsDroppedWithADiagnostic) {
  RecordingLogger logger;
  DBusNotificationCenter center(QDBusConnection::sessionBus(), logger);
  std::vector<Notification> got;
  auto r = center.observe("n", "o", [&](const Notification& n) { got.push_back(n); });
  QDBusMessage bad = QDBusMessage::createSignal(DBusNotificationCenter::kPath, DBusNotificationCenter::kInterface,
                                                DBusNotificationCenter::kMember);
  bad << QStringLiteral("n") << QStringLiteral("o") << QStringLiteral("<plist><dict><key>x");
  ASSERT_TRUE(QDBusConnection::sessionBus().send(bad));
  center.post({"n", "o", Value(1)});  // a good one after it
  ASSERT_TRUE(spinUntil([&] { return got.size() == 1; }));
  test::spinFor(100ms);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].userInfo, Value(1));
  EXPECT_EQ(logger.diagnostics.size(), 1u);
}

TEST(DBusNotificationCenter, WithoutABusPostsAreDroppedAndLoggedOnce) {
  RecordingLogger logger;
  DBusNotificationCenter center(absentBus(), logger);
  EXPECT_EQ(center.observe("n", "o", [](const Notification&) {}), nullptr);
  center.post({"n", "o", Value(1)});
  center.post({"n", "o", std::nullopt});
  EXPECT_EQ(logger.lines.size(), 1u);
}

// A private bus standing in for the system bus, with dbusmock's logind on it.
class LogindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    busDaemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(busDaemon_.waitForStarted());
    ASSERT_TRUE(spinUntil([&] { return busDaemon_.canReadLine(); }));
    address_ = QString::fromUtf8(busDaemon_.readLine()).trimmed();
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", address_);
    logind_.setProcessEnvironment(env);
    logind_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    logind_.start(QStringLiteral("/usr/bin/python3"), {"-m", "dbusmock", "--template", "logind"});
    ASSERT_TRUE(logind_.waitForStarted());
    bus_ = QDBusConnection::connectToBus(address_, QStringLiteral("private-system"));
    ASSERT_TRUE(bus_.isConnected());
    ASSERT_TRUE(spinUntil([&] { return bus_.interface()->isServiceRegistered("org.freedesktop.login1").value(); },
                          15s));
    call("/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "AddSession",
         {QStringLiteral("c1"), QStringLiteral("seat0"), 1000u, QStringLiteral("user"), true});
  }
  void TearDown() override {
    QDBusConnection::disconnectFromBus(QStringLiteral("private-system"));
    logind_.kill();
    logind_.waitForFinished();
    busDaemon_.kill();
    busDaemon_.waitForFinished();
  }

  QDBusMessage call(const QString& path, const QString& iface, const QString& method, const QList<QVariant>& args) {
    auto m = QDBusMessage::createMethodCall("org.freedesktop.login1", path, iface, method);
    m.setArguments(args);
    QDBusMessage reply = bus_.call(m);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply;
  }
  void prepareForSleep(bool start) {
    call("/org/freedesktop/login1", "org.freedesktop.DBus.Mock", "EmitSignal",
         {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), QStringLiteral("b"),
          QVariant::fromValue(QVariantList{QVariant::fromValue(QDBusVariant(start))})});
  }
  void setActive(bool active) {
    call("/org/freedesktop/login1/session/c1", "org.freedesktop.DBus.Properties", "Set",
         {QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Active"),
          QVariant::fromValue(QDBusVariant(active))});
  }
  // Inhibitors logind currently holds, as "what/mode" strings.
  std::vector<std::string> inhibitors() {
    QDBusMessage reply = call("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "ListInhibitors", {});
    std::vector<std::string> out;
    if (reply.arguments().isEmpty()) return out;
    const QDBusArgument arg = reply.arguments().first().value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
      QString what, who, why, mode;
      uint uid = 0, pid = 0;
      arg.beginStructure();
      arg >> what >> who >> why >> mode >> uid >> pid;
      arg.endStructure();
      out.push_back((what + "/" + mode).toStdString());
    }
    arg.endArray();
    return out;
  }

  QProcess busDaemon_, logind_;
  QString address_;
  QDBusConnection bus_{QStringLiteral("unset")};
};

TEST_F(LogindTest, SleepAndWakeHoldTheDelayInhibitorAroundWillSleep) {
  RecordingLogger logger;
  BundleWorkspace workspace("/opt/x/tool", bus_, logger, "c1", 1);
  std::vector<std::string> events;
  bool heldDuringWillSleep = false;
  auto s = workspace.observe(Event::WillSleep, [&] {
    events.push_back("sleep");
    heldDuringWillSleep = workspace.holdsSleepDelay();
  });
  auto w = workspace.observe(Event::DidWake, [&] { events.push_back("wake"); });
  EXPECT_TRUE(workspace.holdsSleepDelay());
  EXPECT_EQ(inhibitors(), std::vector<std::string>{"sleep/delay"});

  prepareForSleep(true);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 1; }));
  EXPECT_TRUE(heldDuringWillSleep);
  EXPECT_FALSE(workspace.holdsSleepDelay());
  EXPECT_TRUE(spinUntil([&] { return inhibitors().empty(); })) << "logind still waits for us";

  prepareForSleep(false);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 2; }));
  EXPECT_EQ(events, (std::vector<std::string>{"sleep", "wake"}));
  EXPECT_TRUE(workspace.holdsSleepDelay());
  EXPECT_EQ(inhibitors(), std::vector<std::string>{"sleep/delay"});
  EXPECT_TRUE(logger.lines.empty());
}

TEST_F(LogindTest, SessionActiveChangesBecomeEvents) {
  RecordingLogger logger;
  BundleWorkspace workspace("/opt/x/tool", bus_, logger, "c1", 1);
  std::vector<std::string> events;
  auto a = workspace.observe(Event::SessionDidBecomeActive, [&] { events.push_back("active"); });
  auto r = workspace.observe(Event::SessionDidResignActive, [&] { events.push_back("resign"); });
  setActive(false);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 1; }));
  setActive(false);  // no change, no event
  setActive(true);
  ASSERT_TRUE(spinUntil([&] { return events.size() == 2; }));
  test::spinFor(100ms);
  EXPECT_EQ(events, (std::vector<std::string>{"resign", "active"}));
  EXPECT_TRUE(logger.lines.empty());
}

TEST(BundleWorkspace, WithoutLogindOneLineAndNoEvents) {
  RecordingLogger logger;
  BundleWorkspace workspace("/opt/x/tool", absentBus(), logger, "", 1);
  auto s = workspace.observe(Event::WillSleep, [] {});
  auto a = workspace.observe(Event::SessionDidBecomeActive, [] {});
  EXPECT_NE(s, nullptr);
  EXPECT_FALSE(workspace.holdsSleepDelay());
  EXPECT_EQ(logger.lines.size(), 1u);
  EXPECT_EQ(workspace.mainBundleIdentifier(), "");
  EXPECT_EQ(workspace.mainBundlePath(), "/opt/x");
  EXPECT_FALSE(workspace.pathForResource("Readme.html").has_value());
}

TEST(BundleWorkspace, BundleAndResources) {
  test::TempTree dir;
  const std::string bundle = dir / "Somnara.app";
  QDir().mkpath(QString::fromStdString(bundle + "/Contents/Resources"));
  test::writeFile(bundle + "/Contents/Info.plist",
                  plist::toXml(Value(Dictionary{{"CFBundleIdentifier", Value("de.orvane.Somnara")}})));
  test::writeFile(bundle + "/Contents/Resources/Readme.html", "<html/>");
  RecordingLogger logger;
  BundleWorkspace workspace(bundle + "/Contents/MacOS/Somnara", absentBus(), logger, "", 1);
  EXPECT_EQ(workspace.mainBundleIdentifier(), "de.orvane.Somnara");
  EXPECT_EQ(workspace.mainBundlePath(), bundle);
  EXPECT_EQ(workspace.pathForResource("Readme.html"), bundle + "/Contents/Resources/Readme.html");
  EXPECT_FALSE(workspace.pathForResource("ReleaseHistory.html").has_value());
}

// Last: quitting the application ends its event loop for good.
TEST(LinuxHost, SigtermRunsWillTerminateThenEndsTheLoopNormally) {
  test::TempTree config;
  ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  LinuxHost host;
  int willTerminate = 0;
  auto r = host.context().workspace().observe(Event::WillTerminate, [&] { ++willTerminate; });
  host.context().defaults().setValue("Key", Value(1));
  host.context().loop().schedule(20ms, false, [] { ::raise(SIGTERM); });
  EXPECT_EQ(host.exec(), 0);
  EXPECT_EQ(willTerminate, 1);
  // Pending settings reached the disk on the way out.
  // Outside a bundle the settings domain is the executable's name.
  EXPECT_FALSE(test::readFile(config / "somnara/somnara_host_bus_tests.plist").empty());
}

}  // namespace
}  // namespace somnara::linuxhost
