// Writing a hibernatemode through the helper: retries, exit statuses,
// privilege repair, argument vectors, and applications nested in the wait.
#include <gtest/gtest.h>

#include "SimControllerSupport.h"

namespace somnara::sim::testing {
namespace {

using Answer = SimAuthorization::Answer;

// The agent runs no timers of its own, so one call is all that happens.
class ApplyOnce : public ::testing::Test {
 protected:
  SimMachine machine;
  SimProgram& agent = machine.addProgram(kAgent);
  SomnaraDaemon& controller = controllerOf(agent);
};

TEST_F(ApplyOnce, HelperThatNeverTakesEffectIsRunTenTimesOverTenSeconds) {
  machine.tools().setScript(kHelper, Script::exit(0));
  const auto start = machine.elapsed();

  EXPECT_FALSE(controller.setSleepStateTo(kSleepStateSleep));

  EXPECT_EQ(machine.tools().runCount(kHelper), 10);
  EXPECT_EQ(countLog(agent, kPmset, "Waiting for sleep state to get reflected 0 != 3"), 10);
  EXPECT_EQ(countLog(agent, kPmset, "Can't set next sleep state : 0 != 3"), 1);
  EXPECT_EQ(agent.logger().logLines().size(), 11u);
  EXPECT_GE(machine.elapsed() - start, 10s);
  EXPECT_LT(machine.elapsed() - start, 11s);
  EXPECT_EQ(hibernateMode(machine), 3);
}

TEST_F(ApplyOnce, ShortCuts) {
  struct Case {
    const char* name;
    std::int64_t state;
    bool removeHelper;
    std::optional<Script> script;
    bool result;
    int runs;
    const char* logLine;  // after the method name; null: none
  };
  const std::string missing = "Can't find helper program:" + agent.workspace().mainBundlePath();
  const Case cases[] = {
      {"value already in force", kSleepStateSleepAndHibernate, false, {}, true, 0, nullptr},
      {"helper missing from the bundle", kSleepStateSleep, true, {}, false, 0, missing.c_str()},
      {"helper exit 2", kSleepStateSleep, false, Script::exit(2), false, 1, "Can't set next sleep state: 2"},
      {"helper cannot start", kSleepStateSleep, false, Script::cannotStart(), false, 1,
       "Can't set next sleep state: -1"},
      {"helper works", kSleepStateSleep, false, {}, true, 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimProgram& p = m.addProgram(kAgent);
    if (c.removeHelper) p.workspace().removeResource(kHelper);
    if (c.script) m.tools().setScript(kHelper, *c.script);
    NoticeCounter notices(controllerOf(p), kS_Property_currentsleepstate);

    EXPECT_EQ(controllerOf(p).setSleepStateTo(c.state), c.result);
    EXPECT_EQ(m.tools().runCount(kHelper), c.runs);
    ASSERT_EQ(p.logger().logLines().size(), c.logLine ? 1u : 0u);
    if (c.logLine) {
      EXPECT_TRUE(isLogLine(p.logger().logLines()[0], kPmset, c.logLine)) << p.logger().logLines()[0];
    }
    EXPECT_EQ(p.authorization().promptCount(), 0) << "never asks for exit statuses other than 1 and 7";
    EXPECT_EQ(notices.count, c.result && c.runs ? 1 : 0);
    EXPECT_TRUE(postedTypes(m, kAgent).empty()) << "only the daemon announces applied states";
  }
}

TEST(ApplyExitStatus, PrivilegeRepairByStatusSystemAndAnswer) {
  struct Case {
    const char* name;
    int status;
    bool hardValuesSetting;
    std::int32_t os;
    Answer answer;
    bool repairs;
    const char* repairFailure;  // null: the repair succeeds or is not tried
  };
  const Case cases[] = {
      {"1 without hard values", 1, false, kOlderSystem, Answer::Grant, false, nullptr},
      {"1 with hard values", 1, true, kOlderSystem, Answer::Grant, true, nullptr},
      {"1 on a newer system", 1, false, kNewerSystem, Answer::Grant, true, nullptr},
      {"1, prompt refused", 1, true, kOlderSystem, Answer::Refuse, true, "Can't execute chown on helper tool:-60006"},
      {"1, chmod fails", 1, true, kOlderSystem, Answer::ChmodFails, true, "Can't execute chmod on helper tool:1"},
      {"7 on an older system", 7, true, kOlderSystem, Answer::Grant, false, nullptr},
      {"7 on a newer system", 7, false, kNewerSystem, Answer::Grant, true, nullptr},
      {"7, prompt refused", 7, false, kNewerSystem, Answer::Refuse, true, "Can't execute chown on helper tool:-60006"},
      {"7, chmod fails", 7, false, kNewerSystem, Answer::ChmodFails, true, "Can't execute chmod on helper tool:1"},
      {"2 on a newer system", 2, true, kNewerSystem, Answer::Grant, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.setHelpersPrivilegedAtStart(false);
    m.state().setOsVersion(c.os);
    if (c.hardValuesSetting) m.defaults().write(kApp, "hardvalues", Value(true));
    // Without its privileges the helper answers with the case's status.
    m.tools().setScript(kHelper, Script::custom([&m, status = c.status](const SimToolRunner::Run& run) {
      return m.state().isPrivileged(run.path) ? m.tools().emulate(run) : std::optional<int>(status);
    }));
    SimProgram& p = m.addProgram(kAgent);
    p.authorization().setAnswer(c.answer);
    SomnaraDaemon& ctl = controllerOf(p);
    const bool granted = c.repairs && c.answer == Answer::Grant;

    EXPECT_FALSE(ctl.setSleepStateTo(kSleepStateSleep));
    EXPECT_EQ(m.tools().runCount(kHelper), 1) << "the helper is not run again after a repair";
    EXPECT_EQ(p.authorization().promptCount(), c.repairs ? 1 : 0);
    if (c.repairs) {
      EXPECT_EQ(p.authorization().prompts()[0], p.helperPath());
    }
    EXPECT_EQ(countLog(p, kPmset, "Can't set next sleep state: " + std::to_string(c.status)), 1);
    EXPECT_EQ(countLog(p, kPmset, "Looks like the permissions for pmset are not there yet."), c.repairs ? 1 : 0);
    EXPECT_EQ(countLog(p, kPmset, c.repairFailure ? c.repairFailure : "Can't execute", !c.repairFailure),
              c.repairFailure ? 1 : 0);
    EXPECT_EQ(countLog(p, kPmset, "Can't set next sleep state : 0 != 3"), granted ? 1 : 0);
    EXPECT_EQ(m.state().isPrivileged(p.helperPath()), granted);

    // The next application: works after a granted repair, asks again after a failed one.
    EXPECT_EQ(ctl.setSleepStateTo(kSleepStateSleep), granted);
    EXPECT_EQ(hibernateMode(m), granted ? 0 : 3);
    EXPECT_EQ(p.authorization().promptCount(), c.repairs && !granted ? 2 : (c.repairs ? 1 : 0));
  }
}

TEST(ApplyArguments, ForceAndHibernateValueBySystemAndSetting) {
  const std::string tool = SOMNARA_PMSET_PATH;
  struct Case {
    const char* name;
    bool hardValuesSetting;
    std::int32_t os;
    std::int64_t state;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"hibernate, older system", false, kOlderSystem, kSleepStateHibernate, {tool, "force", "hibernatemode", "1"}},
      {"hibernate, hard values", true, kOlderSystem, kSleepStateHibernate, {tool, "hibernatemode", "1"}},
      {"hibernate, newer system", false, kNewerSystem, kSleepStateHibernate, {tool, "hibernatemode", "25"}},
      {"sleep, older system", false, kOlderSystem, kSleepStateSleep, {tool, "force", "hibernatemode", "0"}},
      {"sleep, newer system with setting", true, kNewerSystem, kSleepStateSleep, {tool, "hibernatemode", "0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.tools().setPowerToolPath(tool);
    m.state().setOsVersion(c.os);
    if (c.hardValuesSetting) m.defaults().write(kApp, "hardvalues", Value(true));
    SimProgram& p = m.addProgram(kAgent);

    EXPECT_TRUE(controllerOf(p).setSleepStateTo(c.state));
    ASSERT_EQ(m.tools().runs().size(), 1u);
    EXPECT_EQ(m.tools().runs()[0].path, p.helperPath());
    EXPECT_EQ(m.tools().runs()[0].args, c.args);
    EXPECT_EQ(hibernateMode(m), std::stoll(c.args.back()));
  }
}

// Applications arriving while the helper runs (the wait serves the loop).
class NestedApplication : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.defaults().write(kApp, "somnaramodeindex", Value(2));
    controllerOf(app);
    controllerOf(daemon);
    machine.advance(10s);
    ASSERT_EQ(hibernateMode(machine), 0);
    machine.tools().setScript(kHelper, Script::emulate().taking(4s));
    firstRun = machine.tools().runs().size();
  }

  /// The helper runs started since SetUp, as (start, hibernatemode written).
  std::vector<std::pair<std::chrono::milliseconds, std::string>> runsSinceSetUp() {
    std::vector<std::pair<std::chrono::milliseconds, std::string>> out;
    const auto& runs = machine.tools().runs();
    for (std::size_t i = firstRun; i < runs.size(); ++i) out.emplace_back(runs[i].startedAt, runs[i].args.back());
    return out;
  }

  SimMachine machine;
  SimProgram& app = machine.addProgram(kApp);
  SimProgram& daemon = machine.addProgram(kDaemon);
  std::size_t firstRun = 0;
};

TEST_F(NestedApplication, RequestsDuringTheWaitRunAfterwardsAndTheNewestWins) {
  // Mode 3 starts a 4 s helper run; during it the retry tick comes due and
  // the user changes the mode twice more.
  app.defaults().setValue("somnaramodeindex", Value(3));
  app.loop().schedule(1s, false, [this] { app.defaults().setValue("somnaramodeindex", Value(2)); });
  app.loop().schedule(2s, false, [this] { app.defaults().setValue("somnaramodeindex", Value(4)); });
  machine.advance(20s);

  const auto runs = runsSinceSetUp();
  ASSERT_EQ(runs.size(), 2u) << "one run per application, none nested";
  EXPECT_EQ(runs[0].second, "1");
  EXPECT_EQ(runs[1].second, "3");
  EXPECT_GE(runs[1].first - runs[0].first, 4s) << "runs overlap";
  EXPECT_EQ(controllerOf(daemon).sleepmode(), 4);
  EXPECT_EQ(hibernateMode(machine), 3);
  EXPECT_TRUE(daemon.logger().logLines().empty());
}

TEST_F(NestedApplication, TerminationDuringAnApplicationEndsWithTheSystemDefault) {
  app.defaults().setValue("somnaramodeindex", Value(3));
  // Terminated after the retry tick has come due inside the wait.
  app.loop().schedule(3500ms, false, [this] { daemon.terminate(); });
  machine.advance(20s);

  const auto runs = runsSinceSetUp();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].second, "1");
  EXPECT_EQ(runs[1].second, "3") << "the reset runs after the application under way";
  EXPECT_GE(runs[1].first - runs[0].first, 4s);
  EXPECT_EQ(hibernateMode(machine), 3);
  const auto sent = postedTypes(machine, kDaemon);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), kMessageResetToDefault), 1);
}

}  // namespace
}  // namespace somnara::sim::testing
