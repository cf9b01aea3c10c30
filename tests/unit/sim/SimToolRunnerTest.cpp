// Tools started by programs: the emulated helper and power tool, scripted
// tools, read-back lag and privilege repair.
#include <gtest/gtest.h>

#include "host/sim/SimMachine.h"
#include "plist/PlistCodec.h"

namespace somnara::sim {
namespace {

using std::chrono::milliseconds;
using Script = SimToolRunner::Script;

const std::vector<std::string> kForce25{"/usr/bin/pmset", "force", "hibernatemode", "25"};

std::optional<std::int64_t> savedAcMode(const SimMachineState& state) {
  std::string error;
  auto bytes = state.savedSettings(&error);
  if (!bytes) return std::nullopt;
  auto list = plist::parse(*bytes);
  if (!list) return std::nullopt;
  const Value* v = list->find("Custom Profile");
  v = v ? v->find("AC Power") : nullptr;
  v = v ? v->find("Hibernate Mode") : nullptr;
  return v ? v->integer() : std::nullopt;
}

TEST(ToolRunnerTest, HelperRunsThePowerToolOnlyWhenPrivilegedAndAskedProperly) {
  struct Case {
    const char* name;
    bool privileged;
    unsigned uid;
    std::vector<std::string> args;
    std::optional<int> status;
    std::int64_t modeAfter;
    std::int64_t savedAfter;
  };
  const Case cases[] = {
      {"privileged, force: in force only", true, 1000, kForce25, 0, 25, 3},
      {"privileged, no force: saved too", true, 1000, {"/usr/bin/pmset", "hibernatemode", "0"}, 0, 0, 0},
      {"not privileged", false, 1000, kForce25, 1, 3, 3},
      {"not privileged but root", false, 0, kForce25, 0, 25, 3},
      {"value not allowed", true, 1000, {"/usr/bin/pmset", "force", "hibernatemode", "7"}, 2, 3, 3},
      {"not a number", true, 1000, {"/usr/bin/pmset", "force", "hibernatemode", "1x"}, 2, 3, 3},
      {"other tool", true, 1000, {"/bin/sh", "force", "hibernatemode", "1"}, 2, 3, 3},
      {"no arguments", true, 1000, {}, 2, 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimProgram& p = m.addProgram("de.orvane.Somnara.Daemon", {{}, c.uid});
    p.setHelperPrivileged(c.privileged);
    EXPECT_EQ(p.processes().run(*p.workspace().pathForResource("pmsethelper"), c.args), c.status);
    EXPECT_EQ(integerOrZero(m.state().peekRootDomainProperty("Hibernate Mode")), c.modeAfter);
    EXPECT_EQ(savedAcMode(m.state()), c.savedAfter);
  }
}

TEST(ToolRunnerTest, WrittenModeReadsBackAfterTheLag) {
  struct Case {
    const char* name;
    SimMachineState::ReadBackLag lag;
    milliseconds waitBeforeReads;
    int oldReads;  // reads that still see the old value
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
    for (int i = 0; i < 100 && p.powerManager().rootDomainProperty("Hibernate Mode") == Value(3); ++i) ++old;
    EXPECT_EQ(old, c.oldReads);
    EXPECT_EQ(m.state().hibernateModeWrites(), 1);
    EXPECT_EQ(m.state().hibernateModeReads(), std::min(c.oldReads + 1, 100));
  }
}

TEST(ToolRunnerTest, ScriptedToolsOverrideTheEmulation) {
  struct Case {
    const char* name;
    Script script;
    std::optional<int> status;
    bool takesEffect;
  };
  const Case cases[] = {
      {"emulated", Script::emulate(), 0, true},
      {"exit code", Script::exit(7), 7, false},
      {"exits 0 without effect", Script::exit(0), 0, false},
      {"cannot start", Script::cannotStart(), std::nullopt, false},
      {"custom deciding per run", Script::custom([](const SimToolRunner::Run& r) { return r.args.size() == 4 ? 9 : 0; }),
       9, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimProgram& p = m.addProgram("de.orvane.Somnara.Daemon");
    m.tools().setScript("pmsethelper", c.script);
    EXPECT_EQ(p.processes().run(p.helperPath(), kForce25), c.status);
    EXPECT_EQ(m.state().peekRootDomainProperty("Hibernate Mode") == Value(25), c.takesEffect);
    ASSERT_EQ(m.tools().runs().size(), 1u);
    EXPECT_EQ(m.tools().runs()[0].status, c.status);
  }
}

TEST(ToolRunnerTest, RecordsRunsIncludingOnesStartedWhileAToolRuns) {
  SimMachine m;
  SimProgram& daemon = m.addProgram("de.orvane.Somnara.Daemon");
  SimProgram& agent = m.addProgram("de.orvane.Somnara.MenuBar");
  m.tools().setScript("pmsethelper", Script::emulate().taking(milliseconds(200)));
  daemon.loop().schedule(milliseconds(50), false, [&] { daemon.processes().run(daemon.helperPath(), kForce25); });
  m.advance(milliseconds(10));
  EXPECT_EQ(agent.processes().run("/usr/bin/pmset", {"sleepnow"}), 0);
  EXPECT_EQ(daemon.processes().run(daemon.helperPath(), kForce25), 0);

  const auto& runs = m.tools().runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].caller.program, "de.orvane.Somnara.MenuBar");
  EXPECT_EQ(runs[1].startedAt, milliseconds(10));
  EXPECT_EQ(runs[2].startedAt, milliseconds(50)) << "the timer's run, nested in the outer wait";
  EXPECT_EQ(runs[2].status, 0);
  EXPECT_EQ(m.tools().runCount("pmsethelper"), 2);
  EXPECT_EQ(m.tools().runCount("pmset", "de.orvane.Somnara.Daemon"), 0);
  EXPECT_EQ(m.state().sleepRequests(), (std::vector<milliseconds>{milliseconds(10)}));
  EXPECT_EQ(m.state().hibernateModeWrites(), 2);
}

TEST(ToolRunnerTest, PowerToolPathMakesTheHelperStrict) {
  SimMachine m;
  SimProgram& p = m.addProgram("de.orvane.Somnara.Daemon");
  m.tools().setPowerToolPath("/opt/somnara/pmset");
  EXPECT_EQ(p.processes().run(p.helperPath(), kForce25), 2);
  EXPECT_EQ(p.processes().run(p.helperPath(), {"/opt/somnara/pmset", "force", "hibernatemode", "1"}), 0);
  // Running the power tool directly to set the mode needs root.
  EXPECT_EQ(p.processes().run("/opt/somnara/pmset", {"force", "hibernatemode", "0"}), 1);
  EXPECT_EQ(p.processes().run("/usr/bin/unknown", {}), std::nullopt);
}

TEST(ToolRunnerTest, PrivilegeRepairFollowsTheAdministratorsAnswer) {
  struct Case {
    const char* name;
    SimAuthorization::Answer answer;
    std::optional<host::Authorization::Failure> failure;
    std::optional<int> helperStatusAfter;
  };
  using Step = host::Authorization::Step;
  const Case cases[] = {
      {"granted", SimAuthorization::Answer::Grant, std::nullopt, 0},
      {"refused", SimAuthorization::Answer::Refuse, host::Authorization::Failure{Step::Chown, -60006}, 1},
      {"chmod fails", SimAuthorization::Answer::ChmodFails, host::Authorization::Failure{Step::Chmod, 1}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.setHelpersPrivilegedAtStart(false);
    SimProgram& p = m.addProgram("de.orvane.Somnara.Daemon");
    SimProgram& other = m.addProgram("de.orvane.Somnara.MenuBar", {"/Applications/Other.app", 1000});
    p.authorization().setAnswer(c.answer);
    auto failure = p.context().authorization().repairHelperPrivileges(p.helperPath());
    ASSERT_EQ(failure.has_value(), c.failure.has_value());
    if (failure) {
      EXPECT_EQ(failure->step, c.failure->step);
      EXPECT_EQ(failure->code, c.failure->code);
    }
    EXPECT_EQ(p.authorization().promptCount(), 1);
    EXPECT_EQ(p.processes().run(p.helperPath(), kForce25), c.helperStatusAfter);
    EXPECT_EQ(other.processes().run(other.helperPath(), kForce25), 1) << "each bundle has its own helper";
  }
}

TEST(ToolRunnerTest, SavedSettingsCanBeUnreadableAndAreRewrittenByThePowerTool) {
  SimMachine m;
  SimProgram& p = m.addProgram("de.orvane.Somnara.Daemon", {{}, 0});
  m.state().setSavedSettingsUnreadable("No such file or directory");
  std::string error;
  EXPECT_EQ(p.powerManager().savedSettings(&error), std::nullopt);
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_EQ(p.processes().run("/usr/bin/pmset", {"hibernatemode", "1"}), 0);
  EXPECT_EQ(savedAcMode(m.state()), 1);
}

}  // namespace
}  // namespace somnara::sim
