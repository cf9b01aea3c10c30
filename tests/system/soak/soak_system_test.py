#!/usr/bin/python3
"""The daemon, the tray agent and the preferences program, all three real, side
by side on the fake laptop while it keeps changing: the battery every 200 ms,
the settings file (by rename and in place), logind restarting, the battery
vanishing and coming back, the daemon's helper missing for a while, Insomnia
going on and off. None may end or restart, grow its resident memory or its
descriptor table, leave a logind lock behind or lose a setting; once the
changes stop, the mode in force is the one the last battery reading calls for.

ctest sets SOMNARA_APP (the built bundle) and SOMNARA_FAKE_LAPTOP.
SOMNARA_SOAK_SECONDS: the length (default 120); SOMNARA_SOAK_SEED replays a
run's random choices; SOMNARA_SOAK_MEMORY_CHECK=0 reports the memory figures
without judging them (sanitizer builds); SOMNARA_SOAK_SAMPLES=<file> keeps
every sample as CSV."""

import os
import plistlib
import random
import shutil
import signal
import statistics
import sys
import threading
import time
from collections import Counter

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import (SAVED_DEFAULT, STATUS_LINE, LaptopTest, log_of, main_in_own_pid_namespace,  # noqa: E402
                            pids_running, read, replace, stop, wait_for)

APP = os.environ.get("SOMNARA_APP", "")
SECONDS = float(os.environ.get("SOMNARA_SOAK_SECONDS", "120"))
if SECONDS < 60:
    raise SystemExit("SOMNARA_SOAK_SECONDS: at least 60, for a warm-up and two windows to compare")
SEED = int(os.environ.get("SOMNARA_SOAK_SEED", str(random.SystemRandom().randrange(10 ** 6))))
CHECK_MEMORY = os.environ.get("SOMNARA_SOAK_MEMORY_CHECK", "1") != "0"
SAMPLES = os.environ.get("SOMNARA_SOAK_SAMPLES")
RSS_GROWTH_LIMIT = 512  # KiB per hour of running
# KiB of growth that counts as none: a pool thread starting or ending, or the
# heap trimmed, moves VmRSS by up to about 70 KiB at once. A leak of a few MiB
# an hour shows above it within two minutes, and one at the limit within an hour.
RSS_NOISE = 96
LEVELS = (10, 20, 30, 40)  # hibernatelevel values written during the run
# Above every level of the run: sleep and hibernate (3), where a stale level gives sleep (0).
FINAL_LEVEL, FINAL_BATTERY, FINAL_MODE = 45, 43, 3
MODE_WORDS = {0: "sleep", 1: "hibernate", 3: "sleep and hibernate"}
BATTERY_PERIOD = 0.2  # seconds between two battery readings; the other disturbances' periods are in the run


def holders(targets):
    """Which processes hold each of targets (pipes, sockets, files) now, as text."""
    found = {target: [] for target in targets}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            command = (read("/proc/%s/cmdline" % entry) or "").replace("\0", " ").strip()[:120]
            held = {os.readlink("/proc/%s/fd/%s" % (entry, fd)) for fd in os.listdir("/proc/%s/fd" % entry)}
        except (OSError, ValueError):
            continue
        for target in found.keys() & held:
            found[target].append("%s %s" % (entry, command))
    return "; ".join("%s is open in %s" % (target, ", ".join(who)) for target, who in found.items())


class Program:
    """One running program and its samples: (seconds since the start, VmRSS KiB,
    open descriptors, what each is). Event descriptors are left out: they come
    and go with the threads Qt keeps in its pools, which end after 30 s idle."""

    def __init__(self, name, executable, pid, proc=None):
        self.name, self.executable, self.pid, self.proc, self.samples = name, executable, pid, proc, []

    def sample(self, at):
        targets = []
        for fd in os.listdir("/proc/%d/fd" % self.pid):
            try:
                targets.append(os.readlink("/proc/%d/fd/%s" % (self.pid, fd)))
            except OSError:
                pass  # closed meanwhile
        targets = sorted(t for t in targets if t != "anon_inode:[eventfd]")
        rss = next(int(line.split()[1]) for line in read("/proc/%d/status" % self.pid).splitlines()
                   if line.startswith("VmRSS:"))
        self.samples.append((at, rss, len(targets), targets))

    def figures(self, warm_up, end, span):
        """RSS medians and descriptor minimums (the resting state, without the
        locks and pipes of work under way) of the window after the warm-up and
        of the last window, each span seconds, and the RSS slope in KiB an hour
        between the windows' middles."""
        windows = [[s for s in self.samples if start <= s[0] < start + span] for start in (warm_up, end - span)]
        rss = [statistics.median(s[1] for s in w) for w in windows]
        middles = [statistics.median(s[0] for s in w) for w in windows]
        fewest = [min(w, key=lambda s: s[2]) for w in windows]
        return dict(rss=rss, slope=(rss[1] - rss[0]) / (middles[1] - middles[0]) * 3600,
                    fds=[s[2] for s in fewest], fd_targets=[s[3] for s in fewest],
                    fd_max=max(s[2] for s in self.samples if s[0] >= warm_up))


