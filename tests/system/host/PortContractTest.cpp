// Promises of the run loop, settings, notification and process ports that the
// simulated machine and the Linux backend both keep, checked against each.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <list>
#include <memory>
#include <set>

#include "TestSupport.h"
#include "host/linux/DBusNotificationCenter.h"
#include "host/linux/LinuxPowerManager.h"
#include "host/linux/PlistFileDefaults.h"
#include "host/linux/QtProcesses.h"
#include "host/linux/QtRunLoop.h"
#include "host/sim/SimMachine.h"

namespace somnara::linuxhost {
namespace {

using std::chrono::milliseconds;

/// One program's ports.
struct Ports {
  host::RunLoop& loop;
  host::Defaults& defaults;
  host::NotificationCenter& notifications;
  host::Processes& processes;
  host::PowerManager& power;
  std::string helper;  // the program's privileged helper
};

class Backend {
 public:
  virtual ~Backend() = default;
  /// A new program whose settings domain is domain.
  virtual Ports program(const std::string& domain) = 0;
  /// Time passes for d, every program's loop served.
  virtual void pass(milliseconds d) = 0;
  /// Serves every loop until done() holds or timeout passes; done()'s last answer.
  virtual bool until(const std::function<bool()>& done, milliseconds timeout) = 0;
  /// The one power tool the helpers run; empty where this build's is elsewhere.
  static std::string powerTool() { return std::string(PMSET_BIN) == SOMNARA_PMSET_PATH ? PMSET_BIN : ""; }
  /// A tool that exits with status after running for takes.
  virtual std::string tool(int status, milliseconds takes) = 0;
  /// Lets a delivery reach the program's queue without serving its loop.
  virtual void queueDeliveries() {}
  /// Long enough for one program's stored change to reach another.
  void settle() { pass(400ms); }
};

class SimBackend final : public Backend {
 public:
  SimBackend() { machine_.tools().setPowerToolPath(powerTool()); }
  Ports program(const std::string& domain) override {
    sim::SimProgram& p = machine_.addProgram(domain, {{}, 0});  // root, as the tests run
    return {p.loop(), p.defaults(), p.notifications(), p.processes(), p.powerManager(), p.helperPath()};
  }
  void pass(milliseconds d) override { machine_.advance(d); }
  bool until(const std::function<bool()>& done, milliseconds timeout) override {
    for (milliseconds waited{0}; !done(); waited += 10ms) {
      if (waited >= timeout) return false;
      machine_.advance(10ms);
    }
    return true;
  }
  std::string tool(int status, milliseconds takes) override {
    const std::string name = "tool" + std::to_string(++tools_);
    machine_.tools().setScript(name, sim::SimToolRunner::Script::exit(status).taking(takes));
    return "/usr/libexec/" + name;
  }

