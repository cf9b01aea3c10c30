// Faults of the machine and the controller's properties and settings.
#include <functional>

#include "SimControllerSupport.h"
#include "plist/PlistCodec.h"

namespace somnara::sim::testing {
namespace {

TEST(Faults, SystemDefaultFromSavedSettings) {
  const std::string noMode =
      plist::toXml(Value(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", Value(Dictionary{})}})}}));
  const std::pair<const char*, bool> noValue{"Can't find current system default hibernate mode value (null)", false};
  const struct {
    const char* name;
    std::function<void(SimMachineState&)> setup;
    bool battery, hardValues;
    std::int64_t value;
    std::vector<std::pair<const char*, bool>> lines;  // message, prefix only
  } cases[] = {
      {"unreadable, battery", [](SimMachineState& s) { s.setSavedSettingsUnreadable("no such file"); }, true, false, 3,
       {{"Can't find current system default value due to:no such file", false}, noValue,
        {"Cant find default sleep mode will use:3", false}}},
      {"corrupt, no battery", [](SimMachineState& s) { s.setSavedSettings("<plist><dict><key>"); }, false, false, 0,
       {{"Can't find current system default value due to:", true}, noValue,
        {"Cant find default sleep mode will use:0", false}}},
      {"no mode in the mains profile", [&](SimMachineState& s) { s.setSavedSettings(noMode); }, true, false, 3,
       {{"Can't find current system default hibernate mode value {", true},
        {"Cant find default sleep mode will use:3", false}}},
      {"saved -1", [](SimMachineState& s) { s.saveHibernateMode(-1); }, false, false, 0,
       {{"Cant find default sleep mode will use:0", false}}},
      {"saved 1", [](SimMachineState& s) { s.saveHibernateMode(1); }, true, false, 1, {}},
      {"saved 1, hard values, battery", [](SimMachineState& s) { s.saveHibernateMode(1); }, true, true, 3, {}},
      {"saved 1, hard values, no battery", [](SimMachineState& s) { s.saveHibernateMode(1); }, false, true, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    c.setup(m.state());
    if (!c.battery) m.state().removeBatteries();
    if (c.hardValues) m.defaults().write(kApp, "hardvalues", Value(true));
    SimProgram& p = m.addProgram(kAgent);

    EXPECT_EQ(controllerOf(p).pmsetvalueForSleepState(kSleepStateSystemDefault), c.value);
    const auto& lines = p.logger().logLines();
    ASSERT_EQ(lines.size(), c.lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
      EXPECT_TRUE(isLogLine(lines[i], "-[SomnaraDaemon pmsetvalueForSleepState:]", c.lines[i].first,
                            c.lines[i].second))
          << lines[i];
  }
}

// The daemon looks the system default up on every tick; what it cannot find
// is said once, and again only when the finding changes.
TEST(Faults, AMissingSystemDefaultIsSaidOnceNotEveryTick) {
  SimMachine m;
  m.state().setSavedSettingsUnreadable("no such file");
  SimProgram& daemon = startDaemon(m);
  m.advance(1min);
  const char* kValue = "-[SomnaraDaemon pmsetvalueForSleepState:]";
  EXPECT_EQ(countLog(daemon, kValue, "Cant find default sleep mode will use:3"), 1);
  EXPECT_EQ(countLog(daemon, kValue, "Can't find current system default value due to:no such file"), 1);
  m.state().saveHibernateMode(25);
  m.advance(10s);
  m.state().setSavedSettingsUnreadable("no such file");
  m.advance(10s);
  EXPECT_EQ(countLog(daemon, kValue, "Cant find default sleep mode will use:3"), 2);
}

TEST(Faults, BatteryReadingsDecideTheAdaptiveModeAndPowerRegistration) {
  const struct {
    const char* name;
    std::function<void(SimMachineState&)> setup;
    bool registers, diagnostic;
  } cases[] = {
      {"battery", [](SimMachineState&) {}, true, false},
      {"no battery", [](SimMachineState& s) { s.removeBatteries(); }, false, false},
      {"unreadable battery only", [](SimMachineState& s) { s.removeBatteries(), s.addUnreadableBattery(); }, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    c.setup(m.state());
    m.defaults().write(kApp, "somnaramodeindex", Value(1));
    SimProgram& daemon = m.addProgram(kDaemon);
    SomnaraDaemon& ctl = controllerOf(daemon);
    EXPECT_EQ(ctl.registeredForPowerChanges(), c.registers);
    EXPECT_EQ(countDiagnostic(daemon, "hibernation.currentstate() : did not get IOPSGetPowerSourceDescription()") > 0,
              c.diagnostic);
    EXPECT_EQ(hibernateMode(m), c.registers ? 0 : 1) << "no battery level: hibernate";
    EXPECT_TRUE(ctl.sleepmodeissomnara());
    EXPECT_EQ(ctl.sleepmode(), c.registers ? 1 : 0) << "adaptive mode needs a battery";
  }
}

TEST(Faults, SleepDisabledReadsNoModeAndSaysTheMachineCantSleep) {
  SimMachine m;
  m.state().setSleepEnabled(false);
  SimProgram& agent = m.addProgram(kAgent);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(controllerOf(agent).currentsleepstate(), std::nullopt);
    EXPECT_EQ(countDiagnostic(agent, "hibernation.currenthibernationstate(): machine does not support sleep."), i);
  }
  EXPECT_EQ(controllerOf(agent).currentStateString(), "This machine can't sleep");
}

TEST(Faults, DaemonKeepsItsPolicyByTimersAlone) {
  for (const bool busGone : {false, true}) {
    SCOPED_TRACE(busGone ? "bus gone" : "power changes not observable");
    SimMachine m;
    m.state().setPowerSourceChangesObservable(busGone);
    m.notifications().setBusGone(busGone);
    m.defaults().write(kApp, "somnaramodeindex", Value(1));
    SimProgram& daemon = startDaemon(m);
    SimProgram& agent = m.addProgram(kAgent);
    if (busGone) controllerOf(agent).sleepNow();  // lost: no window opens in the daemon
    const char* noSource = "can't create IOPSNotificationCreateRunLoopSource";
    EXPECT_EQ(countLog(daemon, "-[SomnaraDaemon addToPowerRunLoop]", noSource), busGone ? 0 : 1);
    m.advance(5s);
    for (const auto& [charge, mode] : {std::pair{10, 3}, std::pair{3, 1}, std::pair{60, 0}}) {
      m.state().setBattery(charge, std::nullopt);
      m.advance(3s);
      EXPECT_EQ(hibernateMode(m), mode) << "charge " << charge;
    }
    EXPECT_EQ(m.notifications().droppedCount() > 0, busGone);
  }
}

TEST(Properties, SettingsAtCreation) {
  const struct {
    const char* name;
    std::vector<std::tuple<const char*, const char*, Value>> writes;  // domain, key, value
    std::int64_t sleepmode, level;
    bool icon;
  } cases[] = {
      {"empty store", {}, 0, 20, false},
      {"application's settings",
       {{kApp, "somnaramodeindex", Value(4)}, {kApp, "hibernatelevel", Value(35)},
        {kApp, "blackandwhiteicon", Value(1)}}, 4, 35, true},
      {"own domain hides the application's",
       {{kApp, "somnaramodeindex", Value(2)}, {kDaemon, "somnaramodeindex", Value(3)}}, 3, 20, false},
      {"icon keeps the low byte only", {{kApp, "blackandwhiteicon", Value(256)}}, 0, 20, false},
      {"mode 7", {{kApp, "somnaramodeindex", Value(7)}}, 0, 20, false},
      {"mode -1", {{kApp, "somnaramodeindex", Value(-1)}}, 0, 20, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    for (const auto& [domain, key, value] : c.writes) m.defaults().write(domain, key, value);
    SomnaraDaemon& ctl = controllerOf(m.addProgram(kDaemon));
    EXPECT_EQ(ctl.sleepmode(), c.sleepmode);
    EXPECT_EQ(ctl.hibernatelevel(), c.level);
    EXPECT_EQ(ctl.blackandwhiteicon(), c.icon);
  }
}

TEST(Properties, CurrentStateStringAndItsNotices) {
  SimMachine m;
  SomnaraDaemon& ctl = controllerOf(m.addProgram(kAgent));
  NoticeCounter notices(ctl, kS_Property_currentsleepstate);
  NoticeCounter stringNotices(ctl, kS_Property_currentStateString);
  m.state().setHibernateMode(host::HibernateModeReading::of(0));
  EXPECT_EQ(ctl.currentsleepstate(), 0);
  EXPECT_EQ(notices.take(), 1) << "the first reading notifies, even of 0";
  EXPECT_EQ(stringNotices.take(), 1);
  EXPECT_EQ(ctl.currentsleepstate(), 0);
  EXPECT_EQ(notices.take(), 0);

  using host::HibernateModeReading;
  const std::pair<HibernateModeReading, const char*> cases[] = {
      {HibernateModeReading::of(0), "sleep"},
      {HibernateModeReading::of(1), "hibernate"},
      {HibernateModeReading::of(2), "do unknown sleep behaviour"},
      {HibernateModeReading::of(3), "sleep and hibernate"},
      {HibernateModeReading::of(25), "hibernate"},
      {HibernateModeReading::of(-1), "do unknown sleep behaviour"},
      {HibernateModeReading::none(HibernateModeReading::Absence::OutOfStep), "do unknown sleep behaviour"}};
  for (const auto& [mode, word] : cases) {
    m.state().setHibernateMode(mode);
    EXPECT_EQ(ctl.currentStateString(), std::string("Machine will ") + word + " on sleep") << word;
  }
}

TEST(Properties, SetSleepmodeWritesOnlyInTheApplication) {
  for (const std::string bundle : {kApp, kAgent, kDaemon}) {
    SCOPED_TRACE(bundle);
    SimMachine m;
    SimProgram& p = m.addProgram(bundle);
    SomnaraDaemon& ctl = controllerOf(p);
    NoticeCounter notices(ctl, kS_Property_sleepmode);
    NoticeCounter derived(ctl, kS_Property_sleepmodeissomnara);
    const bool app = bundle == kApp;

    ctl.setSleepmode(3);
    ctl.setSleepmode(3);
    EXPECT_EQ(notices.count, 1) << "the same value again sends no notice";
    EXPECT_EQ(derived.count, 1);
    EXPECT_EQ(ctl.sleepmode(), 3);
    EXPECT_EQ(m.defaults().value(kApp, "somnaramodeindex"), app ? std::optional<Value>(Value(3)) : std::nullopt);
    EXPECT_EQ(m.defaults().domain(bundle) != nullptr, app);
    EXPECT_EQ(p.defaults().synchronizeCount(), app ? 1 : 0);
  }
}

}  // namespace
}  // namespace somnara::sim::testing
