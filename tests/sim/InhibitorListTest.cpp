// Who keeps the machine awake: which locks the list shows and how, when it
// is read, and the command line's way to Insomnia through the running agent.
#include <sstream>

#include "MenuBarAgentSupport.h"
#include "host/sim/SimInsomniaService.h"
#include "menubar/InhibitorList.h"
#include "menubar/InsomniaCommand.h"
#include "menubar/InsomniaRemoteControl.h"

namespace somnara::sim::testing {
namespace {

using Source = host::Inhibitor::Source;

host::Inhibitor lock(std::string who, std::string what, std::string mode, Source source = Source::Logind,
                     std::string why = "busy") {
  host::Inhibitor inhibitor;
  inhibitor.who = std::move(who), inhibitor.why = std::move(why), inhibitor.what = std::move(what);
  inhibitor.mode = std::move(mode), inhibitor.source = source;
  return inhibitor;
}

// Blocking sleep and idle locks are shown, the agent's own last and marked.
TEST(InhibitorList, ShowsTheBlockingSleepAndIdleLocksOwnLast) {
  host::Inhibitor own = lock("Somnara MenuBar", "idle", "block");
  own.isOwn = true, own.pid = 77;
  const std::string nothing = "Nothing is keeping the machine awake";
  const struct {
    const char* name;
    std::vector<host::Inhibitor> held;
    std::vector<std::string> lines;
  } cases[] = {
      {"none", {}, {nothing}},
      {"delay locks only postpone a sleep",
       {lock("de.orvane.Somnara.Daemon", "sleep", "delay"), lock("NetworkManager", "sleep", "delay")}, {nothing}},
      {"other kinds of lock",
       {lock("PowerDevil", "handle-lid-switch:handle-power-key", "block"), lock("apt", "shutdown", "block")},
       {nothing}},
      {"sleep and idle among others, weak blocks count",
       {lock("Backup", "shutdown:sleep", "block"), lock("Player", "idle", "block-weak")},
       {"Backup: busy (shutdown:sleep, block)", "Player: busy (idle, block-weak)"}},
      {"own last and marked", {own, lock("Backup", "sleep", "block")},
       {"Backup: busy (sleep, block)", "Somnara MenuBar: busy (idle, block, pid 77) \u2014 Somnara's own"}},
      {"session services named",
       {lock("org.gnome.Totem", "suspend:idle", "block", Source::GnomeSession),
        lock("vlc", "suspend", "block", Source::PowerManagement)},
       {"org.gnome.Totem: busy (suspend:idle, block, GNOME session)", "vlc: busy (suspend, block, power manager)"}},
      {"no name, no reason", {lock("", "sleep", "block", Source::Logind, "")}, {"(unnamed program) (sleep, block)"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(InhibitorList::linesFor(InhibitorList::keepingAwake(c.held)), c.lines) << c.name;
}

class InhibitorAgentTest : public ::testing::Test {
 protected:
  void SetUp() override { agent.start(); }
  InhibitorList& list() { return agent.delegate.inhibitorList(); }
  SimDesktopState& desktop() { return machine.desktop(); }

  SimMachine machine;
  Agent agent{machine};
};

TEST_F(InhibitorAgentTest, TheListIsReadWhenTheMenuOpensAndFollowsChangesOnlyWhileItIsOpen) {
  const int backup = desktop().takeInhibitor(lock("Backup", "sleep", "block"));
  EXPECT_EQ(desktop().inhibitorQueries(), 0) << "nothing is read before anyone looks";
  EXPECT_EQ(desktop().inhibitorWatchers(), 0u);
  EXPECT_EQ(list().lines(), std::vector<std::string>{"Nothing is keeping the machine awake"});

  NoticeCounter announced(list(), InhibitorList::kProperty_inhibitors);
  agent.delegate.menuWillOpen();
  EXPECT_EQ(list().lines(), std::vector<std::string>{"Backup: busy (sleep, block)"});
  EXPECT_EQ(announced.count, 1);

  // A change while the menu is open shows at once; an unchanged list is not announced again.
  agent.delegate.setInsomnia(true);
  ASSERT_EQ(list().inhibitors().size(), 2u);
  EXPECT_TRUE(list().inhibitors().back().isOwn) << "the agent's own idle lock, marked, after the other";
  EXPECT_EQ(list().inhibitors().back().what, "idle");
  EXPECT_EQ(announced.count, 2);
  desktop().takeInhibitor(lock("Updater", "shutdown", "block"));
  EXPECT_EQ(announced.count, 2) << "a lock that keeps nothing awake changes nothing shown";

  agent.delegate.menuDidClose();
  EXPECT_EQ(desktop().inhibitorWatchers(), 0u);
  const int queries = desktop().inhibitorQueries();
  desktop().dropInhibitor(backup);
  machine.advance(std::chrono::hours(2));
  EXPECT_EQ(desktop().inhibitorQueries(), queries) << "no reading while nobody looks, Insomnia ticking or not";
  EXPECT_EQ(list().inhibitors().size(), 2u) << "the closed menu's list is left as it was";

  agent.delegate.menuWillOpen();
  ASSERT_EQ(list().inhibitors().size(), 1u) << "opening again reads again";
  EXPECT_TRUE(list().inhibitors().front().isOwn);
  agent.delegate.menuDidClose();
}

TEST_F(InhibitorAgentTest, TwoLookersKeepTheWatchUntilTheLastGoes) {
  agent.delegate.menuWillOpen();
  list().beginLooking();  // the settings window, say
  agent.delegate.menuDidClose();
  EXPECT_EQ(desktop().inhibitorWatchers(), 1u);
  desktop().takeInhibitor(lock("Backup", "sleep", "block"));
  EXPECT_EQ(list().inhibitors().size(), 1u);
  list().endLooking();
  list().endLooking();  // one too many is harmless
  EXPECT_EQ(desktop().inhibitorWatchers(), 0u);
  EXPECT_FALSE(list().looking());
}

struct Outcome {
  int status;
  std::string out, err;
};

class InsomniaCommandTest : public InhibitorAgentTest {
 protected:
  Outcome run(std::vector<std::string> arguments) {
    std::ostringstream out, err;
    const int status = InsomniaCommand::run(arguments, remote, out, err);
    return {status, out.str(), err.str()};
  }

  InsomniaRemoteControl control{agent.delegate, agent.delegate.inhibitorList(), agent.program.agentPorts().insomniaService,
                                agent.program.loop()};
  SimInsomniaRemote remote{machine.desktop()};
};

TEST_F(InsomniaCommandTest, StartsReportsAndStopsInsomnia) {
  ASSERT_TRUE(control.published());
  desktop().takeInhibitor(lock("Backup", "sleep", "block"));
  EXPECT_EQ(run({"status"}).out,
            "Insomnia: off\nKeeping the machine awake:\n  Backup: busy (sleep, block)\n");

  auto started = run({"1h30m"});
  EXPECT_EQ(started.status, InsomniaCommand::kDone);
  EXPECT_EQ(started.out, "Insomnia on for 90.00 minutes\n");
  EXPECT_TRUE(agent.delegate.hasInsomnia());
  EXPECT_EQ(agent.delegate.insomniaTimeInterval(), 5400) << "the length, as a menu preset sets it";
  machine.advance(30min);
  const auto status = run({"status"});
  EXPECT_EQ(status.out.substr(0, status.out.find('\n')), "Insomnia: on, stops in 60.00 minutes");
  EXPECT_NE(status.out.find("Somnara's own"), std::string::npos) << status.out;

  EXPECT_EQ(run({}).out, "Insomnia on until stopped\n");
  EXPECT_EQ(agent.delegate.insomniaEndDate(), std::nullopt);
  EXPECT_EQ(run({"status"}).out.substr(0, 27), "Insomnia: on until stopped\n");

  EXPECT_EQ(run({"off"}).out, "Insomnia off\n");
  EXPECT_FALSE(agent.delegate.hasInsomnia());
  EXPECT_EQ(desktop().idleSleepVetoes(), 0);
}

TEST_F(InsomniaCommandTest, OneAgentOffersInsomniaAtATime) {
  auto second = std::make_unique<InsomniaRemoteControl>(agent.delegate, agent.delegate.inhibitorList(),
                                                        agent.program.agentPorts().insomniaService,
                                                        agent.program.loop());
  EXPECT_FALSE(second->published()) << "the first offer stands";
  second.reset();
  EXPECT_EQ(run({"status"}).status, InsomniaCommand::kDone) << "and goes on serving";
}

// Without an agent every command fails with one line; bad arguments are
// usage errors that reach no agent.
TEST(InsomniaCommandLine, NoAgentAndBadArguments) {
  SimMachine machine;
  SimInsomniaRemote remote{machine.desktop()};
  const std::string noAgent = "somnara insomnia: the Somnara tray agent is not running (no agent answers)\n";
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{{}, {"2h"}, {"off"}, {"status"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(InsomniaCommand::run(arguments, remote, out, err), InsomniaCommand::kNoAgent);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), noAgent);
  }
  Agent agent(machine);
  agent.start();
  InsomniaRemoteControl control(agent.delegate, agent.delegate.inhibitorList(),
                                agent.program.agentPorts().insomniaService, agent.program.loop());
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"2x"}, {"0s"}, {"on"}, {"2h", "off"}, {"-1h"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(InsomniaCommand::run(arguments, remote, out, err), InsomniaCommand::kUsage) << arguments.front();
    EXPECT_NE(err.str().find(InsomniaCommand::kUsageText), std::string::npos);
  }
  EXPECT_FALSE(agent.delegate.hasInsomnia());
}

// Hours, minutes, seconds in that order, each at most once, above zero.
TEST(InsomniaCommandLine, Durations) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"90s", 90}, {"45m", 2700}, {"2h", 7200}, {"1h30m", 5400}, {"1h0m5s", 3605}, {"0h1s", 1},
      {"999999999s", 999999999}, {"", std::nullopt}, {"0s", std::nullopt}, {"90", std::nullopt},
      {"h", std::nullopt}, {"30m1h", std::nullopt}, {"1h1h", std::nullopt}, {"1.5h", std::nullopt},
      {"1000000000s", std::nullopt}, {"2H", std::nullopt}, {" 2h", std::nullopt}, {"2h ", std::nullopt}};
  for (const auto& [text, seconds] : cases) EXPECT_EQ(InsomniaCommand::parseDuration(text), seconds) << text;
}

}  // namespace
}  // namespace somnara::sim::testing
