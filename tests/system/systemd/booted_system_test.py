#!/usr/bin/python3
"""The installed package on a booted systemd: run as root inside the container
that scripts/systemd-test.sh boots, with the package installed, a test user,
a fake /sys/power offering "freeze mem disk", a fake laptop battery, no swap
(so the machine can suspend but not hibernate) and the sleep services
writing into scratch copies of /sys/power.

Prints "ok   <check>" or "FAIL <check>: <why>" for each check and, last,
"N passed, N failed"; exits 1 when a check failed."""

import argparse
import contextlib
import itertools
import json
import os
import plistlib
import pwd
import re
import shutil
import signal
import subprocess
import sys
import time

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))
LOGIN_ITEMS = "/usr/lib/somnara/Somnara.app/Contents/Library/LoginItems"
DAEMON = LOGIN_ITEMS + "/Somnara Daemon.app/Contents/MacOS/Somnara Daemon"
AGENT = LOGIN_ITEMS + "/Somnara MenuBar.app/Contents/MacOS/Somnara MenuBar"
PMSET = "/usr/lib/somnara/pmset"
SUSPEND_UNIT = "systemd-suspend.service"
MODE_FILE = "/run/somnara/hibernatemode"
PERSISTENT_DROPIN = "/etc/systemd/system/systemd-suspend.service.d/50-somnara.conf"
RUNTIME_DROPIN = "/run/systemd/system/systemd-suspend.service.d/60-somnara-runtime.conf"
PLAIN_SUSPEND = ["/lib/systemd/systemd-sleep suspend"]
# What an older version left as the persistent drop-in, and the form it takes
# today: hibernation that falls back to suspend where it fails.
STALE_DROPIN = "[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep hibernate\n"
CURRENT_HIBERNATE_DROPIN = ("[Service]\nExecStart=\nExecStart=/bin/sh -c '/lib/systemd/systemd-sleep hibernate"
                            " || exec /lib/systemd/systemd-sleep suspend'\n")
FALLBACK_EXEC_START = ["/bin/sh -c /lib/systemd/systemd-sleep hibernate || exec /lib/systemd/systemd-sleep suspend"]
BATTERY = "/sys/class/power_supply/BAT0"
# With a delay lock held and not released, logind waits InhibitDelayMaxSec
# (5 s) before it suspends; a prompt release lets it go at once.
PROMPT_SLEEP = 3.0
# The daemon applies again about 3 s after an application; a change is
# watched that long and a little more, so a second application shows.
APPLY_WINDOW = 3.8


def run(argv, timeout=30, **kwargs):
    """subprocess.run with text output captured; a timeout gives status 124."""
    try:
        return subprocess.run(argv, capture_output=True, text=True, timeout=timeout, **kwargs)
    except subprocess.TimeoutExpired as e:
        out, err = (b.decode(errors="replace") if isinstance(b, bytes) else b or "" for b in (e.stdout, e.stderr))
        return subprocess.CompletedProcess(argv, 124, out, err + "(timed out after %s s)" % timeout)


def wait_for(predicate, timeout, interval=0.05):
    """Seconds until predicate() held, or None when it did not within timeout."""
    start = time.monotonic()
    while not predicate():
        if time.monotonic() - start > timeout:
            return None
        time.sleep(interval)
    return time.monotonic() - start


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return None


