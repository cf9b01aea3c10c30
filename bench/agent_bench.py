#!/usr/bin/python3
"""The tray agent's running costs against a minimal Qt Widgets tray program
(bench_minimal_tray), both on the same Xvfb display with a StatusNotifierWatcher
on a private session bus, and the time from the daemon's state-applied message
to the new icon on the bus. Prints figures and ratios; never fails on a number.

Wakeups are counted for both programs over the same window, Insomnia off and
then on, each against the baseline counted alongside it. A session screen
saver stand-in takes the agent's activity reports, as on a desktop.

Environment: SOMNARA_AGENT, SOMNARA_MINIMAL_TRAY, SOMNARA_FAKE_LAPTOP (set by
ctest); SOMNARA_BENCH_WINDOW seconds per wakeup reading (default 120: the 58 s
blink falls inside twice and Insomnia's 29 s tick four times; ctest's short
window may see neither); SOMNARA_BENCH_RUNS latency samples (default 20)."""

import collections
import glob
import os
import plistlib
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import dbus
import dbus.lowlevel

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "system"))
from somnara_system import PrivateBus, Xvfb, main_in_own_pid_namespace, replace, stop, wait_for  # noqa: E402

AGENT = os.environ["SOMNARA_AGENT"]
MINIMAL = os.environ["SOMNARA_MINIMAL_TRAY"]
FAKE_LAPTOP = os.environ["SOMNARA_FAKE_LAPTOP"]
WINDOW = float(os.environ.get("SOMNARA_BENCH_WINDOW", "120"))
RUNS = int(os.environ.get("SOMNARA_BENCH_RUNS", "20"))
WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
DBUSMENU, SNI = "com.canonical.dbusmenu", "org.kde.StatusNotifierItem"
PROPS = "org.freedesktop.DBus.Properties"


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def switches(pid):
    """Context switches of all threads: each wakeup of a sleeping thread is one."""
    total = 0
    for status in glob.glob("/proc/%d/task/*/status" % pid):
        try:
            with open(status) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def wakeups_per_minute(pids, seconds):
    """Per minute, for each of pids, counted over the same window."""
    before = [switches(pid) for pid in pids]
    time.sleep(seconds)
    return [(switches(pid) - b) * 60.0 / seconds for pid, b in zip(pids, before)]


def ratio(value, base, seconds):
    """value against base; no ratio where the baseline saw nothing."""
    if base > 0:
        return "x%.2f" % (value / base)
    return "n/a (%s 0 over %.0f s)" % ("both" if value == 0 else "baseline", seconds)


def print_wakeups(what, agent, minimal):
    print("wakeups per minute, %s: agent %.1f, minimal %.1f, ratio %s"
          % (what, agent, minimal, ratio(agent, minimal, WINDOW)))


