// Writing a hibernatemode through the helper: a whole adaptive day, retries,
// exit statuses, privilege repair, argument vectors and nested applications.
#include "SimControllerSupport.h"

namespace somnara::sim::testing {
namespace {

using Answer = SimAuthorization::Answer;

struct Battery {
  bool onCharger;
  int charge;
  std::optional<int> minutes;  // nullopt: no estimate
  bool operator==(const Battery&) const = default;
};

/// Charger until 1 h; empty by 9 h (no estimate for 2 min after unplugging,
/// heavy load 6-7 h); flat until 9:30; charging back to full by 12:30.
Battery batteryAt(int s) {
  constexpr int h = 3600;
  if (s < h) return {true, 100, std::nullopt};
  if (s >= 9 * h + h / 2) return {true, std::min(100, (s - 9 * h - h / 2) / 108), std::nullopt};
  const int charge = std::max(0, 100 - (s - h) / 288);
  if (s < h + 120) return {false, charge, std::nullopt};
  return {false, charge, s >= 6 * h && s < 7 * h ? charge / 2 : charge * 3 / 2 - 2};
}

TEST(ControllerDay, AdaptiveModeFollowsTheBatteryForADayAndHandsBackTheSystemDefault) {
  constexpr std::int64_t kSystemDefault = 3;
  SimMachine machine;
  machine.defaults().write(kApp, "somnaramodeindex", Value(1));
  // Every change of the machine's value costs one helper run, no more.
  int changes = 0, resets = 0, late = 0, firstLate = -1, lastChange = 0;
  auto mode = hibernateMode(machine);
  SimProgram& daemon = machine.addProgram(kDaemon);
  ASSERT_TRUE(controllerOf(daemon).registeredForPowerChanges());
  auto noteChange = [&] { changes += std::exchange(mode, hibernateMode(machine)) != mode; };
  std::int64_t wanted = wantedMode(1, 20, 100, std::nullopt);
  Battery last = batteryAt(0);
  for (int s = 1; s <= 24 * 3600; ++s) {
    const Battery b = batteryAt(s);
    if (b != last) {
      machine.state().setOnExternalPower(b.onCharger);
      machine.state().setBattery(b.charge, b.minutes);
      last = b;
    }
    if (s == 3 * 3600 || s == 20 * 3600) machine.sleep();
    if (s == 3 * 3600 + 1800 || s == 23 * 3600) machine.wake();
    if (s == 5 * 3600 || s == 11 * 3600) {
      machine.resignSession();
      ++resets, lastChange = s;
      EXPECT_EQ(hibernateMode(machine), kSystemDefault) << "right after the session resigned at " << s;
      noteChange();
    }
    if (s == 5 * 3600 + 600 || s == 11 * 3600 + 300) machine.activateSession();
    machine.advance(1s);
    noteChange();
    if (const auto now = wantedMode(1, 20, b.charge, b.minutes); now != wanted) wanted = now, lastChange = s;
    if (s - lastChange >= 3 && mode != wanted) {
      if (firstLate < 0) firstLate = s;
      ++late;
    }
  }
  EXPECT_EQ(late, 0) << "the policy value did not hold, first at second " << firstLate;

  daemon.terminate();
  EXPECT_EQ(hibernateMode(machine), kSystemDefault);
  noteChange();
  machine.advance(10s);
  EXPECT_EQ(hibernateMode(machine), kSystemDefault) << "no policy after termination";
  EXPECT_GE(changes, 8);
  EXPECT_EQ(machine.tools().runCount(kHelper, kDaemon), changes);
  EXPECT_EQ(machine.state().hibernateModeWrites(), changes);
  EXPECT_EQ(countType(machine, kDaemon, kMessageStateApplied), changes);
  EXPECT_EQ(countType(machine, kDaemon, kMessageResetToDefault), resets + 1);
  EXPECT_EQ(countType(machine, kDaemon, kMessageWoke), 4);  // two wakes, two session activations
  EXPECT_TRUE(daemon.logger().logLines().empty());
}

// The agent runs no timers of its own, so one call is all that happens.
TEST(Apply, ShortCutsFailuresRetriesAndArgumentVectors) {
  const std::string tool = SOMNARA_PMSET_PATH;
  const struct {
    const char* name;
    std::int64_t state;
    bool hardValues;
    std::int32_t os;
    std::optional<Script> script;
    bool result;
    int runs;             // each with the arguments after the tool below
    const char* args;
    std::string logLine;  // the last line, after the method name; empty: none
  } cases[] = {
      {"value already in force", kSleepStateSleepAndHibernate, false, kOlderSystem, {}, true, 0, "", ""},
      {"helper missing", kSleepStateSleep, false, kOlderSystem, {}, false, 0, "", "Can't find helper program:"},
      {"helper exit 2", kSleepStateSleep, false, kOlderSystem, Script::exit(2), false, 1, "force hibernatemode 0",
       "Can't set next sleep state: 2"},
      {"helper cannot start", kSleepStateSleep, false, kOlderSystem, Script::cannotStart(), false, 1,
       "force hibernatemode 0", "Can't set next sleep state: -1"},
      {"value never reflected", kSleepStateSleep, false, kOlderSystem, Script::exit(0), false, 10,
       "force hibernatemode 0", "Can't set next sleep state : 0 != 3"},
      {"hibernate, older", kSleepStateHibernate, false, kOlderSystem, {}, true, 1, "force hibernatemode 1", ""},
      {"hibernate, hard values", kSleepStateHibernate, true, kOlderSystem, {}, true, 1, "hibernatemode 1", ""},
      {"hibernate, newer", kSleepStateHibernate, false, kNewerSystem, {}, true, 1, "hibernatemode 25", ""},
      {"sleep, older", kSleepStateSleep, false, kOlderSystem, {}, true, 1, "force hibernatemode 0", ""},
      {"sleep, newer, hard values", kSleepStateSleep, true, kNewerSystem, {}, true, 1, "hibernatemode 0", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.tools().setPowerToolPath(tool);
    m.state().setOsVersion(c.os);
    if (c.hardValues) m.defaults().write(kApp, "hardvalues", Value(true));
    if (c.script) m.tools().setScript(kHelper, *c.script);
    SimProgram& p = m.addProgram(kAgent);
    const bool missing = c.logLine.starts_with("Can't find");
    if (missing) p.workspace().removeResource(kHelper);
    NoticeCounter notices(controllerOf(p), kS_Property_currentsleepstate);
    const auto start = m.elapsed();

    EXPECT_EQ(controllerOf(p).setSleepStateTo(c.state), c.result);
    ASSERT_EQ(m.tools().runs().size(), static_cast<std::size_t>(c.runs));
    for (const auto& run : m.tools().runs()) {
      EXPECT_EQ(run.path, p.helperPath());
      std::string joined;
      for (const auto& a : run.args) joined += (joined.empty() ? "" : " ") + a;
      EXPECT_EQ(joined, tool + " " + c.args);
    }
    const bool applied = c.result && c.runs;
    EXPECT_EQ(hibernateMode(m), applied ? std::stoll(m.tools().runs().back().args.back()) : 3);
    // Each attempt not reflected costs a second, said once.
    const int waits = c.runs == 10 ? 10 : 0;
    EXPECT_EQ(countLog(p, kPmset, "Waiting for sleep state to get reflected 0 != 3"), waits ? 1 : 0);
    EXPECT_GE(m.elapsed() - start, waits * 1s);
    EXPECT_LT(m.elapsed() - start, waits * 1s + 1s);
    const auto& lines = p.logger().logLines();
    ASSERT_EQ(lines.size(), (waits ? 1u : 0u) + (c.logLine.empty() ? 0u : 1u));
    if (!c.logLine.empty()) {
      const std::string want = missing ? c.logLine + p.workspace().mainBundlePath() : c.logLine;
      EXPECT_TRUE(isLogLine(lines.back(), kPmset, want)) << lines.back();
    }
    EXPECT_EQ(p.authorization().promptCount(), 0) << "never asks for exit statuses other than 1 and 7";
    EXPECT_EQ(notices.count, applied ? 1 : 0);
    EXPECT_TRUE(postedTypes(m, kAgent).empty()) << "only the daemon announces applied states";
  }
}

TEST(Apply, PrivilegeRepairByStatusSystemAndAnswer) {
  struct Case {
    const char* name;
    int status;
    bool hardValues;
    std::int32_t os;
    Answer answer;
    bool repairs;
    const char* repairFailure;  // null: the repair succeeds or is not tried
  };
  const char* refused = "Can't execute chown on helper tool:-60006";
  const char* chmodFails = "Can't execute chmod on helper tool:1";
  const Case cases[] = {
      {"1 without hard values", 1, false, kOlderSystem, Answer::Grant, false, nullptr},
      {"1 with hard values", 1, true, kOlderSystem, Answer::Grant, true, nullptr},
      {"1 on a newer system", 1, false, kNewerSystem, Answer::Grant, true, nullptr},
      {"1, prompt refused", 1, true, kOlderSystem, Answer::Refuse, true, refused},
      {"1, chmod fails", 1, true, kOlderSystem, Answer::ChmodFails, true, chmodFails},
      {"7 on an older system", 7, true, kOlderSystem, Answer::Grant, false, nullptr},
      {"7 on a newer system", 7, false, kNewerSystem, Answer::Grant, true, nullptr},
      {"7, prompt refused", 7, false, kNewerSystem, Answer::Refuse, true, refused},
      {"7, chmod fails", 7, false, kNewerSystem, Answer::ChmodFails, true, chmodFails},
      {"2 on a newer system", 2, true, kNewerSystem, Answer::Grant, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.setHelpersPrivilegedAtStart(false);
    m.state().setOsVersion(c.os);
    if (c.hardValues) m.defaults().write(kApp, "hardvalues", Value(true));
    // Without its privileges the helper answers with the case's status.
    m.tools().setScript(kHelper, Script::custom([&m, status = c.status](const SimToolRunner::Run& run) {
      return m.state().isPrivileged(run.path) ? m.tools().emulate(run) : std::optional<int>(status);
    }));
    SimProgram& p = m.addProgram(kAgent);
    p.authorization().setAnswer(c.answer);
    const bool granted = c.repairs && c.answer == Answer::Grant;

    EXPECT_FALSE(controllerOf(p).setSleepStateTo(kSleepStateSleep));
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

    // The next application works after a granted repair and asks again after a failed one.
    EXPECT_EQ(controllerOf(p).setSleepStateTo(kSleepStateSleep), granted);
    EXPECT_EQ(hibernateMode(m), granted ? 0 : 3);
    EXPECT_EQ(p.authorization().promptCount(), c.repairs && !granted ? 2 : (c.repairs ? 1 : 0));
  }
}

// During a 4 s helper run the mode changes twice more, or the daemon ends: no nested runs, the newest wins.
TEST(Apply, NestedApplicationsRunAfterTheWaitAndTheNewestWins) {
  for (const bool terminate : {false, true}) {
    SCOPED_TRACE(terminate ? "terminated during the wait" : "mode changed during the wait");
    SimMachine machine;
    machine.defaults().write(kApp, "somnaramodeindex", Value(2));
    SimProgram& app = machine.addProgram(kApp);
    SimProgram& daemon = machine.addProgram(kDaemon);
    controllerOf(app), controllerOf(daemon);
    machine.advance(10s);
    ASSERT_EQ(hibernateMode(machine), 0);
    machine.tools().setScript(kHelper, Script::emulate().taking(4s));
    const std::size_t first = machine.tools().runs().size();

    app.defaults().setValue("somnaramodeindex", Value(3));
    if (terminate) {
      app.loop().schedule(3500ms, false, [&] { daemon.terminate(); });
    } else {
      app.loop().schedule(1s, false, [&] { app.defaults().setValue("somnaramodeindex", Value(2)); });
      app.loop().schedule(2s, false, [&] { app.defaults().setValue("somnaramodeindex", Value(4)); });
    }
    machine.advance(20s);

    const auto& runs = machine.tools().runs();
    ASSERT_EQ(runs.size() - first, 2u) << "one run per application, none nested";
    EXPECT_EQ(runs[first].args.back(), "1");
    EXPECT_EQ(runs[first + 1].args.back(), "3") << "newest mode, or the reset after the run under way";
    EXPECT_GE(runs[first + 1].startedAt - runs[first].startedAt, 4s) << "runs overlap";
    EXPECT_EQ(hibernateMode(machine), 3);
    EXPECT_EQ(countType(machine, kDaemon, kMessageResetToDefault), terminate ? 1 : 0);
    EXPECT_EQ(controllerOf(daemon).sleepmode(), terminate ? 3 : 4);
    EXPECT_TRUE(daemon.logger().logLines().empty());
  }
}

}  // namespace
}  // namespace somnara::sim::testing