 private:
  sim::SimMachine machine_;
  int tools_ = 0;
};

class LinuxBackend final : public Backend {
 public:
  LinuxBackend() { dir_.mkdir("machine"); }
  ~LinuxBackend() override {
    programs_.clear();
    EXPECT_EQ(logger_.lines, Strings{}) << "a port logged";
  }
  Ports program(const std::string& domain) override {
    auto& p = *programs_.emplace_back(std::make_unique<Program>(domain, dir_.path(), logger_));
    return {p.loop, p.defaults, p.notifications, p.processes, p.power, HELPER_BIN};
  }
  void pass(milliseconds d) override { spinFor(d); }
  bool until(const std::function<bool()>& done, milliseconds timeout) override { return spinUntil(done, timeout); }
  std::string tool(int status, milliseconds takes) override {
    const std::string path = dir_ / ("tool" + std::to_string(programs_.size()) + "-" + std::to_string(++tools_));
    writeFile(path, "#!/bin/sh\nsleep " + std::to_string(takes.count() / 1000.0) + "\nexit " + std::to_string(status) + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
  }
  void queueDeliveries() override { ::usleep(300000); }

 private:
  struct Program {
    Program(const std::string& domain, const std::string& dir, host::Logger& logger)
        : defaults(domain, dir, logger), notifications(QDBusConnection::sessionBus(), logger),
          power(MachineRoot(dir + "/machine"), nullptr) {}
    QtRunLoop loop;
    PlistFileDefaults defaults;
    DBusNotificationCenter notifications;
    QtProcesses processes;
    LinuxPowerManager power;
  };
  TempTree dir_;
  // The power tool works on a machine root of the backend's own; the helper,
  // not privileged here, hands it on.
  ScopedEnvironment machine_{{"SOMNARA_ROOT", (dir_ / "machine").c_str()}};
  RecordingLogger logger_;
  std::list<std::unique_ptr<Program>> programs_;
  int tools_ = 0;
};

template <class B>
class PortContract : public ::testing::Test {
 protected:
  /// A backend of its own for the test or the table row; the last one made lives on.
  Backend* fresh() {
    backend_.reset();  // before the next one sets its environment
    backend_ = std::make_unique<B>();
    return backend_.get();
  }
  std::unique_ptr<Backend> backend_;
};

struct BackendNames {
  template <class B>
  static std::string GetName(int) { return std::is_same_v<B, SimBackend> ? "Sim" : "Linux"; }
};
using Backends = ::testing::Types<SimBackend, LinuxBackend>;
TYPED_TEST_SUITE(PortContract, Backends, BackendNames);

TYPED_TEST(PortContract, TimersFireInDueOrderUntilCancelledAndWaitOutABlockingSleep) {
  Backend* b = this->fresh();
  host::RunLoop& loop = b->program("test.A").loop;
  const double start = loop.now();
  Strings order;
  int ticks = 0;
  auto note = [&](const char* name) { return [&order, name] { order.push_back(name); }; };
  const auto tick = loop.schedule(20ms, true, [&] { ++ticks; });
  host::RunLoop::TimerId self = 0;
  self = loop.schedule(10ms, true, [&] {
    order.push_back("self");
    loop.cancel(self);  // from inside its own call
  });
  const auto late = loop.schedule(150ms, false, note("late"));
  const auto early = loop.schedule(50ms, false, note("early"));
  const auto zero = loop.schedule(0ms, false, note("zero"));
  const auto cancelled = loop.schedule(100ms, false, note("cancelled"));
  loop.cancel(cancelled);
  loop.cancel(cancelled + 1000);  // unknown: ignored
  const std::set<host::RunLoop::TimerId> ids{tick, self, late, early, zero, cancelled};
  EXPECT_EQ(ids.size(), 6u);
  EXPECT_EQ(ids.count(0), 0u);

  b->pass(250ms);
  EXPECT_EQ(order, (Strings{"zero", "self", "early", "late"}));
  EXPECT_GE(ticks, 5);
  EXPECT_LE(ticks, 12);
  loop.cancel(tick);
  const int ticksAtCancel = ticks;
  b->pass(100ms);
  EXPECT_EQ(ticks, ticksAtCancel);

  loop.schedule(10ms, false, note("after the sleep"));
  loop.sleepBlocking(100ms);
  EXPECT_EQ(order.back(), "late") << "a timer fired during a blocking sleep";
  b->pass(50ms);
  EXPECT_EQ(order.back(), "after the sleep");
  EXPECT_GE(loop.now() - start, 0.45);
  EXPECT_LT(loop.now() - start, 10.0);
}

TYPED_TEST(PortContract, ToolsReturnTheirStatusWhileEveryProgramsTimersAreServed) {
  Backend* b = this->fresh();
  Ports a = b->program("test.A"), other = b->program("test.B");
  Strings fired;
  a.loop.schedule(100ms, false, [&] { fired.push_back("a"); });
  other.loop.schedule(200ms, false, [&] { fired.push_back("b"); });
  EXPECT_EQ(a.processes.run(b->tool(7, 400ms), {}), 7);
  EXPECT_EQ(fired, (Strings{"a", "b"})) << "timers due while the tool ran";
  EXPECT_EQ(a.processes.run(b->tool(0, 0ms), {}), 0);
  EXPECT_EQ(a.processes.run("/nonexistent/tool", {}), std::nullopt);
}

// The power tool and the helper, real or emulated, answer alike, and the mode
// they set is the one the power manager then reads.
TYPED_TEST(PortContract, PowerToolAndHelperAnswerAlike) {
  Backend* b = this->fresh();
  const std::string pmset = Backend::powerTool();
  if (pmset.empty()) GTEST_SKIP() << "this build's power tool is installed elsewhere";
  Ports p = b->program("de.orvane.Somnara.Daemon");
  const struct {
    bool throughHelper;
    std::vector<std::string> args;
    int status;
    std::optional<int> modeAfter;
  } cases[] = {
      {false, {"hibernatemode", "3"}, 0, 3},
      {false, {"force", "hibernatemode", "25"}, 0, 25},
      {false, {"hibernatemode", "2"}, 2, 25},
      {false, {"bogus"}, 2, 25},
      {false, {}, 2, 25},
      {false, {"sleepnow"}, 0, 25},
      {true, {pmset, "hibernatemode", "1"}, 0, 1},
      {true, {pmset, "force", "hibernatemode", "0"}, 0, 0},
      {true, {pmset, "hibernatemode", "7"}, 64, 0},
      {true, {"/bin/sh", "hibernatemode", "3"}, 64, 0},
      {true, {"/tmp/pmset", "hibernatemode", "3"}, 64, 0},
      {true, {}, 64, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(p.processes.run(c.throughHelper ? p.helper : pmset, c.args), c.status);
    EXPECT_EQ(p.power.hibernateMode().mode, c.modeAfter);
  }
}

TYPED_TEST(PortContract, SettingsAreFoundInTheOwnDomainThenSuitesInOrderThenRegistered) {
  Backend* b = nullptr;
  const struct {
    const char* name;
    bool inOwn, inSuite1, inSuite2, registered;
    std::optional<Value> expected;
  } cases[] = {
      {"own wins", true, true, true, true, Value("own")},
      {"first suite before second", false, true, true, true, Value("suite1")},
      {"second suite before registered", false, false, true, true, Value("suite2")},
      {"registered last", false, false, false, true, Value("registered")},
      {"missing everywhere", false, false, false, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    b = this->fresh();
    for (const auto& [domain, present, value] :
         {std::tuple{"suite.one", c.inSuite1, "suite1"}, {"suite.two", c.inSuite2, "suite2"}}) {
      if (!present) continue;
      host::Defaults& writer = b->program(domain).defaults;
      writer.setValue("k", Value(value));
      ASSERT_TRUE(writer.synchronize());
    }
    host::Defaults& d = b->program("own.domain").defaults;
    d.addSuite("suite.one");
    d.addSuite("suite.two");
    d.addSuite("suite.one");  // a second add changes nothing
    if (c.inOwn) d.setValue("k", Value("own"));
    if (c.registered) d.registerDefaults({{"k", Value("registered")}});
    EXPECT_EQ(d.value("k"), c.expected);
  }
}

TYPED_TEST(PortContract, SettingObserversHearOnlyChangesOfTheValueTheyFindLaterOnTheirLoop) {
  Backend* b = nullptr;
  using Act = std::function<void(Backend&, host::Defaults& prefs, host::Defaults& daemon)>;
  const struct {
    const char* name;
    Act act;
    int calls;
    bool linuxOnly = false;  // the simulated store still tells the observer once
  } cases[] = {
      {"same value again", [](Backend&, host::Defaults& p, host::Defaults&) { p.setValue("k", Value(1)); }, 0},
      {"changed in the suite, twice before the reader's turn",
       [](Backend&, host::Defaults& p, host::Defaults&) {
         p.setValue("k", Value(5));
         p.setValue("k", Value(6));
       },
       1},
      {"changed and changed back before the reader's turn",
       [](Backend&, host::Defaults& p, host::Defaults&) {
         p.setValue("k", Value(5));
         p.setValue("k", Value(1));
       },
       0, true},
      {"changed by the program itself", [](Backend&, host::Defaults&, host::Defaults& d) { d.setValue("k", Value(9)); },
       1},
      {"shadowed by the own domain",
       [](Backend&, host::Defaults& p, host::Defaults& d) {
         d.setValue("k", Value(1));
         p.setValue("k", Value(5));
       },
       0},
      {"unsearched domain",
       [](Backend& b, host::Defaults&, host::Defaults&) {
         host::Defaults& other = b.program("other").defaults;
         other.setValue("k", Value(2));
         other.synchronize();
       },
       0},
      {"other key", [](Backend&, host::Defaults& p, host::Defaults&) { p.setValue("j", Value(2)); }, 0},
      {"removed", [](Backend&, host::Defaults& p, host::Defaults&) { p.removeValue("k"); }, 1},
      {"registered under a stored value",
       [](Backend&, host::Defaults&, host::Defaults& d) { d.registerDefaults({{"k", Value(7)}}); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.linuxOnly && std::is_same_v<TypeParam, SimBackend>) continue;
    b = this->fresh();
    host::Defaults& p = b->program("de.orvane.Somnara").defaults;
    host::Defaults& d = b->program("de.orvane.Somnara.Daemon").defaults;
    d.addSuite("de.orvane.Somnara");
    p.setValue("k", Value(1));
    p.synchronize();
    ASSERT_TRUE(b->until([&] { return d.value("k") == Value(1); }, 2s));
    int calls = 0;
    auto registration = d.observe("k", [&] { ++calls; });
    c.act(*b, p, d);
    EXPECT_EQ(calls, 0) << "called inside the change";
    p.synchronize();
    b->settle();
    EXPECT_EQ(calls, c.calls);
  }
}

TYPED_TEST(PortContract, SettingsCrossProgramsWithinASecondUntilTheObserverLeaves) {
  Backend* b = this->fresh();
  Ports prefs = b->program("de.orvane.Somnara"), daemon = b->program("de.orvane.Somnara.Daemon");
  EXPECT_FALSE(prefs.defaults.ownDomainExists());
  daemon.defaults.registerDefaults({{"SleepMode", Value(0)}});
  daemon.defaults.addSuite("de.orvane.Somnara");
  int calls = 0;
  auto registration = daemon.defaults.observe("SleepMode", [&] { ++calls; });
  for (const auto& [mode, expectedCalls] : {std::pair{3, 1}, {1, 2}, {1, 2}, {25, 3}}) {
    SCOPED_TRACE(mode);
    prefs.defaults.setValue("SleepMode", Value(mode));
    EXPECT_TRUE(prefs.defaults.ownDomainExists()) << "written, not yet stored";
    ASSERT_TRUE(prefs.defaults.synchronize());
    EXPECT_TRUE(b->until([&] { return daemon.defaults.value("SleepMode") == Value(mode); }, 1s));
    b->pass(200ms);
    EXPECT_EQ(calls, expectedCalls);
  }
  EXPECT_TRUE(b->program("de.orvane.Somnara").defaults.ownDomainExists()) << "the next start";
  registration.reset();
  prefs.defaults.setValue("SleepMode", Value(0));
  prefs.defaults.synchronize();
  b->settle();
  EXPECT_EQ(calls, 3) << "told after the registration was dropped";
}

TYPED_TEST(PortContract, NotificationsReachExactMatchesOfEveryProgramLaterInPostOrder) {
  Backend* b = this->fresh();
  constexpr const char* kName = "de.orvane.Somnara.message";
  constexpr const char* kObject = "de.orvane.Somnara";
  Ports agent = b->program("de.orvane.Somnara.MenuBar"), daemon = b->program("de.orvane.Somnara.Daemon");
  std::map<std::string, std::vector<std::optional<Value>>> received;  // by observer
  auto listen = [&](Ports& p, const std::string& name, const std::string& object, const std::string& who) {
    return p.notifications.observe(name, object, [&received, who](const host::Notification& n) {
      received[who].push_back(n.userInfo);
    });
  };
  auto r1 = listen(agent, kName, kObject, "agent");
  auto r2 = listen(daemon, kName, kObject, "daemon");
  auto r3 = listen(daemon, kName, "another.object", "other object");
  auto r4 = listen(daemon, "de.orvane.Somnara.messag", kObject, "name prefix");
  ASSERT_TRUE(r1 && r2 && r3 && r4);

  const Dictionary nested{{"somnaramodeindex", Value(3)}, {"flag", Value(true)}, {"ratio", Value(0.25)}};
  std::vector<std::optional<Value>> payloads = {
      std::nullopt, Value(Date{1767225635.75}),
      Value(Dictionary{{"settings", Value(nested)}, {"list", Value(Array{Value("<&> ünï"), Value(-7)})}}), Value("")};
  for (const auto& info : payloads) agent.notifications.post({kName, kObject, info});
  payloads[1] = Value(Date{1767225635.0});  // dates cross to the second
  EXPECT_TRUE(received.empty()) << "delivered inside post()";
  EXPECT_TRUE(b->until([&] { return received["daemon"].size() == payloads.size(); }, 5s));
  b->pass(200ms);
  EXPECT_EQ(received, (std::map<std::string, std::vector<std::optional<Value>>>{
                          {"agent", payloads}, {"daemon", payloads}}));

  // A delivery already queued when its observer leaves reaches nobody.
  received.clear();
  agent.notifications.post({kName, kObject, std::nullopt});
  b->queueDeliveries();
  r2.reset();
  b->settle();
  EXPECT_EQ(received, (std::map<std::string, std::vector<std::optional<Value>>>{{"agent", {std::nullopt}}}));
}

}  // namespace
}  // namespace somnara::linuxhost