class Bench:
    def __init__(self):
        self.tmp = tempfile.mkdtemp(prefix="somnara-agent-bench-")
        self.root = os.path.join(self.tmp, "root")
        subprocess.run([FAKE_LAPTOP, "init", self.root, "0"], check=True)
        replace(os.path.join(self.root, "run/somnara/hibernatemode"), b"0\n")
        self.session, self.system = PrivateBus(), PrivateBus()
        self.xvfb = Xvfb()
        self.env = dict(os.environ, SOMNARA_ROOT=self.root, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                        XDG_STATE_HOME=os.path.join(self.tmp, "state"), XDG_RUNTIME_DIR=self.tmp,
                        DBUS_SESSION_BUS_ADDRESS=self.session.address, DBUS_SYSTEM_BUS_ADDRESS=self.system.address,
                        DISPLAY=self.xvfb.display, QT_QPA_PLATFORM="xcb")
        self.env.pop("XDG_CURRENT_DESKTOP", None)
        self.procs = [self.system.start_mock("org.freedesktop.login1", "somnara_logind", self.env),
                      self.session.start_mock(WATCHER[0], "status_notifier_watcher", self.env),
                      self.session.start_mock("org.freedesktop.ScreenSaver", "freedesktop_screensaver", self.env)]

    def close(self):
        for proc in reversed(self.procs):
            stop(proc)
        self.xvfb.close()
        self.session.close()
        self.system.close()
        shutil.rmtree(self.tmp, True)

    def start(self, argv):
        proc = subprocess.Popen(argv, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(proc)
        return proc

    def items(self):
        return list(self.session.call(WATCHER[0], WATCHER[1], PROPS, "Get", WATCHER[0],
                                      "RegisteredStatusNotifierItems"))

    def item_of(self, count):
        if wait_for(lambda: len(self.items()) >= count, 15) is None:
            raise RuntimeError("no tray item registered")
        return self.items()[count - 1].split("/")[0]

    def click(self, service, prefix):
        path = self.session.call(service, "/StatusNotifierItem", PROPS, "Get", SNI, "Menu")
        _, layout = self.session.call(service, path, DBUSMENU, "GetLayout", 0, -1, dbus.Array([], "s"))
        for ident, props, _ in layout[2]:
            if str(props.get("label", "")).startswith(prefix):
                self.session.call(service, path, DBUSMENU, "Event", ident, "clicked",
                                  dbus.String("", variant_level=1), dbus.UInt32(0))
                return
        raise RuntimeError("no menu item " + prefix)

    def applied(self, mode):
        """What the daemon does: the new mode in force, then its state-applied message."""
        replace(os.path.join(self.root, "run/somnara/hibernatemode"), b"%d\n" % mode)
        info = {"MessageType": 4, "ProcessID": "bench-%d" % os.getpid()}
        msg = dbus.lowlevel.SignalMessage("/de/orvane/DistributedNotificationCenter",
                                          "de.orvane.DistributedNotificationCenter", "Notification")
        msg.append("ORVDistributedNotificationGroupMessage", "de.orvane.Somnara.DistributedMessageGroup.%d"
                   % os.geteuid(), plistlib.dumps(info).decode(), signature="sss")
        self.session.connection.send_message(msg)
        self.session.connection.flush()


def measure_wakeups(agent, minimal):
    """Wakeups per minute of both over one window; both must live through it."""
    figures = wakeups_per_minute([agent.pid, minimal.pid], WINDOW)
    for name, proc in (("agent", agent), ("minimal tray program", minimal)):
        if proc.poll() is not None:
            raise RuntimeError("the %s ended (status %s) during the measurement" % (name, proc.returncode))
    return figures


def main():
    bench = Bench()
    try:
        minimal = bench.start([MINIMAL])
        bench.item_of(1)
        agent = bench.start([AGENT])
        service = bench.item_of(2)
        time.sleep(3)  # both settled

        rss_agent, rss_minimal = rss_kb(agent.pid), rss_kb(minimal.pid)
        print("idle resident memory: agent %.1f MB, minimal tray program %.1f MB, ratio x%.2f"
              % (rss_agent / 1024, rss_minimal / 1024, rss_agent / max(rss_minimal, 1)))
        print_wakeups("Insomnia off (blink 58 s)", *measure_wakeups(agent, minimal))
        saver = ("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.DBus.Mock")
        bench.click(service, "Start Insomnia")
        time.sleep(1)
        bench.session.call(*saver, "ClearCalls")
        print_wakeups("Insomnia on (29 s tick)", *measure_wakeups(agent, minimal))
        calls = collections.Counter(str(name) for _, name, _ in bench.session.call(*saver, "GetCalls"))
        print("screen saver calls in that window (%d ticks): %s"
              % (int((1 + WINDOW) // 29), ", ".join("%s %d" % kv for kv in sorted(calls.items())) or "none"))
        bench.click(service, "Stop Insomnia")

        samples = []
        icon = lambda: bench.session.call(service, "/StatusNotifierItem", PROPS, "Get", SNI, "IconPixmap")
        for run in range(RUNS):
            before = icon()
            start = time.monotonic()
            bench.applied(1 if run % 2 == 0 else 0)
            if wait_for(lambda: icon() != before, 5) is None:
                raise RuntimeError("the icon did not change")
            samples.append(time.monotonic() - start)
        print("state-applied message -> new icon on the bus: median %.1f ms over %d (min %.1f, max %.1f)"
              % (1000 * statistics.median(samples), RUNS, 1000 * min(samples), 1000 * max(samples)))
        for proc in (agent, minimal):
            proc.send_signal(signal.SIGTERM)
    finally:
        bench.close()


if __name__ == "__main__":
    # The agent started here must not end the agents of tests running beside it.
    main_in_own_pid_namespace(main)
