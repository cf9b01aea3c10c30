"""Shared pieces of the black-box tests: private buses, waiting, stopping,
atomic file replacement. Imported by the tests in the directories below."""

import os
import plistlib
import re
import signal
import subprocess
import sys
import time
import unittest

import dbus
import dbus.bus

MOCKS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mocks")


def wait_for(predicate, timeout=3.0):
    """Seconds until predicate() held, or None when it did not within timeout."""
    start = time.monotonic()
    while not predicate():
        if time.monotonic() - start > timeout:
            return None
        time.sleep(0.01)
    return time.monotonic() - start


def stop(proc, sig=signal.SIGKILL):
    if proc.poll() is None:
        proc.send_signal(sig)
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class ProgramLogs:
    """For a unittest.TestCase that sets self.tmp and self.procs: programs
    started with their output in <tmp>/<name>.log, stopped newest first."""

    def launch(self, name, argv, env, pipe=False):
        """pipe: stdin and stdout are text pipes and only stderr goes to the log."""
        log = open(os.path.join(self.tmp, name + ".log"), "w+")
        self.addCleanup(log.close)
        if pipe:
            proc = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                    stderr=log, text=True)
        else:
            proc = subprocess.Popen(argv, env=env, stdout=log, stderr=subprocess.STDOUT)
        proc.log = log
        self.procs.append(proc)
        return proc

    def log_of(self, proc):
        # Opened afresh: seeking the program's own file would move its writes too.
        with open(proc.log.name) as f:
            return f.read()

    def stop_all(self):
        for proc in reversed(self.procs):
            stop(proc)


def replace(path, data):
    """Replaces path atomically with data (bytes, or a dict stored as a plist)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".new", "wb") as f:
        f.write(data if isinstance(data, bytes) else plistlib.dumps(data))
    os.rename(path + ".new", path)


def hibernate_mode(root):
    """The hibernate mode applied under machine root, or None while it is unreadable."""
    try:
        with open(os.path.join(root, "run/somnara/hibernatemode")) as f:
            return int(f.read())
    except (OSError, ValueError):
        return None


def pids_running(executable):
    """Live processes running executable, by their /proc entry. Zombies are
    left out, and so is a child forked to start another program that has yet
    to call exec (its parent runs the same executable)."""
    parents = {}  # pid -> parent pid
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.readlink("/proc/%s/exe" % entry) != executable:
                continue
            with open("/proc/%s/stat" % entry) as f:
                state, parent = f.read().rsplit(") ", 1)[-1].split()[:2]
        except OSError:
            continue
        if state != "Z":
            parents[int(entry)] = int(parent)
    return sorted(pid for pid, parent in parents.items() if parent not in parents)


def resident_kib(pid):
    """VmRSS of pid in KiB."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise ValueError("no VmRSS for pid %d" % pid)


def open_descriptor_targets(pid):
    """What each open descriptor of pid refers to ("socket:[123]", a path, ...), sorted."""
    targets = []
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            targets.append(os.readlink("/proc/%d/fd/%s" % (pid, fd)))
        except OSError:
            pass  # closed meanwhile
    return sorted(targets)


class Xvfb:
    """A virtual X server on a free display, of the given size; extra: more Xvfb options."""

    def __init__(self, size="800x600x24", extra=()):
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", size, *extra],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.display = ":" + self.proc.stdout.readline().strip()

    def close(self):
        stop(self.proc, signal.SIGTERM)
        self.proc.stdout.close()


