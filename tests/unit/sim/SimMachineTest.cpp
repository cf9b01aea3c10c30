// Programs on one machine: identity and ending, power-source changes,
// workspace events, logs and file watches.
#include <gtest/gtest.h>

#include <sstream>

#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

using Event = host::Workspace::Event;
using std::chrono::milliseconds;

class MachineTest : public ::testing::Test {
 protected:
  SimMachine machine;
  SimProgram& prefs = machine.addProgram("de.orvane.Somnara");
  SimProgram& daemon = machine.addProgram("de.orvane.Somnara.Daemon");
  SimProgram& oldDaemon = machine.addProgram("de.orvane.Somnara.Daemon");
};

TEST_F(MachineTest, ProgramsAreFoundByBundleIdentifierWhileTheyRun) {
  EXPECT_NE(daemon.pid(), oldDaemon.pid());
  EXPECT_EQ(daemon.context().processes().currentPid(), daemon.pid());
  EXPECT_EQ(prefs.processes().runningApplications("de.orvane.Somnara.Daemon"),
            (std::vector<int>{daemon.pid(), oldDaemon.pid()}));
  EXPECT_EQ(prefs.processes().runningApplications("de.orvane.Somnara"), (std::vector<int>{prefs.pid()}));
  oldDaemon.end();
  EXPECT_EQ(prefs.processes().runningApplications("de.orvane.Somnara.Daemon"), (std::vector<int>{daemon.pid()}));
  EXPECT_FALSE(prefs.processes().isAlive(oldDaemon.pid()));
  EXPECT_FALSE(prefs.processes().isAlive(424242));
}

