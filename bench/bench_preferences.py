#!/usr/bin/python3
"""How quickly the preferences window comes up and how quickly a choice made in
it reaches the machine, on a fake laptop with private buses and Qt's offscreen
platform (the shared fake-laptop fixture of the system tests).

  start   program start -> its event loop runs with the settings window shown,
          against bench_minimal_widgets started the same way, the two started
          in turn so both meet the same load: ratio of medians
  daemon  program start -> the daemon runs again from the program's bundle
          (it is stopped and started once the window has been drawn)
  change  a click between "Sleep" and "Hibernate" -> the fake root's active
          hibernate mode holds the new value (median and p90); one click a
          second at most, the pace the power tool lets changes through

Environment: SOMNARA_BENCH_RUNS (default 20). Only a broken setup fails."""

import os
import statistics
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "system"))
from somnara_system import FakeLaptop, log_of, pids_running, wait_for  # noqa: E402

RUNS = int(os.environ.get("SOMNARA_BENCH_RUNS", "20"))
# The power tool takes one change a second after a burst of five.
CHANGE_INTERVAL = 1.05
MINIMAL = os.environ.get("SOMNARA_BENCH_MINIMAL_WIDGETS", "")
DRIVER_APP = os.environ.get("SOMNARA_DRIVER_APP", "")
DRIVER = os.path.join(DRIVER_APP, "Contents/MacOS/Somnara")
OWN_DAEMON = os.path.join(DRIVER_APP, "Contents/Library/LoginItems/Somnara Daemon.app/Contents/MacOS/Somnara Daemon")


def summary(samples):
    ordered = sorted(samples)
    return statistics.median(ordered), ordered[max(0, int(len(ordered) * 0.9) - 1)]


class Bench(unittest.TestCase):
    """The driver bundle (the window worked from stdin) on a fake laptop that has run Somnara before."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("the daemon's helper only runs the power tool for root here")
        self.laptop = FakeLaptop(settings={"firststartdone": True}, display="offscreen")
        self.addCleanup(self.laptop.close)

    def driver(self):
        proc = self.laptop.launch("driver", [DRIVER], pipe=True)
        self.assertEqual(proc.stdout.readline().strip(), "ready", log_of(proc))
        return proc

    def ask(self, proc, command):
        proc.stdin.write(command + "\n")
        proc.stdin.flush()
        line = proc.stdout.readline().strip()
        self.assertTrue(line.startswith("ok"), "%s -> %r\n%s" % (command, line, log_of(proc)))

    def runTest(self):
        starts, baseline, daemons, changes = [], [], [], []
        for _ in range(RUNS):
            t = time.monotonic()
            proc = subprocess.Popen([MINIMAL], env=self.laptop.env, stdout=subprocess.PIPE, text=True)
            self.assertEqual(proc.stdout.readline().strip(), "ready")
            baseline.append(time.monotonic() - t)
            proc.wait(timeout=5)
            proc.stdout.close()
            t = time.monotonic()
            drv = self.driver()
            starts.append(time.monotonic() - t)
            self.assertIsNotNone(wait_for(lambda: pids_running(OWN_DAEMON), 5))
            daemons.append(time.monotonic() - t)
            self.ask(drv, "quit")
            drv.wait(timeout=8)
        drv = self.driver()
        self.assertIsNotNone(wait_for(lambda: self.laptop.mode() is not None, 5))
        for i in range(RUNS):
            target, value = ("sleepMode3", 1) if i % 2 == 0 else ("sleepMode2", 0)
            t = time.monotonic()
            self.ask(drv, "click " + target)
            self.assertIsNotNone(wait_for(lambda: self.laptop.mode() == value, 3))
            changes.append(time.monotonic() - t)
            time.sleep(max(0.0, t + CHANGE_INTERVAL - time.monotonic()))
        b, s, d, c = summary(baseline), summary(starts), summary(daemons), summary(changes)
        print("\n  minimal widgets window start   median %7.1f ms  p90 %7.1f ms" % (b[0] * 1e3, b[1] * 1e3))
        print("  preferences window start       median %7.1f ms  p90 %7.1f ms  ratio %.2f  (n=%d)"
              % (s[0] * 1e3, s[1] * 1e3, s[0] / b[0], len(starts)))
        print("  preferences start -> daemon    median %7.1f ms  p90 %7.1f ms" % (d[0] * 1e3, d[1] * 1e3))
        print("  window change -> applied mode  median %7.1f ms  p90 %7.1f ms  (n=%d)"
              % (c[0] * 1e3, c[1] * 1e3, len(changes)))


if __name__ == "__main__":
    unittest.main(defaultTest="Bench")
