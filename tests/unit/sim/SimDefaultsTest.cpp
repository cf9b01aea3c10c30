// User defaults shared by the programs of one machine: search order and
// observation across programs.
#include <gtest/gtest.h>

#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

constexpr const char* kShared = "de.orvane.Somnara";

TEST(SimDefaults, OwnDomainThenSuitesInOrderThenRegistered) {
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

TEST(SimDefaults, AnotherProgramsWritesReachObserversOnTheirLoopOncePerTurn) {
  SimMachine machine;
  SimProgram& prefs = machine.addProgram(kShared);
  SimProgram& daemon = machine.addProgram("de.orvane.Somnara.Daemon");
  daemon.defaults().addSuite(kShared);
  int daemonCalls = 0, prefsCalls = 0;
  auto d = daemon.defaults().observe("mode", [&] { ++daemonCalls; });
  auto p = prefs.defaults().observe("mode", [&] { ++prefsCalls; });

  prefs.defaults().setValue("mode", Value(3));
  prefs.defaults().setValue("mode", Value(4));
  EXPECT_EQ(daemonCalls, 0) << "observers are called later, on the loop";
  machine.runPending();
  EXPECT_EQ(std::pair(daemonCalls, prefsCalls), std::pair(1, 1));
  EXPECT_EQ(daemon.defaults().value("mode"), Value(4));

  machine.defaults().write(kShared, "mode", Value(2));  // a process outside the machine's programs
  machine.runPending();
  EXPECT_EQ(daemonCalls, 2);

  d.reset();
  prefs.defaults().setValue("mode", Value(5));
  machine.runPending();
  EXPECT_EQ(daemonCalls, 2);
}

TEST(SimDefaults, ObserversHearOnlyChangesOfTheValueTheyFind) {
  using Act = std::function<void(SimMachine&, SimDefaults & prefs, SimDefaults & daemon)>;
  struct Case {
    const char* name;
    Act act;
    int expectedCalls;
  };
  const Case cases[] = {
      {"same value again", [](SimMachine&, SimDefaults& p, SimDefaults&) { p.setValue("k", Value(1)); }, 0},
      {"changed in the suite", [](SimMachine&, SimDefaults& p, SimDefaults&) { p.setValue("k", Value(5)); }, 1},
      {"shadowed by the own domain",
       [](SimMachine&, SimDefaults& p, SimDefaults& d) {
         d.setValue("k", Value(1));
         p.setValue("k", Value(5));
       },
       0},
      {"unsearched domain",
       [](SimMachine& m, SimDefaults&, SimDefaults&) { m.defaults().write("other", "k", Value(2)); }, 0},
      {"other key", [](SimMachine&, SimDefaults& p, SimDefaults&) { p.setValue("j", Value(2)); }, 0},
      {"removed", [](SimMachine&, SimDefaults& p, SimDefaults&) { p.removeValue("k"); }, 1},
      {"registered under a stored value",
       [](SimMachine&, SimDefaults&, SimDefaults& d) {
         d.registerDefaults({{"k", Value(7)}});
       },
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimDefaults& p = m.addProgram(kShared).defaults();
    SimDefaults& d = m.addProgram("de.orvane.Somnara.Daemon").defaults();
    d.addSuite(kShared);
    p.setValue("k", Value(1));
    m.runPending();
    int calls = 0;
    auto reg = d.observe("k", [&] { ++calls; });
    c.act(m, p, d);
    m.runPending();
    EXPECT_EQ(calls, c.expectedCalls);
  }
}

}  // namespace
}  // namespace somnara::sim
