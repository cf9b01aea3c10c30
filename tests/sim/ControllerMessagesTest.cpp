// The three programs' controllers talking over the bus: settings, applied
// states, the sleep-now window and its end, and the wire format.
#include <set>

#include "SimControllerSupport.h"

namespace somnara::sim::testing {
namespace {

/// Records the messages a bare group of the same name receives.
struct Listener : ORVDistributedNotificationGroupDelegateProtocol {
  Types types;
  void receivedMessage(std::int64_t type, const std::optional<Value>&) override { types.push_back(type); }
};

Value settings(std::int64_t mode, bool icon) {
  return Value(Dictionary{{"somnaramodeindex", Value(static_cast<long long>(mode))},
                          {"hibernatelevel", Value(20)},
                          {"blackandwhiteicon", Value(icon)}});
}

class ThreePrograms : public ::testing::Test {
 protected:
  void SetUp() override { machine.advance(5s); }
  std::size_t mark() { return machine.notifications().posted().size(); }

  SimMachine machine;
  SimProgram& daemon = machine.addProgram(kDaemon);
  SimProgram& agent = machine.addProgram(kAgent);
  SimProgram& app = machine.addProgram(kApp);
  SomnaraDaemon& daemonCtl = controllerOf(daemon);
  SomnaraDaemon& agentCtl = controllerOf(agent);
  SomnaraDaemon& appCtl = controllerOf(app);
  NoticeCounter agentNotices{agentCtl, kS_Property_currentsleepstate};
  NoticeCounter appNotices{appCtl, kS_Property_currentsleepstate};
  NoticeCounter daemonNotices{daemonCtl, kS_Property_currentsleepstate};
};

TEST_F(ThreePrograms, EveryMessageTypeDoesItsPartInItsWireFormat) {
  // 3: two settings in one turn; the daemon applies hibernate once and announces it (4).
  std::size_t from = mark();
  int daemonRuns = machine.tools().runCount(kHelper, kDaemon);
  app.defaults().setValue("blackandwhiteicon", Value(true));
  app.defaults().setValue("somnaramodeindex", Value(3));
  machine.runPending();
  EXPECT_EQ(hibernateMode(machine), 1);
  EXPECT_EQ(machine.tools().runCount(kHelper, kDaemon), ++daemonRuns);
  EXPECT_EQ(daemonCtl.sleepmode(), 3);
  EXPECT_EQ(agentCtl.sleepmode(), 3);
  EXPECT_TRUE(agentCtl.blackandwhiteicon());
  EXPECT_EQ(postedTypes(machine, kDaemon, from), Types{kMessageStateApplied});
  EXPECT_EQ(postedTypes(machine, kApp, from), (Types{kMessageSettings, kMessageSettings}));
  EXPECT_GE(agentNotices.take(), 3) << "both settings messages and the applied state refresh the agent";
  EXPECT_EQ(appNotices.take(), 1) << "the application hears the daemon, never itself";
  daemonNotices.take();

  // 0 from the agent's sleep-now command: the daemon stands back for the window.
  from = mark();
  agentCtl.sleepNow();
  machine.runPending();
  EXPECT_EQ(machine.state().sleepRequests().size(), 1u);
  EXPECT_EQ(hibernateMode(machine), 0);
  ASSERT_TRUE(daemonCtl.quickSleepWindowOpen());
  EXPECT_EQ(daemonCtl.quickSleepEndDate(), agentCtl.quickSleepEndDate());
  EXPECT_DOUBLE_EQ(*agentCtl.quickSleepEndDate(), agent.loop().now() + 35.0);
  EXPECT_EQ(daemonNotices.take(), 0) << "the daemon sends no change notice for the window";
  EXPECT_EQ(postedTypes(machine, kAgent, from), Types{kMessageQuickSleep});
  machine.sleep();
  machine.advance(20s);
  EXPECT_EQ(hibernateMode(machine), 0);
  EXPECT_EQ(machine.tools().runCount(kHelper, kDaemon), daemonRuns) << "the daemon changed nothing in the window";

  // Wake: the daemon says 5, the agent resets (2) and ends its command (1).
  from = mark();
  machine.wake();
  machine.runPending();
  EXPECT_FALSE(daemonCtl.quickSleepWindowOpen());
  EXPECT_EQ(postedTypes(machine, kDaemon, from).front(), kMessageWoke);
  EXPECT_EQ(postedTypes(machine, kAgent, from), (Types{kMessageResetToDefault, kMessageSleepNowEnded}));
  EXPECT_EQ(machine.tools().runCount(kHelper, kAgent), 2) << "the agent wrote its state, then the system default";
  EXPECT_EQ(hibernateMode(machine), 1);
  machine.advance(60s);  // past the window's own timer, which still fires once
  EXPECT_EQ(hibernateMode(machine), 1);
  EXPECT_GE(agentNotices.take(), 3);

  // A window that no wake ends closes by its timer after 35 s.
  agentCtl.hibernateNow();
  machine.runPending();
  const auto windowStart = machine.elapsed();
  EXPECT_TRUE(daemonCtl.quickSleepWindowOpen());
  EXPECT_EQ(hibernateMode(machine), 1);
  agentCtl.sleepNow();  // the agent's second command lands inside the daemon's first window
  from = mark();
  machine.advance(34s);
  EXPECT_EQ(hibernateMode(machine), 0);
  EXPECT_TRUE(postedTypes(machine, kDaemon, from).empty());
  machine.advance(1s);
  EXPECT_EQ(machine.elapsed() - windowStart, 35s);
  EXPECT_EQ(postedTypes(machine, kDaemon, from).front(), kMessageWoke);
  EXPECT_FALSE(daemonCtl.quickSleepWindowOpen());
  EXPECT_EQ(hibernateMode(machine), 1);

  std::set<std::int64_t> seen;
  std::vector<Value> settingsSent;
  for (const auto& posted : machine.notifications().posted()) {
    const auto& n = posted.notification;
    EXPECT_EQ(n.name, "ORVDistributedNotificationGroupMessage");
    EXPECT_EQ(n.object, "de.orvane.Somnara.DistributedMessageGroup.1000");
    ASSERT_TRUE(n.userInfo && n.userInfo->dictionary());
    const Dictionary& info = *n.userInfo->dictionary();
    const std::int64_t type = *info.at("MessageType").integer();
    seen.insert(type);
    EXPECT_TRUE(info.at("ProcessID").string());
    EXPECT_EQ(info.size(), type == kMessageQuickSleep || type == kMessageSettings ? 3u : 2u) << "type " << type;
    if (type == kMessageQuickSleep) {
      EXPECT_TRUE(info.at("UserInfo").date());
    }
    if (type == kMessageSettings) settingsSent.push_back(info.at("UserInfo"));
  }
  EXPECT_EQ(seen, (std::set<std::int64_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(settingsSent, (std::vector<Value>{settings(3, true), settings(3, true)}));
}

TEST_F(ThreePrograms, UnknownTypeOnlyRefreshesAndASenderNeverHearsItself) {
  SimProgram& other = machine.addProgram("de.example.Tool");
  Listener listener;
  ORVDistributedNotificationGroup group(other.context(), kS_SomnaraDaemonDistributedGroupName);
  group.setDelegate(&listener);
  const auto runs = machine.tools().runs().size();
  const auto mode = daemonCtl.sleepmode();

  group.sendMessage(7);
  machine.runPending();
  EXPECT_EQ(daemonNotices.take(), 1);
  EXPECT_EQ(agentNotices.take(), 1);
  EXPECT_EQ(appNotices.take(), 1);
  EXPECT_TRUE(listener.types.empty()) << "a group never receives its own message";
  EXPECT_EQ(machine.tools().runs().size(), runs);
  EXPECT_EQ(daemonCtl.sleepmode(), mode);

  // Another user's group on the same bus hears nothing of ours.
  SimProgram& stranger = machine.addProgram("de.example.Tool", {.bundlePath = {}, .effectiveUid = 501});
  Listener strangerListener;
  ORVDistributedNotificationGroup strangerGroup(stranger.context(), kS_SomnaraDaemonDistributedGroupName);
  strangerGroup.setDelegate(&strangerListener);
  app.defaults().setValue("somnaramodeindex", Value(2));
  machine.runPending();
  std::sort(listener.types.begin(), listener.types.end());
  EXPECT_EQ(listener.types, (Types{kMessageSettings, kMessageStateApplied}));
  EXPECT_TRUE(strangerListener.types.empty());
}

TEST_F(ThreePrograms, MessageValueHoldsAgainstTheDaemonsOwnStoredValue) {
  // The daemon's own domain shadows the shared one for "somnaramodeindex".
  machine.defaults().write(kDaemon, "somnaramodeindex", Value(2));
  machine.runPending();
  app.defaults().setValue("somnaramodeindex", Value(3));
  machine.runPending();
  ASSERT_EQ(daemonCtl.sleepmode(), 3);
  ASSERT_EQ(hibernateMode(machine), 1);

  // Another shared setting changes: the message's mode stays, nothing runs.
  const auto runs = machine.tools().runCount(kHelper, kDaemon);
  const auto writes = machine.state().hibernateModeWrites();
  app.defaults().setValue("hibernatelevel", Value(30));
  machine.runPending();
  machine.advance(10s);
  EXPECT_EQ(daemonCtl.sleepmode(), 3);
  EXPECT_EQ(daemonCtl.hibernatelevel(), 30);
  EXPECT_EQ(hibernateMode(machine), 1);
  EXPECT_EQ(machine.tools().runCount(kHelper, kDaemon), runs);
  EXPECT_EQ(machine.state().hibernateModeWrites(), writes);

  // A newer value in the store wins over the message's.
  machine.defaults().write(kDaemon, "somnaramodeindex", Value(4));
  machine.runPending();
  EXPECT_EQ(daemonCtl.sleepmode(), 4);
}

TEST(SettingsMessage, EachMissingEntryReadsAsZeroInTheDaemonAndTheAgent) {
  // On battery at 15 %, adaptive sleeps above the hibernate level, sleeps and hibernates at or below.
  SimMachine machine;
  machine.state().setOnExternalPower(false);
  machine.state().setBattery(15, 120);
  SomnaraDaemon& daemonCtl = controllerOf(machine.addProgram(kDaemon));
  SomnaraDaemon& agentCtl = controllerOf(machine.addProgram(kAgent));
  ORVDistributedNotificationGroup sender(machine.addProgram("de.example.Tool").context(),
                                         kS_SomnaraDaemonDistributedGroupName);
  machine.runPending();
  auto payload = [](std::optional<std::int64_t> mode, std::optional<std::int64_t> level, std::optional<bool> icon) {
    Dictionary d;
    if (mode) d["somnaramodeindex"] = Value(static_cast<long long>(*mode));
    if (level) d["hibernatelevel"] = Value(static_cast<long long>(*level));
    if (icon) d["blackandwhiteicon"] = Value(*icon);
    return Value(d);
  };
  const struct {
    const char* what;
    std::optional<Value> payload;
    std::int64_t mode, level;
    bool icon;
    std::optional<std::int64_t> hibernatemode;  // nullopt: the system default, not looked at
  } cases[] = {
      {"all three", payload(1, 20, true), 1, 20, true, 3},
      {"without hibernatelevel", payload(1, {}, true), 1, 0, true, 0},
      {"without the icon", payload(1, 30, {}), 1, 30, false, 3},
      {"without the mode", payload({}, 10, true), 0, 10, true, std::nullopt},
      {"an empty dictionary", payload({}, {}, {}), 0, 0, false, std::nullopt},
      {"no payload", std::nullopt, 0, 0, false, std::nullopt},
      {"not a dictionary", Value(Array{Value(1), Value(20)}), 0, 0, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (SomnaraDaemon* ctl : {&daemonCtl, &agentCtl}) {
      ctl->setHibernatelevel(55);
      ctl->setBlackandwhiteicon(!c.icon);
    }
    if (c.payload)
      sender.sendMessage(kMessageSettings, *c.payload);
    else
      sender.sendMessage(kMessageSettings);
    machine.runPending();
    for (SomnaraDaemon* ctl : {&daemonCtl, &agentCtl}) {
      EXPECT_EQ(ctl->sleepmode(), c.mode);
      EXPECT_EQ(ctl->hibernatelevel(), c.level);
      EXPECT_EQ(ctl->blackandwhiteicon(), c.icon);
    }
    if (c.hibernatemode) {
      EXPECT_EQ(hibernateMode(machine), *c.hibernatemode) << "the daemon applies the level it took";
    }
  }
}

TEST(SleepNow, AgentResetsOnWakeOnlyAfterASleepInsideItsWindow) {
  const struct {
    const char* name;
    bool command;
    std::optional<std::chrono::milliseconds> sleepAfter;  // nullopt: no sleep notice before the wake
    bool resets;
  } cases[] = {
      {"wake without a sleep notice", true, std::nullopt, true},
      {"slept after the window ended", true, 40s, false},
      {"no command", false, 10s, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    SimProgram& agent = m.addProgram(kAgent);
    SomnaraDaemon& ctl = controllerOf(agent);
    if (c.command) ctl.sleepNow();
    if (c.sleepAfter) m.advance(*c.sleepAfter), m.sleep();
    const std::size_t from = m.notifications().posted().size();
    m.wake();
    EXPECT_EQ(postedTypes(m, kAgent, from),
              (c.resets ? Types{kMessageResetToDefault, kMessageSleepNowEnded} : Types{}));
    EXPECT_EQ(hibernateMode(m), c.command && !c.resets ? 0 : 3);
    EXPECT_FALSE(ctl.quickSleepEndDate());
    EXPECT_FALSE(ctl.workspaceWillSleepDate());
  }
}

TEST(SleepNow, FailedStateOrSleepRequestEndsTheCommandWithItsReason) {
  const struct {
    const char* name;
    std::optional<Script> helper, pmset;
    bool canSleep;
    const char* logLine;
    std::optional<std::string> reason;
  } cases[] = {
      {"state cannot be set", Script::exit(2), {}, true, "Could not set sleepstate",
       "The sleep mode could not be set: the helper tool failed with exit status 2"},
      {"machine cannot sleep", {}, {}, false, "Could not set sleepstate",
       "The sleep mode could not be set: this machine can't sleep: not offered by the kernel"},
      {"sleep request fails", {}, Script::exit(1), true, "Can't set next sleep state: 1",
       "The power tool's sleep request failed with exit status 1"},
      {"both work", {}, {}, true, nullptr, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    if (c.helper) m.tools().setScript(kHelper, *c.helper);
    if (c.pmset) m.tools().setScript("pmset", *c.pmset);
    if (!c.canSleep) m.state().setSleepCapabilities({{powertool::SleepBlocker::NotOffered}, {}, {}});
    SimProgram& agent = m.addProgram(kAgent);
    EXPECT_EQ(controllerOf(agent).sleepNow(), c.reason);
    EXPECT_EQ(postedTypes(m, kAgent),
              (c.logLine ? Types{kMessageQuickSleep, kMessageSleepNowEnded} : Types{kMessageQuickSleep}));
    EXPECT_EQ(agent.workspace().beepCount(), c.logLine ? 1 : 0);
    EXPECT_EQ(countLog(agent, "-[SomnaraDaemon sleepNowWithState:]", c.logLine ? c.logLine : ""), c.logLine ? 1 : 0);
    EXPECT_EQ(m.state().sleepRequests().size(), c.logLine ? 0u : 1u);
  }
}

}  // namespace
}  // namespace somnara::sim::testing