def replace(path, data, owner=None):
    """Replaces path atomically (text or bytes)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = os.path.join(os.path.dirname(path), ".%s.new" % os.path.basename(path))
    with open(tmp, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    if owner:
        os.chown(tmp, owner.pw_uid, owner.pw_gid)
    os.rename(tmp, path)


def remove(path):
    if os.path.lexists(path):
        os.unlink(path)


def unit_property(unit, prop):
    return run(["systemctl", "show", "-p", prop, "--value", unit]).stdout.strip()


def exec_start():
    """The command lines systemd runs for systemd-suspend.service, as it has loaded them."""
    return re.findall(r"argv\[\]=(.*?) ;", unit_property(SUSPEND_UNIT, "ExecStart"))


def reloads():
    """daemon-reloads of this boot: systemd logs "Reloading." at each (src/core/main.c)."""
    out = run(["journalctl", "-b", "_PID=1", "-o", "cat", "--no-pager"]).stdout
    return sum(1 for line in out.splitlines() if line.strip() == "Reloading.")


def settled_reloads():
    """reloads() once the journal has caught up: the same count for 0.6 s (at most 5 s)."""
    count, since, start = reloads(), time.monotonic(), time.monotonic()
    while time.monotonic() - since < 0.6 and time.monotonic() - start < 5:
        time.sleep(0.15)
        now = reloads()
        if now != count:
            count, since = now, time.monotonic()
    return count


def journal_after(cursor, *matches):
    args = ["journalctl", "-o", "cat", "--no-pager"] + (["--after-cursor", cursor] if cursor else ["-b"])
    return run(args + list(matches)).stdout.splitlines()


def pid_of_executable(path, uid, exclude=()):
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            if int(entry) not in exclude and os.readlink("/proc/%s/exe" % entry) == path \
                    and os.stat("/proc/" + entry).st_uid == uid:
                return int(entry)
        except OSError:
            continue
    return None


class SleepSignals:
    """logind's PrepareForSleep signals as dbus-monitor sees them, in order."""

    def __init__(self, path):
        self.path, self.log = path, open(path, "w")
        self.proc = subprocess.Popen(
            ["dbus-monitor", "--system", "type='signal',interface='org.freedesktop.login1.Manager',"
             "member='PrepareForSleep'"], stdout=self.log, stderr=subprocess.STDOUT)
        # The monitor prints its own NameAcquired/NameLost once it listens.
        if wait_for(lambda: "NameLost" in (read(path) or ""), 10) is None:
            raise RuntimeError("dbus-monitor did not start: %s" % read(path))

    def events(self):
        found, pending = [], False
        for line in (read(self.path) or "").splitlines():
            if line.startswith("signal ") and "member=PrepareForSleep" in line:
                pending = True
            elif pending:
                m = re.match(r"\s+boolean (true|false)$", line)
                if m:
                    found.append(m.group(1) == "true")
                pending = False
        return found

    def close(self):
        self.proc.kill()
        self.proc.wait()
        self.log.close()


