#!/usr/bin/python3
"""The daemon, the tray agent and the preferences program, all three real, run
side by side for a long time on a fake laptop with private session and system
buses while the machine keeps changing under them: the battery every 200 ms,
the settings file (by rename and in place), logind restarting, the battery
vanishing and coming back, the daemon's helper missing for a while, Insomnia
going on and off. None of them may end or restart, grow its resident memory or
its descriptor table, leave a logind lock behind or lose a setting; once the
changes stop, the applied hibernate mode is the one the last battery reading
calls for.

Run through ctest, which sets SOMNARA_APP (the built bundle) and
SOMNARA_FAKE_LAPTOP. SOMNARA_SOAK_SECONDS sets the length (default 120),
SOMNARA_SOAK_SEED replays a run's random choices, SOMNARA_SOAK_MEMORY_CHECK=0
reports the memory figures without judging them (sanitizer builds),
SOMNARA_SOAK_SAMPLES=<file> keeps every sample as CSV."""

import os
import plistlib
from collections import Counter
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import dbus

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import (LOGIND, STATUS_LINE, PrivateBus, ProgramLogs, TrayItems, Xvfb,  # noqa: E402
                            hibernate_mode, logind_inhibitors, main_in_own_pid_namespace, open_descriptor_targets,
                            pids_running, replace, resident_kib, stop, wait_for)

APP = os.environ.get("SOMNARA_APP", "")
FAKE_LAPTOP = os.environ.get("SOMNARA_FAKE_LAPTOP", "")
SECONDS = float(os.environ.get("SOMNARA_SOAK_SECONDS", "120"))
if SECONDS < 60:
    raise SystemExit("SOMNARA_SOAK_SECONDS: at least 60, for a warm-up and two windows to compare")
SEED = int(os.environ.get("SOMNARA_SOAK_SEED", str(random.SystemRandom().randrange(10 ** 6))))
CHECK_MEMORY = os.environ.get("SOMNARA_SOAK_MEMORY_CHECK", "1") != "0"
SAMPLES = os.environ.get("SOMNARA_SOAK_SAMPLES")  # a file to keep every sample in, as CSV

SESSION_ID = "c7"
SAVED_DEFAULT = 25
RSS_GROWTH_LIMIT = 512  # KiB per hour of running
# KiB of growth that counts as none: a pool thread starting or ending, or the
# heap trimmed, moves VmRSS by up to about 70 KiB at once. A short run cannot
# tell such a step from a leak at the hourly limit; a leak shows above it within
# two minutes from a few MiB an hour, and within an hour down to the limit.
RSS_NOISE = 96
LEVELS = (10, 20, 30, 40)  # hibernatelevel values written during the run
FINAL_LEVEL, FINAL_BATTERY = 45, 43  # above every level of the run: a stale level applies 0, not 3
MODE_WORDS = {0: "sleep", 1: "hibernate", 3: "sleep and hibernate"}
# Seconds between two of each disturbance.
BATTERY_PERIOD, SAMPLE_PERIOD, SETTINGS_PERIOD = 0.2, 1.0, 1.3
INSOMNIA_PERIOD, LOGIND_PERIOD, SUPPLY_PERIOD, HELPER_PERIOD = 7.0, 17.0, 23.0, 29.0


def holders(targets):
    """Which processes hold each of targets (pipes, sockets, files) now, as text."""
    found = {target: [] for target in targets}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()[:120]
            held = {os.readlink("/proc/%s/fd/%s" % (entry, fd)) for fd in os.listdir("/proc/%s/fd" % entry)}
        except OSError:
            continue
        for target in found.keys() & held:
            found[target].append("%s %s" % (entry, command))
    return "; ".join("%s is open in %s" % (target, ", ".join(who)) for target, who in found.items())


def adaptive_mode(percent, level):
    """The hibernate mode the adaptive policy gives a discharging battery at percent."""
    return 1 if percent <= 4 else 3 if percent <= level else 0


