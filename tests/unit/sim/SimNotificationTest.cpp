// The session bus between programs: what crosses, and to whom.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

constexpr const char* kName = "de.orvane.Somnara.message";
constexpr const char* kObject = "de.orvane.Somnara";

TEST(SimNotifications, CrossAsPropertyListsToExactMatchesOfEveryProgramLaterInPostOrder) {
  SimMachine machine;
  SimProgram& agent = machine.addProgram("de.orvane.Somnara.MenuBar");
  SimProgram& daemon = machine.addProgram("de.orvane.Somnara.Daemon");
  std::vector<std::pair<std::string, host::Notification>> received;
  auto listen = [&](SimProgram& p, const std::string& name, const std::string& object) {
    return p.notifications().observe(
        name, object, [&received, &p](const host::Notification& n) { received.emplace_back(p.bundleIdentifier(), n); });
  };
  auto r1 = listen(agent, kName, kObject);
  auto r2 = listen(daemon, kName, kObject);
  auto r3 = listen(daemon, kName, "another.object");
  auto r4 = listen(daemon, "another.name", kObject);

  // {sent, received}: the wire keeps property-list values, and dates to the second.
  const Dictionary nested{{"somnaramodeindex", Value(3)}, {"flag", Value(true)}, {"ratio", Value(0.25)}};
  const Value list(Dictionary{{"settings", Value(nested)}, {"list", Value(Array{Value("a"), Value(-7)})}});
  const std::pair<std::optional<Value>, std::optional<Value>> payloads[] = {
      {std::nullopt, std::nullopt},
      {Value(Date{1767225635.75}), Value(Date{1767225635.0})},
      {list, list},
      {Value(""), Value("")},
  };
  for (const auto& [sent, unused] : payloads) agent.notifications().post({kName, kObject, sent});
  EXPECT_TRUE(received.empty()) << "delivered inside post()";
  machine.runPending();

  ASSERT_EQ(received.size(), 2 * std::size(payloads));
  for (std::size_t i = 0; i < received.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(received[i].first, i % 2 ? "de.orvane.Somnara.Daemon" : "de.orvane.Somnara.MenuBar");
    EXPECT_EQ(received[i].second.name, kName);
    EXPECT_EQ(received[i].second.userInfo, payloads[i / 2].second);
  }
  ASSERT_EQ(machine.notifications().posted().size(), std::size(payloads));
  EXPECT_EQ(machine.notifications().posted()[0].sender, "de.orvane.Somnara.MenuBar");
}

}  // namespace
}  // namespace somnara::sim
