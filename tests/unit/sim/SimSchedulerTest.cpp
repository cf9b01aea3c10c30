// Virtual time shared by the programs of one machine: ties across programs,
// ended programs, blocking sleeps that hold only the sleeper, tools that
// take time. What every run loop promises is checked in the port contract.
#include <gtest/gtest.h>

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

TEST_F(SchedulerTest, TiesFireInSchedulingOrderAcrossProgramsAndEndedProgramsStayQuiet) {
  a.loop().schedule(milliseconds(100), false, record("a100"));
  b.loop().schedule(milliseconds(50), false, record("b50"));
  b.loop().schedule(milliseconds(100), false, record("b100"));
  const auto tick = a.loop().schedule(milliseconds(40), true, record("tick"));
  const auto kept = a.loop().schedule(milliseconds(30), false, record("kept"));
  b.loop().cancel(kept);  // not b's timer
  SimProgram& c = machine.addProgram("test.C");
  c.loop().schedule(milliseconds(10), true, record("ended"));
  c.end();
  c.loop().schedule(milliseconds(0), false, record("ended-late"));
  c.loop().post(record("ended-post"));

  machine.advance(milliseconds(100));
  EXPECT_EQ(fired, (Strings{"kept@30", "tick@40", "b50@50", "tick@80", "a100@100", "b100@100"}));
  EXPECT_EQ(machine.elapsed(), milliseconds(100));
  a.loop().cancel(tick);
  EXPECT_EQ(machine.scheduler().pendingCount(), 0u) << "an ended program's timers are gone";
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

// A repeating timer whose call waits for a tool is not called again inside itself.
TEST_F(SchedulerTest, ARepeatingTimerWaitingForAToolIsNotReentered) {
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
