// The session bus between programs: what crosses, to whom, when, and the bus going away.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

constexpr const char* kName = "de.orvane.Somnara.message";
constexpr const char* kObject = "de.orvane.Somnara";

class NotificationTest : public ::testing::Test {
 protected:
  SimMachine machine;
  SimProgram& agent = machine.addProgram("de.orvane.Somnara.MenuBar");
  SimProgram& daemon = machine.addProgram("de.orvane.Somnara.Daemon");
  std::vector<std::pair<std::string, host::Notification>> received;

  host::RegistrationPtr listen(SimProgram& p, const std::string& name = kName, const std::string& object = kObject) {
    return p.notifications().observe(name, object, [this, &p, name](const host::Notification& n) {
      received.emplace_back(p.bundleIdentifier(), n);
    });
  }
};

TEST_F(NotificationTest, UserInfoCrossesAsAPropertyList) {
  const Dictionary nested{{"somnaramodeindex", Value(3)}, {"flag", Value(true)}, {"ratio", Value(0.25)}};
  const std::optional<Value> payloads[] = {
      std::nullopt,
      Value(Date{1767225635.0}),
      Value(Dictionary{{"settings", Value(nested)}, {"list", Value(Array{Value("a"), Value(-7)})}}),
      Value(""),
  };
  auto reg = listen(daemon);
  for (const auto& payload : payloads) agent.notifications().post({kName, kObject, payload});
  machine.runPending();
  ASSERT_EQ(received.size(), std::size(payloads));
  for (std::size_t i = 0; i < received.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(received[i].second.userInfo, payloads[i]) << "and in post order";
  }
}

TEST_F(NotificationTest, ReachesExactMatchesInEveryProgramIncludingTheSenderLater) {
  auto r1 = listen(agent);
  auto r2 = listen(daemon);
  auto r3 = listen(daemon, kName, "another.object");
  auto r4 = listen(daemon, "another.name", kObject);
  agent.notifications().post({kName, kObject, Value(1)});
  EXPECT_TRUE(received.empty());
  machine.runPending();
  std::vector<std::string> who;
  for (const auto& [program, n] : received) who.push_back(program);
  EXPECT_EQ(who, (std::vector<std::string>{"de.orvane.Somnara.MenuBar", "de.orvane.Somnara.Daemon"}));
  ASSERT_EQ(machine.notifications().posted().size(), 1u);
  EXPECT_EQ(machine.notifications().posted()[0].sender, "de.orvane.Somnara.MenuBar");
}

TEST_F(NotificationTest, NothingArrivesAfterUnregisteringOrEnding) {
  auto r1 = listen(agent);
  auto r2 = listen(daemon);
  agent.notifications().post({kName, kObject, std::nullopt});
  r1.reset();
  daemon.end();
  machine.runPending();
  EXPECT_TRUE(received.empty());
}

TEST_F(NotificationTest, PostsWhileTheBusIsGoneAreDroppedSilently) {
  auto reg = listen(daemon);
  machine.notifications().setBusGone(true);
  agent.notifications().post({kName, kObject, Value(1)});
  agent.notifications().post({kName, kObject, Value(2)});
  machine.runPending();
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(machine.notifications().droppedCount(), 2);

  machine.notifications().setBusGone(false);
  agent.notifications().post({kName, kObject, Value(3)});
  machine.runPending();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].second.userInfo, Value(3));
}

}  // namespace
}  // namespace somnara::sim
