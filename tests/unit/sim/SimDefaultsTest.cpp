// User defaults shared by the programs of one machine: search order and
// observation across programs.
#include <gtest/gtest.h>

#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

using std::chrono::milliseconds;

constexpr const char* kShared = "de.orvane.Somnara";

class DefaultsTest : public ::testing::Test {
 protected:
  SimMachine machine;
  SimProgram& prefs = machine.addProgram(kShared);
  SimProgram& daemon = machine.addProgram("de.orvane.Somnara.Daemon");

  void SetUp() override { daemon.defaults().addSuite(kShared); }
};

TEST_F(DefaultsTest, ReadsOwnDomainThenSuitesInOrderThenRegistered) {
  struct Case {
    const char* name;
    bool inOwn, inSuite1, inSuite2, registered;
    std::optional<Value> expected;
  };
  const Case cases[] = {
      {"own wins", true, true, true, true, Value("own")},
      {"first suite before second", false, true, true, true, Value("suite1")},
      {"second suite before registered", false, false, true, true, Value("suite2")},
      {"registered last", false, false, false, true, Value("registered")},
      {"missing everywhere", false, false, false, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimDefaults& d = m.addProgram("own.domain").defaults();
    d.addSuite("suite.one");
    d.addSuite("suite.two");
    d.addSuite("suite.one");  // a second add changes nothing
    if (c.inOwn) d.setValue("k", Value("own"));
    if (c.inSuite1) m.defaults().write("suite.one", "k", Value("suite1"));
    if (c.inSuite2) m.defaults().write("suite.two", "k", Value("suite2"));
    if (c.registered) d.registerDefaults({{"k", Value("registered")}});
    EXPECT_EQ(d.value("k"), c.expected);
  }
}

TEST_F(DefaultsTest, WritesGoToTheOwnDomainAndRemoveUncoversTheNextOne) {
  daemon.defaults().registerDefaults({{"mode", Value(1)}});
  daemon.defaults().setValue("mode", Value(4));
  EXPECT_EQ(machine.defaults().value("de.orvane.Somnara.Daemon", "mode"), Value(4));
  EXPECT_EQ(machine.defaults().domain(kShared), nullptr);
  daemon.defaults().removeValue("mode");
  EXPECT_EQ(daemon.defaults().value("mode"), Value(1));
  // Registered defaults are the program's own and never stored.
  EXPECT_EQ(prefs.defaults().value("mode"), std::nullopt);
}

TEST_F(DefaultsTest, AnotherProgramsWriteReachesObserversOnTheirLoopOncePerTurn) {
  int daemonCalls = 0, prefsCalls = 0;
  auto d = daemon.defaults().observe("somnaramodeindex", [&] { ++daemonCalls; });
  auto p = prefs.defaults().observe("somnaramodeindex", [&] { ++prefsCalls; });

  prefs.defaults().setValue("somnaramodeindex", Value(3));
  prefs.defaults().setValue("somnaramodeindex", Value(4));
  EXPECT_EQ(daemonCalls, 0) << "observers are called later, on the loop";
  machine.runPending();
  EXPECT_EQ(daemonCalls, 1);
  EXPECT_EQ(prefsCalls, 1);
  EXPECT_EQ(machine.elapsed(), milliseconds(0));

  machine.defaults().write(kShared, "somnaramodeindex", Value(2));  // a process outside the machine's programs
  machine.runPending();
  EXPECT_EQ(daemonCalls, 2);
}

TEST_F(DefaultsTest, ObserversHearOnlyChangesOfTheValueTheyFind) {
  struct Case {
    const char* name;
    std::function<void(SimMachine&, SimProgram& prefs, SimProgram& daemon)> act;
    int expectedCalls;
    bool daemonHasOwnValue = false;
  };
  const Case cases[] = {
      {"same value again", [](SimMachine&, SimProgram& p, SimProgram&) { p.defaults().setValue("k", Value(1)); }, 0},
      {"shadowed by the own domain", [](SimMachine&, SimProgram& p, SimProgram&) { p.defaults().setValue("k", Value(5)); },
       0, true},
      {"changed in the suite", [](SimMachine&, SimProgram& p, SimProgram&) { p.defaults().setValue("k", Value(5)); },
       1},
      {"unsearched domain", [](SimMachine& m, SimProgram&, SimProgram&) { m.defaults().write("other", "k", Value(2)); },
       0},
      {"other key", [](SimMachine&, SimProgram& p, SimProgram&) { p.defaults().setValue("j", Value(2)); }, 0},
      {"removed", [](SimMachine&, SimProgram& p, SimProgram&) { p.defaults().removeValue("k"); }, 1},
      {"registered default under a stored value",
       [](SimMachine&, SimProgram&, SimProgram& d) { d.defaults().registerDefaults({{"k", Value(7)}}); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimProgram& p = m.addProgram(kShared);
    SimProgram& d = m.addProgram("de.orvane.Somnara.Daemon");
    d.defaults().addSuite(kShared);
    p.defaults().setValue("k", Value(1));
    if (c.daemonHasOwnValue) d.defaults().setValue("k", Value(9));
    int calls = 0;
    auto reg = d.defaults().observe("k", [&] { ++calls; });
    c.act(m, p, d);
    m.runPending();
    EXPECT_EQ(calls, c.expectedCalls);
  }
}

TEST_F(DefaultsTest, RegisteringADefaultThatChangesTheFoundValueIsObserved) {
  int calls = 0;
  auto reg = daemon.defaults().observe("hardvalues", [&] { ++calls; });
  daemon.defaults().registerDefaults({{"hardvalues", Value(false)}});
  machine.runPending();
  EXPECT_EQ(calls, 1);
  daemon.defaults().registerDefaults({{"hardvalues", Value(false)}});
  machine.runPending();
  EXPECT_EQ(calls, 1);
}

TEST_F(DefaultsTest, ObserversGoneBeforeTheirTurnAreNotCalled) {
  int calls = 0;
  auto reg = daemon.defaults().observe("k", [&] { ++calls; });
  prefs.defaults().setValue("k", Value(1));
  reg.reset();
  machine.runPending();
  EXPECT_EQ(calls, 0);

  auto again = daemon.defaults().observe("k", [&] { ++calls; });
  prefs.defaults().setValue("k", Value(2));
  daemon.end();
  machine.runPending();
  EXPECT_EQ(calls, 0);
}

TEST_F(DefaultsTest, SynchronizeSucceedsAndIsCounted) {
  EXPECT_TRUE(prefs.defaults().synchronize());
  EXPECT_TRUE(prefs.defaults().synchronize());
  EXPECT_EQ(prefs.defaults().synchronizeCount(), 2);
  EXPECT_EQ(daemon.defaults().synchronizeCount(), 0);
}

}  // namespace
}  // namespace somnara::sim