class Machine:
    def __init__(self, user, sleep_scratch):
        self.passed = self.failed = self.sessions = 0
        self.user = pwd.getpwnam(user)
        self.sleep_scratch = sleep_scratch
        self.settings_path = os.path.join(self.user.pw_dir, ".config/somnara/de.orvane.Somnara.plist")
        self.out = os.path.join(self.user.pw_dir, ".somnara-test")
        self.daemon = self.agent = None
        self.bus = dbus.SystemBus()
        self.logind = dbus.Interface(self.bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1"),
                                     "org.freedesktop.login1.Manager")
        self.signals = SleepSignals("/run/somnara-test/prepare-for-sleep.log")

    def check(self, name, ok, why=""):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        print(("ok   " + name) if ok else ("FAIL " + name + (": " + why if why else "")), flush=True)
        return ok

    @staticmethod
    def group(title):
        print("\n--- " + title, flush=True)

    def locks_of(self, pid, mode=None):
        """The logind locks process pid holds, as sorted "what/mode"."""
        return sorted("%s/%s" % (w, m) for what, _who, _why, m, _uid, p in self.logind.ListInhibitors()
                      if int(p) == pid and mode in (None, str(m)) for w in str(what).split(":"))

    def session_properties(self, pid):
        path = self.logind.GetSessionByPID(dbus.UInt32(pid))
        props = self.bus.get_object("org.freedesktop.login1", path).GetAll(
            "org.freedesktop.login1.Session", dbus_interface="org.freedesktop.DBus.Properties")
        return {"Active": bool(props["Active"]), "Seat": str(props["Seat"][0]), "Remote": bool(props["Remote"]),
                "Class": str(props["Class"]), "User": int(props["User"][0])}

    def set_battery(self, percent):
        """BAT0 discharging at percent, three minutes of running time per percent."""
        replace(BATTERY + "/capacity", "%d\n" % percent)
        replace(BATTERY + "/energy_now", "%d\n" % (percent * 500000))

    def write_settings(self, mode, level=20):
        data = plistlib.dumps({"somnaramodeindex": mode, "hibernatelevel": level, "enableinsomniaonlaunch": True})
        os.makedirs(os.path.dirname(self.settings_path), exist_ok=True)
        shutil.chown(os.path.dirname(self.settings_path), self.user.pw_uid, self.user.pw_gid)
        replace(self.settings_path, data, self.user)

    def suspend(self):
        """systemctl suspend and what came of it: (ok, what happened)."""
        seen = len(self.signals.events())
        found = re.findall(r"^-- cursor: (.*)$", run(["journalctl", "-n", "1", "--show-cursor", "-o", "cat",
                                                       "--no-pager"]).stdout, re.M)
        cursor = found[-1] if found else None
        start = time.monotonic()
        r = run(["systemctl", "suspend"])
        if r.returncode != 0:
            return False, "systemctl suspend exited %d: %s" % (r.returncode, r.stderr.strip())
        wait_for(lambda: len(self.signals.events()) >= seen + 2, 15)
        took = time.monotonic() - start
        events = self.signals.events()[seen:]
        wait_for(lambda: any(re.match(r"(Finished|Failed to start) systemd-suspend\.service", line)
                             for line in journal_after(cursor, "-u", SUSPEND_UNIT)), 10)
        lines = journal_after(cursor, "-u", SUSPEND_UNIT)
        result = unit_property(SUSPEND_UNIT, "Result")
        what = "PrepareForSleep %s, Result=%s, %.1f s; %s" % (
            ["true" if e else "false" for e in events], result, took, " | ".join(lines) or "no journal lines")
        return (events == [True, False] and result == "success" and took < PROMPT_SLEEP
                and any(line.startswith("Finished systemd-suspend.service") for line in lines)
                and "System returned from sleep state." in lines), what

    def check_suspends(self, name="systemctl suspend completes, systemd-suspend.service succeeds"):
        self.check(name, *self.suspend())

    def start_session(self):
        """A logind session of the test user on seat0 running session.sh; waits for both programs."""
        shutil.rmtree(self.out, ignore_errors=True)
        self.sessions += 1
        unit = "somnara-session-%d" % self.sessions
        r = run(["systemd-run", "--quiet", "--collect", "--unit", unit, "-p", "PAMName=login",
                 "--uid", self.user.pw_name,
                 "-p", "Environment=XDG_SEAT=seat0 XDG_SESSION_TYPE=tty XDG_SESSION_CLASS=user",
                 os.path.join(HERE, "session.sh")])
        if r.returncode != 0:
            raise RuntimeError("systemd-run: " + r.stderr)

        def pid(name):
            text = (read(os.path.join(self.out, name + ".pid")) or "").strip()
            return int(text) if text.isdigit() else None

        if wait_for(lambda: pid("daemon") and pid("agent"), 15) is None:
            raise RuntimeError("the session did not start its programs:\n"
                               + run(["journalctl", "-b", "-u", unit, "--no-pager"]).stdout)
        self.daemon, self.agent = pid("daemon"), pid("agent")

    def program_log(self, name):
        return read(os.path.join(self.out, name + ".log")) or ""

    # --- checks ---------------------------------------------------------------------------

    def check_sandbox(self):
        self.group("The container cannot touch the machine's power state")
        mounts = []
        for line in read("/proc/self/mountinfo").splitlines():
            fields = line.split()
            mounts.append((fields[4], fields[5].split(","), fields[fields.index("-") + 1]))
        sysfs = [(point, opts) for point, opts, fstype in mounts if fstype == "sysfs"]
        writable = [point for point, opts in sysfs if "ro" not in opts]
        self.check("every sysfs mount is read-only", sysfs and not writable,
                   "sysfs mounts %r, writable: %r" % ([p for p, _ in sysfs], writable))
        # Attributes root could write on a writable sysfs (the first 500): none
        # accepts a write here (open for writing fails before anything is written).
        def writable_looking():
            for top in ("/sys/kernel", "/sys/module", "/sys/devices/system", "/sys/block"):
                for base, _dirs, files in os.walk(top):
                    for path in (os.path.join(base, name) for name in files):
                        with contextlib.suppress(OSError):
                            if os.stat(path).st_mode & 0o200:
                                yield path

        def accepts_write(path):
            try:
                os.close(os.open(path, os.O_WRONLY))
                return True
            except OSError:
                return False

        candidates = list(itertools.islice(writable_looking(), 500))
        accepted = [path for path in candidates if accepts_write(path)]
        self.check("writes to real sysfs attributes are refused (%d tried)" % len(candidates),
                   candidates and not accepted, "accepted: %r" % accepted[:5])
        fakes = {point: fstype for point, _opts, fstype in mounts
                 if point in ("/sys/power", "/sys/class/power_supply", self.sleep_scratch)}
        self.check("/sys/power and /sys/class/power_supply are fakes, not sysfs",
                   set(fakes) == {"/sys/power", "/sys/class/power_supply", self.sleep_scratch}
                   and "sysfs" not in fakes.values(), repr(fakes))
        binds = unit_property(SUSPEND_UNIT, "BindPaths")
        self.check("systemd-suspend.service sees the scratch copies at /sys/power",
                   binds.startswith(self.sleep_scratch + ":/sys/power"), binds)
        found = {verb: str(getattr(self.logind, "Can" + verb)()) for verb in ("Suspend", "Hibernate", "HybridSleep")}
        self.check("logind: suspend yes, hibernation na (no swap)",
                   found == {"Suspend": "yes", "Hibernate": "na", "HybridSleep": "na"}, repr(found))

    def check_power_tool(self):
        self.group("A stale persistent drop-in where the machine cannot hibernate")
        # An older version's drop-in; pmset rewrites it with the fallback to suspend; then a boot clears /run.
        replace(PERSISTENT_DROPIN, STALE_DROPIN)
        run(["systemctl", "daemon-reload"])
        r = run([PMSET, "force", "hibernatemode", "0"])
        remove(RUNTIME_DROPIN)
        run(["systemctl", "daemon-reload"])
        ok, what = self.suspend()
        self.check("with only the rewritten persistent drop-in, systemctl suspend completes",
                   r.returncode == 0 and read(PERSISTENT_DROPIN) == CURRENT_HIBERNATE_DROPIN and ok
                   and exec_start() == FALLBACK_EXEC_START,
                   "pmset status %d %s; drop-in %r; ExecStart %r; %s" % (
                       r.returncode, r.stderr.strip(), read(PERSISTENT_DROPIN), exec_start(), what))

    def check_session_start(self):
        self.group("A login session runs the daemon and the agent")
        for path in (RUNTIME_DROPIN, MODE_FILE):  # fresh from a boot: nothing in /run yet
            remove(path)
        run(["systemctl", "daemon-reload"])
        self.set_battery(80)
        self.write_settings(2)
        before = settled_reloads()
        self.start_session()
        applied = wait_for(lambda: read(MODE_FILE) is not None, 10)
        time.sleep(max(0.0, APPLY_WINDOW - (applied or 0)))
        count = settled_reloads() - before
        self.check("the daemon's first application: one daemon-reload, plain suspend",
                   applied is not None and count == 1 and exec_start() == PLAIN_SUSPEND,
                   "mode file %r, reloads %d, ExecStart %r\n%s" % (read(MODE_FILE), count, exec_start(),
                                                                   self.program_log("daemon")[-1500:]))
        props = self.session_properties(self.daemon)
        programs = [os.readlink("/proc/%d/exe" % pid) for pid in (self.daemon, self.agent)]
        self.check("the installed programs run in an active local session on seat0",
                   props == {"Active": True, "Seat": "seat0", "Remote": False, "Class": "user",
                             "User": self.user.pw_uid}
                   and programs == [DAEMON, AGENT] and self.session_properties(self.agent) == props,
                   "%r, %r" % (props, programs))
        self.check("the daemon holds a sleep delay lock",
                   wait_for(lambda: "sleep/delay" in self.locks_of(self.daemon), 5) is not None,
                   repr(self.locks_of(self.daemon)))
        wanted = ["handle-lid-switch/block", "idle/block"]
        self.check("in the session the agent holds the idle and lid-switch block locks (Insomnia on launch)",
                   wait_for(lambda: self.locks_of(self.agent, "block") == wanted, 10) is not None,
                   "%r\n%s" % (self.locks_of(self.agent), self.program_log("agent")))
        self.check("in the session polkit grants a handle-lid-switch lock",
                   (read(os.path.join(self.out, "lid-probe.status")) or "").strip() == "0",
                   read(os.path.join(self.out, "lid-probe.log")) or "no probe result")
        r = run([PMSET, "-g"])
        lines = r.stdout.splitlines()
        self.check("pmset -g: the mode, the drop-in in step, then what the machine can do",
                   r.returncode == 0 and len(lines) == 5 and re.fullmatch(r"hibernatemode \d+", lines[0]) is not None
                   and lines[1:] == ["drop-in: in step", "suspend: yes", "hibernate: no (no swap space)",
                                     "hybrid-sleep: no (no swap space)"],
                   "status %d, output %r" % (r.returncode, r.stdout))

    def check_wake(self):
        self.group("Sleep and wake with the daemon running")
        self.check("systemctl suspend completes: PrepareForSleep true then false, the daemon's delay lock let go",
                   *self.suspend())
        scratch_state = read(os.path.join(self.sleep_scratch, "state"))
        self.check("systemd-sleep wrote its state into the scratch copy, the fake /sys/power is unchanged",
                   (scratch_state or "").strip() == "mem" and read("/sys/power/state") == "freeze mem disk\n",
                   "scratch %r, /sys/power/state %r" % (scratch_state, read("/sys/power/state")))
        time.sleep(APPLY_WINDOW)  # the daemon's application after the wake is over

    def apply(self, mode, battery=None, level=20):
        """Writes the settings; the daemon's daemon-reloads and whether it changed anything."""
        files = (read(MODE_FILE), read(RUNTIME_DROPIN))
        before = settled_reloads()
        if battery is not None:
            self.set_battery(battery)
        self.write_settings(mode, level=level)
        time.sleep(APPLY_WINDOW)
        return settled_reloads() - before, (read(MODE_FILE), read(RUNTIME_DROPIN)) != files

    def check_mode(self, title, mode, battery=None, level=20):
        self.group(title)
        count, changed = self.apply(mode, battery, level)
        self.check("systemd-suspend.service runs plain systemd-sleep suspend",
                   exec_start() == PLAIN_SUSPEND and unit_property(SUSPEND_UNIT, "NeedDaemonReload") == "no",
                   "ExecStart %r (mode file %r)" % (exec_start(), read(MODE_FILE)))
        self.check("%s daemon-reload for the %s" % (("one", "change") if changed else ("no", "unchanged outcome")),
                   count == (1 if changed else 0), "%d reloads" % count)
        self.check_suspends()

    def check_journal(self):
        self.group("The programs' journal lines")
        for name, pid in (("daemon", self.daemon), ("agent", self.agent)):
            lines = []
            for text in run(["journalctl", "-b", "-o", "json", "--no-pager", "_PID=%d" % pid]).stdout.splitlines():
                entry = json.loads(text)
                if entry.get("_TRANSPORT") == "stdout":
                    continue
                message = entry.get("MESSAGE", "")
                if isinstance(message, list):
                    message = bytes(message).decode(errors="replace")
                # As journalctl shows it: identifier[pid]: message
                lines.append("%s[%s]: %s" % (entry.get("SYSLOG_IDENTIFIER", entry.get("_COMM", "")),
                                             entry.get("SYSLOG_PID", entry.get("_PID")), message))
            doubled = [line for line in lines if line.count("[%d]:" % pid) != 1
                       or "somnara" not in line.split("[%d]:" % pid)[0].lower()]
            # The agent logs "Insomnia on launch is set" at least.
            self.check("%s: program name and pid once per line (%d lines)" % (name, len(lines)),
                       (lines or name == "daemon") and not doubled,
                       "e.g. %r" % (doubled or lines or ["no lines"])[0])

    def check_kill(self):
        self.group("SIGKILL leaves no lock")
        for pid in (self.daemon, self.agent):
            os.kill(pid, signal.SIGKILL)
        self.check("no logind lock of the killed daemon or agent",
                   wait_for(lambda: not self.locks_of(self.daemon) and not self.locks_of(self.agent), 5) is not None,
                   "daemon %r, agent %r" % (self.locks_of(self.daemon), self.locks_of(self.agent)))

    def check_outside_session(self):
        self.group("Outside a login session")
        r = run(["systemd-run", "--quiet", "--wait", "--pipe", "--collect", "--uid", self.user.pw_name,
                 "-p", "StandardInput=null", "systemd-inhibit", "--what=handle-lid-switch", "--mode=block",
                 "--who=somnara test", "--why=lock probe", "true"])
        self.check("polkit refuses the test user a handle-lid-switch lock",
                   r.returncode not in (0, 124) and "Access denied" in r.stderr + r.stdout,
                   "status %d: %s" % (r.returncode, (r.stderr + r.stdout).strip()))
        unit = "somnara-outside-agent"
        self.set_battery(80)  # above Insomnia's battery floor, which the adaptive checks went below
        self.write_settings(2)  # Insomnia on launch
        run(["systemd-run", "--quiet", "--collect", "--unit", unit, "--uid", self.user.pw_name,
             "-p", "Environment=QT_QPA_PLATFORM=offscreen", "--", "dbus-run-session", "--", AGENT])
        try:
            pid = None

            def started():
                nonlocal pid
                pid = pid_of_executable(AGENT, self.user.pw_uid, exclude=(self.agent,))
                return pid is not None and "idle/block" in self.locks_of(pid)

            up = wait_for(started, 10)
            time.sleep(1.5)  # a lid lock taken later would show by now
            self.check("outside a session the agent gets its idle lock (polkit allows it to anyone), "
                       "not the lid-switch lock",
                       up is not None and self.locks_of(pid, "block") == ["idle/block"],
                       "%r\n%s" % (self.locks_of(pid) if pid else "no agent",
                                   run(["journalctl", "-b", "-u", unit, "-o", "cat", "--no-pager"]).stdout))
        finally:
            run(["systemctl", "stop", unit])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--user", required=True)
    parser.add_argument("--sleep-scratch", required=True)
    args = parser.parse_args()
    machine = Machine(args.user, args.sleep_scratch)
    try:
        machine.check_sandbox()
        machine.check_power_tool()
        machine.check_session_start()
        machine.check_wake()
        machine.check_mode("Mode 4: sleep and hibernate", 4)
        machine.check_mode("Mode 3: hibernate", 3)
        machine.check_mode("Mode 1: adaptive, battery at 80 %", 1, battery=80)
        # A real battery's changes come as uevents, which the fake one has
        # none of: a new hibernate level makes the daemon read the charge.
        machine.check_mode("Mode 1: adaptive, battery at 3 %", 1, battery=3, level=25)
        machine.check_mode("Mode 0: system default", 0)
        machine.check_journal()
        machine.check("the daemon and the agent are still running",
                      all(os.path.exists("/proc/%d" % p) for p in (machine.daemon, machine.agent)),
                      "daemon:\n%s\nagent:\n%s" % (machine.program_log("daemon")[-2000:],
                                                   machine.program_log("agent")[-2000:]))
        machine.check_kill()
        machine.check_outside_session()
    except Exception as e:  # an error in the checks themselves ends them as a failure
        machine.check("the checks ran to the end", False, "%s: %s" % (type(e).__name__, e))
    finally:
        machine.signals.close()
    print("\n%d passed, %d failed" % (machine.passed, machine.failed))
    sys.exit(1 if machine.failed else 0)


if __name__ == "__main__":
    main()