class Program:
    """One running program: its pid and its figures, sampled once a second.
    proc: its Popen where this test started it."""

    def __init__(self, name, executable, pid, proc=None):
        self.name, self.executable, self.pid, self.proc = name, executable, pid, proc
        # (seconds since the start, VmRSS KiB, open descriptors, what each one is). Event
        # descriptors are left out: they come and go with the threads Qt keeps
        # in its pools, which end after 30 s without work.
        self.samples = []

    def sample(self, at):
        targets = [t for t in open_descriptor_targets(self.pid) if t != "anon_inode:[eventfd]"]
        self.samples.append((at, resident_kib(self.pid), len(targets), targets))

    def window(self, start, end):
        return [s for s in self.samples if start <= s[0] < end]

    def figures(self, warm_up, end, span):
        """RSS medians and descriptor minimums (the program's resting state,
        without the locks and pipes of work under way) of the window after the
        warm-up and of the last window, each span seconds, and the RSS slope in KiB per hour
        between the two windows' middles."""
        first, last = self.window(warm_up, warm_up + span), self.window(end - span, end)
        rss = [statistics.median(s[1] for s in w) for w in (first, last)]
        middles = [statistics.median(s[0] for s in w) for w in (first, last)]
        slope = (rss[1] - rss[0]) / (middles[1] - middles[0]) * 3600
        fewest = [min(w, key=lambda s: s[2]) for w in (first, last)]
        return dict(rss=rss, slope=slope, fds=[s[2] for s in fewest], fd_targets=[s[3] for s in fewest],
                    fd_max=max(s[2] for s in self.samples if s[0] >= warm_up))


