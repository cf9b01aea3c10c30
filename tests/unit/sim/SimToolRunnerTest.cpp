// The emulated privileged helper and the mode it writes, read back after a lag.
#include <gtest/gtest.h>

#include "host/sim/SimMachine.h"
#include "plist/PlistCodec.h"

namespace somnara::sim {
namespace {

using std::chrono::milliseconds;

const std::vector<std::string> kForce25{"/usr/bin/pmset", "force", "hibernatemode", "25"};

std::optional<std::int64_t> savedAcMode(const SimMachineState& state) { return state.savedSettings().hibernateMode; }

// Refusals, and answers like the real tools', are checked in the port contract.
TEST(SimHelper, RunsThePowerToolOnlyWhenPrivileged) {
  struct Case {
    const char* name;
    bool privileged;
    unsigned uid;
    std::vector<std::string> args;
    std::optional<int> status;
    int modeAfter;
    std::int64_t savedAfter;  // before: 3 and 3
  };
  const Case cases[] = {
      {"privileged, force: in force only", true, 1000, kForce25, 0, 25, 3},
      {"privileged, no force: saved too", true, 1000, {"/usr/bin/pmset", "hibernatemode", "0"}, 0, 0, 0},
      {"not privileged", false, 1000, kForce25, 1, 3, 3},
      {"not privileged but root", false, 0, kForce25, 0, 25, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimProgram& p = m.addProgram("de.orvane.Somnara.Daemon", {{}, c.uid});
    p.setHelperPrivileged(c.privileged);
    EXPECT_EQ(p.processes().run(*p.workspace().pathForResource("pmsethelper"), c.args), c.status);
    EXPECT_EQ(m.state().peekHibernateMode().mode, c.modeAfter);
    EXPECT_EQ(savedAcMode(m.state()), c.savedAfter);
    ASSERT_EQ(m.tools().runs().size(), 1u);
    EXPECT_EQ(m.tools().runs()[0].status, c.status);
  }
}

// A saved value changes the mains profile only, as the real power tool's does.
TEST(SimHelper, SavedValueLeavesTheBatteryProfileAlone) {
  SimMachine m;
  SimProgram& p = m.addProgram("de.orvane.Somnara.Daemon", {{}, 0});
  const Value battery(Dictionary{{"Hibernate Mode", Value(0)}});
  m.state().setSavedSettings(plist::toXml(Value(Dictionary{{"Custom Profile", Value(Dictionary{{"Battery Power", battery}})}})));
  ASSERT_EQ(p.processes().run(p.helperPath(), {"/usr/bin/pmset", "hibernatemode", "25"}), 0);
  const auto saved = m.state().savedSettings();
  EXPECT_EQ(saved.hibernateMode, 25);
  ASSERT_TRUE(saved.list);
  const Value* profile = saved.list->find("Custom Profile");
  ASSERT_TRUE(profile);
  EXPECT_EQ(*profile->find("Battery Power"), battery);
}

TEST(SimHelper, WrittenModeReadsBackAfterTheLag) {
  struct Case {
    const char* name;
    SimMachineState::ReadBackLag lag;
    milliseconds waitBeforeReads;
    int oldReads;  // reads that still see the old value, at most 100
  };
  const Case cases[] = {
      {"no lag", {}, milliseconds(0), 0},
      {"two reads", {2, milliseconds(0)}, milliseconds(0), 2},
      {"time not yet over", {0, milliseconds(1500)}, milliseconds(1000), 100},
      {"time over", {0, milliseconds(1500)}, milliseconds(1500), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimProgram& p = m.addProgram("de.orvane.Somnara.Daemon");
    m.state().setReadBackLag(c.lag);
    ASSERT_EQ(p.processes().run(p.helperPath(), kForce25), 0);
    m.advance(c.waitBeforeReads);
    int old = 0;
    while (old < 100 && p.powerManager().hibernateMode().mode == 3) ++old;
    EXPECT_EQ(old, c.oldReads);
    EXPECT_EQ(m.state().hibernateModeWrites(), 1);
    EXPECT_EQ(m.state().hibernateModeReads(), std::min(c.oldReads + 1, 100));
  }
}

}  // namespace
}  // namespace somnara::sim
