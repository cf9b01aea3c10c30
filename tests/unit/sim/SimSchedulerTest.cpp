// Virtual time shared by the programs of one machine: timer order and ties,
// cancelling, blocking sleeps and timers firing while a tool runs.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

class SchedulerTest : public ::testing::Test {
 protected:
  SimMachine machine;
  SimProgram& a = machine.addProgram("test.A");
  SimProgram& b = machine.addProgram("test.B");
  Strings fired;  // "name@virtual ms"

  std::function<void()> record(std::string name) {
    return [this, name] { fired.push_back(name + "@" + std::to_string(machine.elapsed().count())); };
  }
};

TEST_F(SchedulerTest, DueOrderWithTiesInSchedulingOrderAcrossPrograms) {
  a.loop().schedule(milliseconds(100), false, record("a100"));
  b.loop().schedule(milliseconds(50), false, record("b50"));
  b.loop().schedule(milliseconds(100), false, record("b100"));
  a.loop().schedule(milliseconds(0), false, record("a0"));
  a.loop().schedule(milliseconds(101), false, record("a101"));
  a.loop().schedule(milliseconds(40), true, record("tick"));

  machine.advance(milliseconds(100));
  EXPECT_EQ(fired, (Strings{"a0@0", "tick@40", "b50@50", "tick@80", "a100@100", "b100@100"}));
  EXPECT_EQ(machine.elapsed(), milliseconds(100));
  machine.advance(milliseconds(1));
  EXPECT_EQ(fired.back(), "a101@101");
}

TEST_F(SchedulerTest, CancelledAndEndedProgramsTimersNeverFire) {
  host::RunLoop::TimerId self = 0;
  self = a.loop().schedule(milliseconds(10), true, [&] {
    record("self")();
    a.loop().cancel(self);  // from inside its own call
  });
  const auto doomed = a.loop().schedule(milliseconds(20), false, record("doomed"));
  a.loop().schedule(milliseconds(5), false, [&] { a.loop().cancel(doomed); });
  const auto kept = a.loop().schedule(milliseconds(30), false, record("kept"));
  b.loop().cancel(kept);  // not b's timer
  EXPECT_EQ((std::set{self, doomed, kept}).size(), 3u);
  EXPECT_EQ((std::set{self, doomed, kept}).count(0), 0u);

  SimProgram& c = machine.addProgram("test.C");
  c.loop().schedule(milliseconds(10), true, record("ended"));
  c.end();
  c.loop().schedule(milliseconds(0), false, record("ended-late"));
  c.loop().post(record("ended-post"));

  machine.advance(milliseconds(100));
  EXPECT_EQ(fired, (Strings{"self@10", "kept@30"}));
  EXPECT_EQ(machine.scheduler().pendingCount(), 0u);
}

TEST_F(SchedulerTest, BlockingSleepHoldsOnlyTheSleepersTimers) {
  a.loop().schedule(milliseconds(300), false, record("a300"));
  a.loop().schedule(milliseconds(1000), true, record("a-tick"));
  b.loop().schedule(milliseconds(400), false, record("b400"));
  a.loop().schedule(milliseconds(0), false, [&] {
    a.loop().sleepBlocking(milliseconds(3500));
    record("a-woke")();
  });

  machine.advance(milliseconds(4200));
  // b ran during a's sleep at its own time; a's timers waited for a's loop, and
  // the late repeating one fired once and kept its rhythm.
  EXPECT_EQ(fired, (Strings{"b400@400", "a-woke@3500", "a300@3500", "a-tick@3500", "a-tick@4000"}));
}

TEST_F(SchedulerTest, EveryProgramsTimersFireWhileAToolRunsWithoutReentering) {
  machine.tools().setScript("slowtool", SimToolRunner::Script::exit(0).taking(milliseconds(1000)));
  bool toolReturned = false;
  auto when = [&](std::string name) { return [&, name] { record(name + (toolReturned ? "-after" : "-during"))(); }; };
  a.loop().schedule(milliseconds(400), false, when("a"));
  b.loop().schedule(milliseconds(900), false, when("b"));
  b.loop().schedule(milliseconds(1001), false, when("b"));
  EXPECT_EQ(a.processes().run("/bin/slowtool", {}), 0);
  toolReturned = true;
  EXPECT_EQ(machine.elapsed(), milliseconds(1000));
  machine.advance(milliseconds(1));
  EXPECT_EQ(fired, (Strings{"a-during@400", "b-during@900", "b-after@1001"}));

  // A repeating timer whose call waits for a tool is not called again inside itself.
  machine.tools().setScript("slowtool", SimToolRunner::Script::exit(0).taking(milliseconds(350)));
  int depth = 0, maxDepth = 0, calls = 0;
  b.loop().schedule(milliseconds(100), true, [&] {
    ++calls;
    maxDepth = std::max(maxDepth, ++depth);
    b.processes().run("/bin/slowtool", {});
    --depth;
  });
  machine.advance(milliseconds(1000));
  EXPECT_EQ(maxDepth, 1);
  EXPECT_EQ(calls, 3) << "calls at +100, +500, +900; the slots in between are skipped";
}

}  // namespace
}  // namespace somnara::sim