class Soak(ProgramLogs, unittest.TestCase):

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("the daemon's helper only runs the power tool for root here")
        for path in (APP, FAKE_LAPTOP):
            self.assertTrue(os.path.exists(path), "missing %r; run through ctest" % path)
        self.tmp = tempfile.mkdtemp(prefix="somnara-soak-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        if os.environ.get("SOMNARA_TEST_PID_NAMESPACE"):
            # A file system only this namespace sees: a program started elsewhere
            # on the machine scans /proc for other instances of itself, cannot
            # read these bundles and so leaves their programs alone.
            subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1g,mode=700", "somnara-soak", self.tmp], check=True)
            self.addCleanup(subprocess.run, ["umount", "-l", self.tmp])
        # A copy of the bundle: a rebuild of the original meanwhile would end programs run from it.
        self.app = os.path.join(self.tmp, "Somnara.app")
        shutil.copytree(APP, self.app, symlinks=True)
        self.root = os.path.join(self.tmp, "root")
        self.battery_dir = os.path.join(self.root, "sys/class/power_supply/BAT0")
        subprocess.run([FAKE_LAPTOP, "init", self.root, str(SAVED_DEFAULT)], check=True)
        replace(os.path.join(self.root, "run/somnara/hibernatemode"), b"%d\n" % SAVED_DEFAULT)
        self.settings_path = os.path.join(self.tmp, "config/somnara/de.orvane.Somnara.plist")
        self.procs = []
        self.addCleanup(self.stop_all)
        self.session_bus, self.system_bus = PrivateBus(), PrivateBus()
        self.addCleanup(self.session_bus.close)
        self.addCleanup(self.system_bus.close)
        self.xvfb = Xvfb()
        self.addCleanup(self.xvfb.close)
        self.env = dict(os.environ, SOMNARA_ROOT=self.root, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                        XDG_STATE_HOME=os.path.join(self.tmp, "state"), XDG_SESSION_ID=SESSION_ID,
                        XDG_RUNTIME_DIR=self.tmp, DBUS_SESSION_BUS_ADDRESS=self.session_bus.address,
                        DBUS_SYSTEM_BUS_ADDRESS=self.system_bus.address, DISPLAY=self.xvfb.display,
                        QT_QPA_PLATFORM="xcb")
        for name in ("XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        self.rng = random.Random(SEED)
        self.counts = dict.fromkeys(("battery readings", "modes applied", "settings rewritten by rename",
                                     "settings rewritten in place", "logind restarts", "battery removals",
                                     "helper outages", "Insomnia toggles"), 0)
        self.battery_lock = threading.Lock()  # held while the battery directory is away
        self.written = {}

    # --- the machine ----------------------------------------------------------------------

    def start_logind(self):
        """logind's stand-in, a new process each time, with the session."""
        self.logind = self.system_bus.start_mock(LOGIND[0], "somnara_logind", self.env)
        self.system_bus.call(LOGIND[0], LOGIND[1], "org.freedesktop.DBus.Mock", "AddSession", SESSION_ID, "seat0",
                             dbus.UInt32(os.geteuid()), "tester", True)

    def restart_logind(self):
        stop(self.logind, signal.SIGTERM)
        self.start_logind()
        self.counts["logind restarts"] += 1

    def set_battery(self, percent):
        with self.battery_lock:
            subprocess.run([FAKE_LAPTOP, "set", self.root, str(percent)], check=True)
        self.counts["battery readings"] += 1

    def change_battery_until(self, stopped):
        """Every 200 ms a new reading, all over the adaptive tiers; counts the
        changes of the applied mode seen in between."""
        mode = hibernate_mode(self.root)
        while not stopped.wait(BATTERY_PERIOD):
            self.set_battery(self.rng.randint(1, 60))
            now = hibernate_mode(self.root)
            if now != mode:
                mode = now
                self.counts["modes applied"] += 1

    def remove_battery_for_a_while(self):
        """The battery disappears as an unplugged supply does (its directory and
        watch go) and comes back as a new directory."""
        kept = os.path.join(self.tmp, "BAT0.kept")
        with self.battery_lock:
            shutil.copytree(self.battery_dir, kept)
            shutil.rmtree(self.battery_dir)
            time.sleep(1.0)
            shutil.copytree(kept, self.battery_dir)
            shutil.rmtree(kept)
        self.counts["battery removals"] += 1

    def remove_helper_for_a_while(self):
        helper = os.path.join(os.path.dirname(os.path.dirname(self.daemon.executable)), "Resources/pmsethelper")
        os.rename(helper, helper + ".away")
        time.sleep(1.5)
        os.rename(helper + ".away", helper)
        self.counts["helper outages"] += 1

    def rewrite_settings(self, level=None):
        """Adaptive with another level, by rename and in place by turns."""
        self.written = {"firststartdone": True, "somnaramodeindex": 1,
                        "hibernatelevel": level or self.rng.choice(LEVELS),
                        "blinkinterval": self.rng.choice((58, 30, 0.5))}
        in_place = self.counts["settings rewritten by rename"] > self.counts["settings rewritten in place"]
        if in_place:  # as `cat new > file` does: truncate, half, a pause, the rest
            data = plistlib.dumps(self.written)
            with open(self.settings_path, "wb") as f:
                f.write(data[:len(data) // 2])
                f.flush()
                time.sleep(0.05)
                f.write(data[len(data) // 2:])
            self.counts["settings rewritten in place"] += 1
        else:
            replace(self.settings_path, self.written)
            self.counts["settings rewritten by rename"] += 1

    # --- the agent's Insomnia -------------------------------------------------------------

    def insomnia_on(self):
        return self.tray.entry(self.service, r"Stop Insomnia") is not None

    def toggle_insomnia(self):
        self.tray.click(self.service, self.tray.entry(self.service, r"(Start|Stop) Insomnia")[0])
        self.counts["Insomnia toggles"] += 1
        time.sleep(0.3)
        self.assertNoLockLeftBehind()

    def assertNoLockLeftBehind(self):
        """While Insomnia is off the agent holds no logind lock."""
        if not self.insomnia_on():
            self.assertIsNotNone(wait_for(lambda: logind_inhibitors(self.system_bus) == [], 2),
                                 "Insomnia is off, logind still holds %r" % logind_inhibitors(self.system_bus))

    # --- programs -------------------------------------------------------------------------

    def start_programs(self):
        """The preferences program, which starts the daemon from its bundle, and the agent."""
        preferences = os.path.join(self.app, "Contents/MacOS/Somnara")
        items = os.path.join(self.app, "Contents/Library/LoginItems")
        daemon = os.path.join(items, "Somnara Daemon.app/Contents/MacOS/Somnara Daemon")
        agent = os.path.join(items, "Somnara MenuBar.app/Contents/MacOS/Somnara MenuBar")
        prefs = self.launch("preferences", [preferences], self.env)
        if wait_for(lambda: pids_running(daemon), 10) is None:
            self.fail("no daemon:\n" + self.logs())
        self.daemon = Program("daemon", daemon, pids_running(daemon)[0])
        started = self.launch("agent", [agent], self.env)
        self.programs = [Program("preferences", preferences, prefs.pid, prefs), self.daemon,
                         Program("agent", agent, started.pid, started)]
        self.tray = TrayItems(self.session_bus)
        if wait_for(self.tray.services, 10) is None:
            self.fail("the agent's item never registered:\n" + self.logs())
        self.service = self.tray.services()[0]

    def logs(self):
        """The end of each program's output and log file, for a failure's message."""
        text = "".join("--- %s\n%s" % (proc.args[0], self.log_of(proc)[-4000:])
                       for proc in self.procs if hasattr(proc, "log"))
        state = os.path.join(self.tmp, "state/somnara")
        for name in sorted(os.listdir(state)) if os.path.isdir(state) else ():
            with open(os.path.join(state, name), errors="replace") as f:
                text += "--- %s\n%s" % (name, f.read()[-4000:])
        return text

    def assertSamePrograms(self, at):
        """Each program runs on as the one process it started as, and is sampled."""
        for program in self.programs:
            running = pids_running(program.executable)
            if running != [program.pid]:
                self.fail("%s pid %d ended or restarted after %.0f s (now %r):\n%s"
                          % (program.name, program.pid, at, running, self.logs()))
            program.sample(at)

    # --- the run --------------------------------------------------------------------------

    def test_programs_run_on_unchanged_through_a_long_stream_of_changes(self):
        self.start_logind()
        self.addCleanup(lambda: stop(self.logind))
        self.procs.append(self.system_bus.start_mock("org.freedesktop.UPower", "upower", self.env,
                                                     '{"LidIsPresent": true, "LidIsClosed": false}'))
        self.procs.append(self.session_bus.start_mock("org.freedesktop.ScreenSaver", "freedesktop_screensaver",
                                                      self.env))
        self.procs.append(self.session_bus.start_mock("org.kde.StatusNotifierWatcher", "status_notifier_watcher",
                                                      self.env))
        self.set_battery(50)
        self.rewrite_settings()
        self.start_programs()

        stopped = threading.Event()
        battery = threading.Thread(target=self.change_battery_until, args=(stopped,), daemon=True)
        battery.start()
        self.addCleanup(battery.join)
        self.addCleanup(stopped.set)
        disturbances = [(SAMPLE_PERIOD, lambda: self.assertSamePrograms(time.monotonic() - start)),
                        (SETTINGS_PERIOD, self.rewrite_settings), (INSOMNIA_PERIOD, self.toggle_insomnia),
                        (LOGIND_PERIOD, self.restart_logind), (SUPPLY_PERIOD, self.remove_battery_for_a_while),
                        (HELPER_PERIOD, self.remove_helper_for_a_while)]
        start = time.monotonic()
        due = [start + self.rng.uniform(0, period) for period, _ in disturbances]
        while time.monotonic() - start < SECONDS:
            i = min(range(len(due)), key=due.__getitem__)
            time.sleep(max(0.0, due[i] - time.monotonic()))
            disturbances[i][1]()
            due[i] += disturbances[i][0]
        stopped.set()
        battery.join()
        duration = time.monotonic() - start
        self.assertSamePrograms(duration)
        figures = self.report(duration)
        self.settle()
        self.judge(figures)
        self.end_programs()

    def settle(self):
        """The last changes, once the mode is sleep at a full battery: a level
        above every earlier one and a reading between them, which stale settings
        would leave at sleep."""
        self.set_battery(100)
        self.assertIsNotNone(wait_for(lambda: hibernate_mode(self.root) == 0, 10), "sleep at 100 %:\n" + self.logs())
        # Quiet: the power tool's change budget (5 at once, then one a second)
        # fills up again, and the daemon's 3 s check finds sleep in place, which
        # ends the growing pauses between tries of a state refused during the run.
        time.sleep(6)
        self.rewrite_settings(FINAL_LEVEL)
        self.set_battery(FINAL_BATTERY)
        wanted = adaptive_mode(FINAL_BATTERY, FINAL_LEVEL)
        took = wait_for(lambda: hibernate_mode(self.root) == wanted, 5)
        time.sleep(1)
        if took is None or hibernate_mode(self.root) != wanted:
            self.fail("mode %r, wanted %r for %d %% at level %d:\n%s"
                      % (hibernate_mode(self.root), wanted, FINAL_BATTERY, FINAL_LEVEL, self.logs()))
        print("settled in %.2f s" % took)
        status = "Machine will %s on sleep" % MODE_WORDS[wanted]
        self.assertIsNotNone(wait_for(lambda: self.tray.entry(self.service, STATUS_LINE.pattern)[1] == status, 5),
                             "agent: %r" % self.tray.entry(self.service, STATUS_LINE.pattern)[1])
        self.assertNoLockLeftBehind()
        with open(self.settings_path, "rb") as f:
            stored = plistlib.load(f)
        self.assertEqual({key: stored.get(key) for key in self.written}, self.written, "settings lost")
        aside = [n for n in os.listdir(os.path.dirname(self.settings_path)) if ".corrupt-" in n]
        if aside:
            self.fail("valid settings moved aside: %r\n%s" % (aside, self.logs()))

    def end_programs(self):
        """SIGTERM ends the agent and the preferences program normally; the
        preferences program stops the daemon, which puts the saved mode back."""
        for program in reversed(self.programs):
            if program.proc:
                stop(program.proc, signal.SIGTERM)
                self.assertEqual(program.proc.returncode, 0, "%s:\n%s" % (program.name, self.log_of(program.proc)))
        self.assertIsNotNone(wait_for(lambda: not pids_running(self.daemon.executable), 5), "the daemon runs on")
        self.assertEqual(hibernate_mode(self.root), SAVED_DEFAULT)

    def report(self, duration):
        """Prints the figures of the run; {program name: figures}."""
        warm_up = max(30.0, duration / 4)
        span = max(15.0, (duration - warm_up) / 5)
        figures = {p.name: p.figures(warm_up, duration, span) for p in self.programs}
        print("\nsoak: %.0f s, seed %d, %d samples a program, warm-up %.0f s, windows of %.0f s"
              % (duration, SEED, len(self.programs[0].samples), warm_up, span))
        print("%-12s %10s %10s %12s %14s" % ("program", "RSS KiB", "then KiB", "KiB/hour", "fds then (max)"))
        for name, f in figures.items():
            print("%-12s %10d %10d %+12.0f %8d/%d (%d)" % (name, f["rss"][0], f["rss"][1], f["slope"],
                                                          f["fds"][0], f["fds"][1], f["fd_max"]))
        print("changes: " + ", ".join("%d %s" % (n, what) for what, n in self.counts.items()))
        sys.stdout.flush()
        if SAMPLES:
            with open(SAMPLES, "w") as f:
                f.write("program,seconds,rss_kib,fds\n")
                for p in self.programs:
                    f.writelines("%s,%.1f,%d,%d\n" % (p.name, *s[:3]) for s in p.samples)
        return figures

    def judge(self, figures):
        for name, f in figures.items():
            with self.subTest(program=name, figure="descriptors"):
                before, after = f["fd_targets"]
                if f["fds"][1] != f["fds"][0]:
                    self.fail("open descriptors changed from %d to %d: %r became %r; %s"
                              % (f["fds"][0], f["fds"][1], before, after, holders(Counter(after) - Counter(before))))
            if CHECK_MEMORY:
                with self.subTest(program=name, figure="resident memory"):
                    growth = f["rss"][1] - f["rss"][0]
                    self.assertFalse(f["slope"] >= RSS_GROWTH_LIMIT and growth > RSS_NOISE,
                                     "resident memory grows by %d KiB, %+.0f KiB an hour" % (growth, f["slope"]))


if __name__ == "__main__":
    main_in_own_pid_namespace()