class Soak(LaptopTest):
    # In its own mount namespace the laptop lies on a file system no program
    # elsewhere can read, so their look for other instances of themselves misses these.
    LAPTOP = dict(tmpfs=bool(os.environ.get("SOMNARA_TEST_PID_NAMESPACE")), prefix="somnara-soak-",
                  settings={"firststartdone": True})

    def setUp(self):
        super().setUp()
        # A copy of the bundle: a rebuild of the original meanwhile would end programs run from it.
        self.app = os.path.join(self.laptop.tmp, "Somnara.app")
        shutil.copytree(APP, self.app, symlinks=True)
        self.battery_dir = os.path.join(self.laptop.root, "sys/class/power_supply/BAT0")
        self.rng = random.Random(SEED)
        self.counts = Counter()
        self.battery_lock = threading.Lock()  # held while the battery directory is away
        self.written = {}

    # --- the disturbances -----------------------------------------------------------------

    def restart_logind(self):
        stop(self.logind, signal.SIGTERM)
        self.logind = self.laptop.start_logind()
        self.counts["logind restarts"] += 1

    def set_battery(self, percent):
        with self.battery_lock:
            self.laptop.set_battery(percent)
        self.counts["battery readings"] += 1

    def change_battery_until(self, stopped):
        """A new reading every 200 ms all over the adaptive tiers; counts the modes applied meanwhile."""
        mode = self.laptop.mode()
        while not stopped.wait(BATTERY_PERIOD):
            self.set_battery(self.rng.randint(1, 60))
            if self.laptop.mode() != mode:
                mode = self.laptop.mode()
                self.counts["modes applied"] += 1

    def remove_battery_for_a_while(self):
        """Gone as an unplugged supply goes (its directory and watch), back as a new directory."""
        kept = os.path.join(self.laptop.tmp, "BAT0.kept")
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
        """Adaptive with another level, by rename and in place (as `cat new > file`) by turns."""
        self.written = {"firststartdone": True, "somnaramodeindex": 1,
                        "hibernatelevel": level or self.rng.choice(LEVELS),
                        "blinkinterval": self.rng.choice((58, 30, 0.5))}
        if self.counts["settings rewritten by rename"] > self.counts["settings rewritten in place"]:
            data = plistlib.dumps(self.written)
            with open(self.laptop.settings_path, "wb") as f:
                f.write(data[:len(data) // 2])
                f.flush()
                time.sleep(0.05)
                f.write(data[len(data) // 2:])
            self.counts["settings rewritten in place"] += 1
        else:
            replace(self.laptop.settings_path, self.written)
            self.counts["settings rewritten by rename"] += 1

    def toggle_insomnia(self):
        self.laptop.tray.click(self.service, r"(Start|Stop) Insomnia")
        self.counts["Insomnia toggles"] += 1
        time.sleep(0.3)
        self.assertNoLockLeftBehind()

    def assertNoLockLeftBehind(self):
        """While Insomnia is off the agent holds no logind lock."""
        if self.laptop.tray.entry(self.service, r"Stop Insomnia") is None:
            self.assertWithin(2, lambda: self.laptop.inhibitors() == [],
                              lambda: "Insomnia is off, logind still holds %r" % self.laptop.inhibitors())

    # --- programs -------------------------------------------------------------------------

    def start_programs(self):
        """The preferences program, which starts the daemon from its bundle, and the agent."""
        preferences = os.path.join(self.app, "Contents/MacOS/Somnara")
        items = os.path.join(self.app, "Contents/Library/LoginItems")
        daemon = os.path.join(items, "Somnara Daemon.app/Contents/MacOS/Somnara Daemon")
        agent = os.path.join(items, "Somnara MenuBar.app/Contents/MacOS/Somnara MenuBar")
        prefs = self.laptop.launch("preferences", [preferences])
        self.assertWithin(10, lambda: pids_running(daemon), "no daemon", self.logs)
        self.daemon = Program("daemon", daemon, pids_running(daemon)[0])
        started = self.laptop.launch("agent", [agent])
        self.programs = [Program("preferences", preferences, prefs.pid, prefs), self.daemon,
                         Program("agent", agent, started.pid, started)]
        self.assertWithin(10, self.laptop.tray.services, "the agent's item never registered", self.logs)
        self.service = self.laptop.tray.services()[0]

    def logs(self):
        """The end of each program's output and log file, for a failure's message."""
        text = "".join("--- %s\n%s" % (proc.args[0], log_of(proc)[-4000:])
                       for proc in self.laptop.procs if hasattr(proc, "log"))
        state = os.path.join(self.laptop.tmp, "state/somnara")
        for name in sorted(os.listdir(state)) if os.path.isdir(state) else ():
            text += "--- %s\n%s" % (name, (read(os.path.join(state, name)) or "")[-4000:])
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
        self.logind = self.laptop.start_logind()
        self.laptop.start_services(logind=False)
        self.rewrite_settings()
        self.start_programs()
        stopped = threading.Event()
        battery = threading.Thread(target=self.change_battery_until, args=(stopped,), daemon=True)
        battery.start()
        self.addCleanup(battery.join)
        self.addCleanup(stopped.set)
        start = time.monotonic()
        disturbances = [(1.0, lambda: self.assertSamePrograms(time.monotonic() - start)),  # (period in s, what)
                        (1.3, self.rewrite_settings), (7.0, self.toggle_insomnia), (17.0, self.restart_logind),
                        (23.0, self.remove_battery_for_a_while), (29.0, self.remove_helper_for_a_while)]
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
        self.assertWithin(10, lambda: self.laptop.mode() == 0, "sleep at 100 %", self.logs)
        # Quiet: the power tool's change budget (5 at once, then one a second)
        # fills up again, and the daemon's 3 s check finds sleep in place, which
        # ends the growing pauses between tries of a state refused during the run.
        time.sleep(6)
        self.rewrite_settings(FINAL_LEVEL)
        self.set_battery(FINAL_BATTERY)
        wanted = FINAL_MODE
        took = wait_for(lambda: self.laptop.mode() == wanted, 5)
        time.sleep(1)
        if took is None or self.laptop.mode() != wanted:
            self.fail("mode %r, wanted %r for %d %% at level %d:\n%s"
                      % (self.laptop.mode(), wanted, FINAL_BATTERY, FINAL_LEVEL, self.logs()))
        print("settled in %.2f s" % took)
        status = "Machine will %s on sleep" % MODE_WORDS[wanted]
        self.assertWithin(5, lambda: self.laptop.tray.entry(self.service, STATUS_LINE.pattern)[1] == status,
                          lambda: "agent: %r" % (self.laptop.tray.entry(self.service, STATUS_LINE.pattern),))
        self.assertNoLockLeftBehind()
        stored = plistlib.loads(read(self.laptop.settings_path).encode())
        self.assertEqual({key: stored.get(key) for key in self.written}, self.written, "settings lost")
        aside = [n for n in os.listdir(os.path.dirname(self.laptop.settings_path)) if ".corrupt-" in n]
        self.assertFalse(aside, "valid settings moved aside: %r\n%s" % (aside, aside and self.logs()))

    def end_programs(self):
        """SIGTERM ends the agent and the preferences program normally; the
        preferences program stops the daemon, which puts the saved mode back."""
        for program in reversed(self.programs):
            if program.proc:
                self.assertEnds(program.proc, 0, signal.SIGTERM)
        self.assertWithin(5, lambda: not pids_running(self.daemon.executable), "the daemon runs on")
        self.assertEqual(self.laptop.mode(), SAVED_DEFAULT)

    def report(self, duration):
        """Prints the figures of the run; {program name: figures}."""
        warm_up = max(30.0, duration / 4)
        span = max(15.0, (duration - warm_up) / 5)
        figures = {p.name: p.figures(warm_up, duration, span) for p in self.programs}
        print("\nsoak: %.0f s, seed %d, %d samples a program, warm-up %.0f s, windows of %.0f s"
              % (duration, SEED, len(self.programs[0].samples), warm_up, span))
        print("%-12s %10s %10s %12s %14s" % ("program", "RSS KiB", "then KiB", "KiB/hour", "fds then (max)"))
        for name, f in figures.items():
            print("%-12s %10d %10d %+12.0f %8d/%d (%d)" % (name, *f["rss"], f["slope"], *f["fds"], f["fd_max"]))
        print("changes: " + ", ".join("%d %s" % (n, what) for what, n in sorted(self.counts.items())))
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
                              % (*f["fds"], before, after, holders(Counter(after) - Counter(before))))
            if CHECK_MEMORY:
                with self.subTest(program=name, figure="resident memory"):
                    growth = f["rss"][1] - f["rss"][0]
                    self.assertFalse(f["slope"] >= RSS_GROWTH_LIMIT and growth > RSS_NOISE,
                                     "resident memory grows by %d KiB, %+.0f KiB an hour" % (growth, f["slope"]))


if __name__ == "__main__":
    main_in_own_pid_namespace()
