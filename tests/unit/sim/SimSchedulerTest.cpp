// Virtual time: timer order, repeating timers, blocking sleeps and tool waits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/sim/SimMachine.h"

namespace somnara::sim {
namespace {

using std::chrono::milliseconds;

struct Fired {
  std::string name;
  long at;  // virtual ms
};

class SchedulerTest : public ::testing::Test {
 protected:
  SimMachine machine;
  SimProgram& a = machine.addProgram("test.A");
  SimProgram& b = machine.addProgram("test.B");
  std::vector<Fired> fired;

  std::function<void()> record(std::string name) {
    return [this, name] { fired.push_back({name, static_cast<long>(machine.elapsed().count())}); };
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& f : fired) out.push_back(f.name);
    return out;
  }
};

TEST_F(SchedulerTest, FiresInDueOrderWithTiesInSchedulingOrderAcrossPrograms) {
  a.loop().schedule(milliseconds(100), false, record("a100"));
  b.loop().schedule(milliseconds(50), false, record("b50"));
  b.loop().schedule(milliseconds(100), false, record("b100"));
  a.loop().schedule(milliseconds(0), false, record("a0"));
  a.loop().schedule(milliseconds(101), false, record("a101"));

  machine.advance(milliseconds(100));
  EXPECT_EQ(names(), (std::vector<std::string>{"a0", "b50", "a100", "b100"}));
  ASSERT_EQ(fired.size(), 4u);
  EXPECT_EQ(fired[1].at, 50);
  EXPECT_EQ(fired[3].at, 100);
  EXPECT_EQ(machine.elapsed(), milliseconds(100));
  machine.advance(milliseconds(1));
  EXPECT_EQ(names().back(), "a101");
}

TEST_F(SchedulerTest, WallClockStartsAtFixedDateAndFollowsVirtualTime) {
  EXPECT_DOUBLE_EQ(a.loop().now(), 1767225600.0);
  machine.advance(milliseconds(2500));
  EXPECT_DOUBLE_EQ(b.context().loop().now(), 1767225602.5);
}

TEST_F(SchedulerTest, RepeatingTimersRearmAtDuePlusIntervalUntilCancelled) {
  auto id = a.loop().schedule(milliseconds(1000), true, record("tick"));
  machine.advance(milliseconds(3500));
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_EQ(fired[2].at, 3000);
  a.loop().cancel(id);
  machine.advance(milliseconds(5000));
  EXPECT_EQ(fired.size(), 3u);
  EXPECT_EQ(machine.scheduler().pendingCount(), 0u);
}

TEST_F(SchedulerTest, CancelledTimersNeverFireAndIdsAreUnique) {
  std::set<host::RunLoop::TimerId> ids;
  host::RunLoop::TimerId self = 0;
  self = a.loop().schedule(milliseconds(10), true, [&] {
    record("self")();
    a.loop().cancel(self);
  });
  auto doomed = a.loop().schedule(milliseconds(20), false, record("doomed"));
  a.loop().schedule(milliseconds(5), false, [&] { a.loop().cancel(doomed); });
  // Another program cannot stop a timer that is not its own.
  auto kept = a.loop().schedule(milliseconds(30), false, record("kept"));
  b.loop().cancel(kept);
  for (auto id : {self, doomed, kept}) ids.insert(id);

  machine.advance(milliseconds(100));
  EXPECT_EQ(names(), (std::vector<std::string>{"self", "kept"}));
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids.count(0), 0u);
}

TEST_F(SchedulerTest, BlockingSleepHoldsOnlyTheSleepersTimers) {
  a.loop().schedule(milliseconds(300), false, record("a300"));
  b.loop().schedule(milliseconds(400), false, record("b400"));
  a.loop().schedule(milliseconds(0), false, [&] {
    a.loop().sleepBlocking(milliseconds(1000));
    record("a woke")();
  });

  machine.advance(milliseconds(0));
  // b ran during a's sleep at its own time; a's timer waited for a's loop.
  ASSERT_EQ(names(), (std::vector<std::string>{"b400", "a woke", "a300"}));
  EXPECT_EQ(fired[0].at, 400);
  EXPECT_EQ(fired[1].at, 1000);
  EXPECT_EQ(fired[2].at, 1000);
}

TEST_F(SchedulerTest, LateRepeatingTimerFiresOnceAndKeepsItsRhythm) {
  a.loop().schedule(milliseconds(1000), true, record("tick"));
  a.loop().schedule(milliseconds(500), false, [&] { a.loop().sleepBlocking(milliseconds(3000)); });
  machine.advance(milliseconds(4200));
  std::vector<long> at;
  for (const auto& f : fired) at.push_back(f.at);
  EXPECT_EQ(at, (std::vector<long>{3500, 4000}));
}

TEST_F(SchedulerTest, TimersOfEveryProgramFireWhileAToolRuns) {
  machine.tools().setScript("slowtool", SimToolRunner::Script::exit(0).taking(milliseconds(1000)));
  bool toolReturned = false;
  a.loop().schedule(milliseconds(400), false, [&] { fired.push_back({toolReturned ? "a-after" : "a-during", 0}); });
  b.loop().schedule(milliseconds(900), false, [&] { fired.push_back({toolReturned ? "b-after" : "b-during", 0}); });
  b.loop().schedule(milliseconds(1001), false, [&] { fired.push_back({toolReturned ? "b-after" : "b-during", 0}); });

  EXPECT_EQ(a.processes().run("/bin/slowtool", {}), 0);
  toolReturned = true;
  EXPECT_EQ(machine.elapsed(), milliseconds(1000));
  EXPECT_EQ(names(), (std::vector<std::string>{"a-during", "b-during"}));
  machine.advance(milliseconds(1));
  EXPECT_EQ(names().back(), "b-after");
}

TEST_F(SchedulerTest, RepeatingTimerIsNotReenteredWhileItsCallWaitsForATool) {
  machine.tools().setScript("slowtool", SimToolRunner::Script::exit(0).taking(milliseconds(350)));
  int depth = 0, maxDepth = 0, calls = 0;
  a.loop().schedule(milliseconds(100), true, [&] {
    ++calls;
    maxDepth = std::max(maxDepth, ++depth);
    a.processes().run("/bin/slowtool", {});
    --depth;
  });
  machine.advance(milliseconds(1000));
  EXPECT_EQ(maxDepth, 1);
  // Calls at 100 (runs to 450), 500 (to 850), 900 (to 1250): the slots in between are skipped.
  EXPECT_EQ(calls, 3);
}

TEST_F(SchedulerTest, EndedProgramsTimersAndPostsNeverFire) {
  a.loop().schedule(milliseconds(10), true, record("a"));
  b.loop().schedule(milliseconds(10), false, record("b"));
  a.end();
  a.loop().schedule(milliseconds(0), false, record("a-late"));
  a.loop().post(record("a-post"));
  machine.advance(milliseconds(100));
  EXPECT_EQ(names(), (std::vector<std::string>{"b"}));
}

}  // namespace
}  // namespace somnara::sim