class PrivateBus:
    """A dbus-daemon of its own; 'session' configuration serves as either bus."""

    def __init__(self):
        self.proc = subprocess.Popen(["dbus-daemon", "--session", "--print-address", "--nofork"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.address = self.proc.stdout.readline().strip()
        self.connection = dbus.bus.BusConnection(self.address)

    def close(self):
        if self.proc.poll() is None:
            self.connection.close()
            stop(self.proc, signal.SIGTERM)
            self.proc.stdout.close()

    def start_mock(self, name, template, env, parameters=None):
        """python-dbusmock with template (stock name or a file in mocks/) owning name; its process."""
        path = os.path.join(MOCKS, template + ".py")
        args = ["/usr/bin/python3", "-m", "dbusmock", "--template", path if os.path.exists(path) else template]
        if parameters:
            args += ["--parameters", parameters]
        proc = subprocess.Popen(args, env=dict(env, DBUS_SESSION_BUS_ADDRESS=self.address,
                                               DBUS_SYSTEM_BUS_ADDRESS=self.address),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if wait_for(lambda: self.connection.name_has_owner(name), timeout=15) is None:
            stop(proc)
            raise RuntimeError("mock %s did not come up" % name)
        return proc

    def call(self, name, path, interface, method, *args):
        return getattr(self.connection.get_object(name, path), method)(*args, dbus_interface=interface)


LOGIND = ("org.freedesktop.login1", "/org/freedesktop/login1")
WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
PROPERTIES = "org.freedesktop.DBus.Properties"
DBUSMENU = "com.canonical.dbusmenu"
STATUS_LINE = re.compile(r"^Machine will (.+) on sleep$")


def logind_inhibitors(bus, mode="block"):
    """The logind mock's locks of that mode (all modes for None) as sorted "what/mode"."""
    return sorted("%s/%s" % (what, m) for what, _, _, m, _, _ in
                  bus.call(LOGIND[0], LOGIND[1], "org.freedesktop.login1.Manager", "ListInhibitors")
                  if mode in (None, m))


class TrayItems:
    """The StatusNotifierItems registered with the watcher on bus, their
    properties and their dbusmenu menus."""

    def __init__(self, bus):
        self.bus = bus

    def services(self):
        """The bus names of the registered items."""
        registered = self.bus.call(WATCHER[0], WATCHER[1], PROPERTIES, "Get", WATCHER[0],
                                   "RegisteredStatusNotifierItems")
        return [str(item).split("/")[0] for item in registered]

    def property(self, service, name):
        return self.bus.call(service, "/StatusNotifierItem", PROPERTIES, "Get", "org.kde.StatusNotifierItem", name)

    def menu(self, service):
        """The menu as [(id, label, enabled)] in order, from dbusmenu's GetLayout."""
        path = self.property(service, "Menu")
        _, layout = self.bus.call(service, path, DBUSMENU, "GetLayout", 0, -1,
                                  dbus.Array([], "s"))
        entries = []

        def walk(node):
            ident, props, children = node
            if ident != 0 and props.get("type", "") != "separator":
                entries.append((int(ident), str(props.get("label", "")).replace("_", ""),
                                bool(props.get("enabled", True))))
            for child in children:
                walk(child)
        walk(layout)
        return entries

    def entry(self, service, pattern):
        """The first entry whose label matches pattern, or None."""
        return next((e for e in self.menu(service) if re.match(pattern, e[1])), None)

    def click(self, service, ident):
        self.bus.call(service, self.property(service, "Menu"), DBUSMENU, "Event", ident,
                      "clicked", dbus.String("", variant_level=1), dbus.UInt32(0))


def main_in_own_pid_namespace(run=unittest.main):
    """Runs run() (unittest.main() unless told) in a PID namespace of its own
    where unshare allows it: a new agent or daemon ends every other instance
    of itself it finds in /proc, the machine's own included."""
    unshare = ["unshare", "--pid", "--fork", "--mount-proc"]
    if os.geteuid() == 0 and not os.environ.get("SOMNARA_TEST_PID_NAMESPACE") and \
            subprocess.run(unshare + ["true"], stderr=subprocess.DEVNULL).returncode == 0:
        os.environ["SOMNARA_TEST_PID_NAMESPACE"] = "1"
        os.execvp(unshare[0], unshare + [sys.executable] + sys.argv)
    run()