TEST_F(MachineTest, EndingAProgramFromAnotherOne) {
  struct Case {
    const char* name;
    bool ignoresTerminate, resistsForce;
    std::function<bool(host::Processes&, int pid)> act;
    bool result;
    bool willTerminateCalled;
    bool aliveAfter;
  };
  const Case cases[] = {
      {"terminate", false, false, [](host::Processes& p, int pid) { return p.terminate(pid); }, true, true, false},
      {"terminate ignored", true, false, [](host::Processes& p, int pid) { return p.terminate(pid); }, true, false,
       true},
      {"force", true, false, [](host::Processes& p, int pid) { return p.forceTerminate(pid); }, true, false, false},
      {"force refused", false, true, [](host::Processes& p, int pid) { return p.forceTerminate(pid); }, false, false,
       true},
      {"signal 9", true, true, [](host::Processes& p, int pid) { p.kill(pid); return true; }, true, false, false},
      {"unknown pid", false, false, [](host::Processes& p, int) { return p.terminate(99999); }, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimProgram& caller = m.addProgram("de.orvane.Somnara");
    SimProgram& target = m.addProgram("de.orvane.Somnara.MenuBar");
    target.setIgnoresTerminate(c.ignoresTerminate);
    target.setResistsForceTerminate(c.resistsForce);
    bool willTerminate = false;
    auto reg = target.context().workspace().observe(Event::WillTerminate, [&] { willTerminate = true; });
    EXPECT_EQ(c.act(caller.processes(), target.pid()), c.result);
    m.runPending();
    EXPECT_EQ(willTerminate, c.willTerminateCalled);
    EXPECT_EQ(caller.processes().isAlive(target.pid()), c.aliveAfter);
  }
}

TEST_F(MachineTest, PowerSourceChangesReachEveryRunningProgramOnItsLoop) {
  int prefsCalls = 0, daemonCalls = 0;
  auto r1 = prefs.powerSources().observeChanges([&] { ++prefsCalls; });
  auto r2 = daemon.powerSources().observeChanges([&] { ++daemonCalls; });
  oldDaemon.end();

  machine.state().setBattery(40, 95);
  EXPECT_EQ(daemonCalls, 0);
  machine.runPending();
  EXPECT_EQ(prefsCalls, 1);
  EXPECT_EQ(daemonCalls, 1);
  auto snapshot = daemon.context().powerSources().snapshot();
  ASSERT_TRUE(snapshot && snapshot->size() == 1 && (*snapshot)[0]);
  EXPECT_EQ((*snapshot)[0]->at("Current Capacity"), Value(40));
  EXPECT_EQ((*snapshot)[0]->at("Time to Empty"), Value(95));

  machine.state().setBattery(40, 95);  // no change, no call
  machine.state().setOnExternalPower(false);
  machine.state().addUnreadableSource();
  machine.runPending();
  EXPECT_EQ(daemonCalls, 3);
  EXPECT_FALSE(daemon.powerSources().onExternalPower());
  EXPECT_EQ(daemon.powerSources().snapshot()->back(), std::nullopt);

  machine.state().setPowerSources(std::nullopt);
  EXPECT_EQ(daemon.powerSources().snapshot(), std::nullopt);
  machine.state().setPowerSourceChangesObservable(false);
  EXPECT_EQ(daemon.powerSources().observeChanges([] {}), nullptr);
}

TEST_F(MachineTest, MachineEventsReachRunningProgramsAtOnce) {
  std::vector<std::string> seen;
  std::vector<host::RegistrationPtr> regs;
  for (SimProgram* p : {&prefs, &daemon, &oldDaemon})
    for (Event e : {Event::WillSleep, Event::DidWake, Event::SessionDidResignActive, Event::SessionDidBecomeActive})
      regs.push_back(p->workspace().observe(e, [&seen, p, e] {
        seen.push_back(std::to_string(p->pid()) + ":" + std::to_string(static_cast<int>(e)));
      }));
  oldDaemon.end();
  machine.sleep();
  machine.wake();
  machine.resignSession();
  machine.activateSession();
  const std::string a = std::to_string(prefs.pid()), b = std::to_string(daemon.pid());
  EXPECT_EQ(seen, (std::vector<std::string>{a + ":0", b + ":0", a + ":1", b + ":1", a + ":3", b + ":3", a + ":2",
                                             b + ":2"}));
}

TEST_F(MachineTest, BundleResourcesAndIdentity) {
  host::Workspace& ws = daemon.context().workspace();
  EXPECT_EQ(ws.mainBundleIdentifier(), "de.orvane.Somnara.Daemon");
  EXPECT_EQ(ws.mainBundlePath(), "/Applications/Daemon.app");
  EXPECT_EQ(ws.pathForResource("pmsethelper"), "/Applications/Daemon.app/Contents/Resources/pmsethelper");
  EXPECT_EQ(ws.pathForResource("Readme.html"), std::nullopt);
  daemon.workspace().removeResource("pmsethelper");
  EXPECT_EQ(ws.pathForResource("pmsethelper"), std::nullopt);
  ws.beep();
  EXPECT_EQ(daemon.workspace().beepCount(), 1);
  EXPECT_EQ(daemon.context().platform().osVersion(), 0x60100);
  machine.state().setOsVersion(0xb0000);
  EXPECT_EQ(prefs.context().platform().osVersion(), 0xb0000);
}

TEST_F(MachineTest, LogLinesAreKeptPerProgramAndInMachineOrder) {
  std::ostringstream echo;
  machine.logs().setEcho(&echo);
  daemon.context().logger().log("one");
  machine.advance(milliseconds(1500));
  prefs.context().logger().diagnostic("two");
  daemon.context().logger().log("three");

  EXPECT_EQ(daemon.logger().logLines(), (std::vector<std::string>{"one", "three"}));
  EXPECT_EQ(prefs.logger().diagnosticLines(), (std::vector<std::string>{"two"}));
  EXPECT_EQ(machine.logs().lines(SimLogBook::Kind::Log), (std::vector<std::string>{"one", "three"}));
  ASSERT_EQ(machine.logs().entries().size(), 3u);
  EXPECT_EQ(machine.logs().entries()[1].at, milliseconds(1500));
  EXPECT_NE(echo.str().find("[     1.500] de.orvane.Somnara (stderr): two\n"), std::string::npos) << echo.str();
}

TEST_F(MachineTest, FileWatchReportsPathsInsideTheWatchedTree) {
  std::vector<std::vector<std::string>> batches;
  auto reg = prefs.context().fileWatch().watch("/Applications/Somnara.app",
                                               [&](const std::vector<std::string>& p) { batches.push_back(p); });
  EXPECT_EQ(prefs.fileWatch().watchedRoots(), (std::vector<std::string>{"/Applications/Somnara.app"}));
  prefs.fileWatch().fire({"/Applications/Somnara.app", "/Applications/Somnara.appx", "/Applications/Somnara.app/a/b"});
  prefs.fileWatch().fire({"/tmp/x"});
  EXPECT_TRUE(batches.empty());
  machine.runPending();
  EXPECT_EQ(batches,
            (std::vector<std::vector<std::string>>{{"/Applications/Somnara.app", "/Applications/Somnara.app/a/b"}}));
  prefs.fileWatch().setAvailable(false);
  EXPECT_EQ(prefs.fileWatch().watch("/x", [](const std::vector<std::string>&) {}), nullptr);
}

}  // namespace
}  // namespace somnara::sim
