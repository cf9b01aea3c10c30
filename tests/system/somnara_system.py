"""The fake laptop every black-box suite runs the programs on (machine root,
private buses, D-Bus stand-ins, XDG directories, a display), and what the
suites read from it: the applied mode, logind's locks, the tray item, /proc."""

import contextlib
import os
import plistlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import dbus
import dbus.bus

MOCKS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mocks")
FAKE_LAPTOP = os.environ.get("SOMNARA_FAKE_LAPTOP", "")
SAVED_DEFAULT = 25  # the machine's saved hibernate mode; no policy state maps to it
SESSION_ID = "c7"
ADAPTIVE = {"somnaramodeindex": 1}
LOGIND = ("org.freedesktop.login1", "/org/freedesktop/login1")
WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
NOTIFICATIONS = ("org.freedesktop.Notifications", "/org/freedesktop/Notifications")
MOCK = "org.freedesktop.DBus.Mock"
PROPERTIES = "org.freedesktop.DBus.Properties"
DBUSMENU = "com.canonical.dbusmenu"
STATUS_LINE = re.compile(r"^Machine will (.+) on sleep$")


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


def replace(path, data):
    """Replaces path atomically with data (bytes, or a dict stored as a plist)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".new", "wb") as f:
        f.write(data if isinstance(data, bytes) else plistlib.dumps(data))
    os.rename(path + ".new", path)


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return None


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
        proc = subprocess.Popen(args + (["--parameters", parameters] if parameters else []),
                                env=dict(env, DBUS_SESSION_BUS_ADDRESS=self.address,
                                         DBUS_SYSTEM_BUS_ADDRESS=self.address),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if wait_for(lambda: self.connection.name_has_owner(name), timeout=15) is None:
            stop(proc)
            raise RuntimeError("mock %s did not come up" % name)
        return proc

    def call(self, name, path, interface, method, *args):
        return getattr(self.connection.get_object(name, path), method)(*args, dbus_interface=interface)


class FakeLaptop:
    """In a temporary directory: a machine root from scripts/fake-laptop.sh on
    battery at 50 % with the saved mode in force, private session and system
    buses, XDG directories, and env leading programs there. display: "x" (Xvfb
    of x_size with x_extra options), "offscreen" or None. tmpfs: a file system
    only this mount namespace sees. unlimited_changes: each change refills the
    power tool's budget (five at once, then one a second). close() stops all."""

    def __init__(self, settings=ADAPTIVE, display="x", x_size="800x600x24", x_extra=(), tmpfs=False,
                 unlimited_changes=False, prefix="somnara-test-"):
        if not os.path.isfile(FAKE_LAPTOP):
            raise RuntimeError("SOMNARA_FAKE_LAPTOP names no file; run through ctest")
        with contextlib.ExitStack() as self.cleanup:  # undone at once where setting up fails
            self.tmp = tempfile.mkdtemp(prefix=prefix)
            self.cleanup.callback(shutil.rmtree, self.tmp, True)
            if tmpfs:
                subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1g,mode=700", "somnara-test", self.tmp], check=True)
                self.cleanup.callback(subprocess.run, ["umount", "-l", self.tmp])
            self.root = os.path.join(self.tmp, "root")
            self.settings_path = os.path.join(self.tmp, "config/somnara/de.orvane.Somnara.plist")
            self.unlimited_changes = unlimited_changes
            self.fake_laptop("init", SAVED_DEFAULT)
            self.write_mode(SAVED_DEFAULT)
            self.set_battery(50)
            if settings is not None:
                self.write_settings(settings)
            self.session_bus, self.system_bus = PrivateBus(), PrivateBus()
            self.cleanup.callback(self.system_bus.close)
            self.cleanup.callback(self.session_bus.close)
            self.env = dict(os.environ, SOMNARA_ROOT=self.root, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                            XDG_STATE_HOME=os.path.join(self.tmp, "state"), XDG_SESSION_ID=SESSION_ID,
                            XDG_RUNTIME_DIR=self.tmp, DBUS_SESSION_BUS_ADDRESS=self.session_bus.address,
                            DBUS_SYSTEM_BUS_ADDRESS=self.system_bus.address)
            for name in ("XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "WAYLAND_DISPLAY", "DISPLAY", "BROWSER"):
                self.env.pop(name, None)
            if display == "x":
                self.xvfb = Xvfb(x_size, x_extra)
                self.cleanup.callback(self.xvfb.close)
                self.env.update(DISPLAY=self.xvfb.display, QT_QPA_PLATFORM="xcb")
            elif display:
                self.env["QT_QPA_PLATFORM"] = display
            self.procs = []
            self.cleanup.callback(self.stop_all)
            self.tray = TrayItems(self.session_bus)
            self.cleanup = self.cleanup.pop_all()

    def close(self):
        self.cleanup.close()

    def fake_laptop(self, *args):
        subprocess.run([FAKE_LAPTOP, args[0], self.root, *map(str, args[1:])], check=True)

    def refill_change_budget(self):
        if self.unlimited_changes:
            with contextlib.suppress(FileNotFoundError):
                os.remove(os.path.join(self.root, "run/somnara/changes"))

    def set_battery(self, percent):
        self.refill_change_budget()
        self.fake_laptop("set", percent)

    def write_settings(self, data):
        """Settings (a dict, or bytes as they are) replaced atomically, as a preferences program stores them."""
        self.refill_change_budget()
        replace(self.settings_path, data)

    def write_mode(self, value):
        """Someone else changes the active mode behind the daemon's back."""
        self.refill_change_budget()
        replace(os.path.join(self.root, "run/somnara/hibernatemode"), b"%d\n" % value)

    def mode(self):
        """The hibernate mode in force, or None while it is unreadable."""
        try:
            return int(read(os.path.join(self.root, "run/somnara/hibernatemode")))
        except (TypeError, ValueError):
            return None

    def launch(self, name, argv, env=None, pipe=False):
        """A program with its output in <tmp>/<name>.log; pipe: stdin and
        stdout are text pipes and only stderr goes to the log."""
        log = open(os.path.join(self.tmp, name + ".log"), "w+")
        self.cleanup.callback(log.close)
        out = dict(stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log, text=True) if pipe else \
            dict(stdout=log, stderr=subprocess.STDOUT)
        proc = subprocess.Popen(argv, env=env or self.env, **out)
        proc.log = log
        self.procs.append(proc)
        return proc

    def stop_all(self):
        for proc in reversed(self.procs):
            stop(proc)
            for pipe in (proc.stdin, proc.stdout):
                if pipe:
                    pipe.close()

    def mock(self, bus, name, template, parameters=None):
        proc = bus.start_mock(name, template, self.env, parameters)
        self.procs.append(proc)
        return proc

    def start_logind(self, parameters=None):
        """The logind stand-in with this user's active session; its process."""
        proc = self.mock(self.system_bus, LOGIND[0], "somnara_logind", parameters)
        self.logind("AddSession", SESSION_ID, "seat0", dbus.UInt32(os.geteuid()), "tester", True, interface=MOCK)
        return proc

    def start_services(self, logind=True, upower=True, screensaver=True, watcher=True, logind_parameters=None):
        if logind:
            self.start_logind(logind_parameters)
        if upower:
            self.mock(self.system_bus, "org.freedesktop.UPower", "upower",
                      '{"LidIsPresent": true, "LidIsClosed": false}')
        if screensaver:
            self.mock(self.session_bus, "org.freedesktop.ScreenSaver", "freedesktop_screensaver")
        if watcher:
            self.mock(self.session_bus, WATCHER[0], "status_notifier_watcher")

    def logind(self, method, *args, interface="org.freedesktop.login1.Manager", path=""):
        return self.system_bus.call(LOGIND[0], LOGIND[1] + path, interface, method, *args)

    def inhibitors(self, mode="block"):
        """The logind stand-in's locks of that mode (all modes for None) as sorted "what/mode"."""
        return sorted("%s/%s" % (what, m) for what, _, _, m, _, _ in self.logind("ListInhibitors")
                      if mode in (None, m))


def log_of(proc):
    # Opened afresh: seeking the program's own file would move its writes too.
    return read(proc.log.name) or ""


class LaptopTest(unittest.TestCase):
    """A test on a FakeLaptop with LAPTOP's options; root only (the helper runs the power tool only for root)."""
    LAPTOP = {}

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("the daemon's helper only runs the power tool for root here")
        self.laptop = FakeLaptop(**self.LAPTOP)
        self.addCleanup(lambda: self.laptop.close())  # the laptop a test has at its end

    def assertAlive(self, proc):
        self.assertIsNone(proc.poll(), "ended with %s:\n%s" % (proc.returncode, log_of(proc)))

    def assertEnds(self, proc, status=0, sig=None, timeout=5):
        if sig:
            proc.send_signal(sig)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail("still running after %s s:\n%s" % (timeout, log_of(proc)))
        self.assertEqual(proc.returncode, status, log_of(proc))

    def assertWithin(self, timeout, predicate, *why):
        """predicate() holds within timeout seconds; why: the failure message's parts (callables are called)."""
        took = wait_for(predicate, timeout)
        if took is None:
            self.fail("\n".join(str(w() if callable(w) else w) for w in why) or "condition never held")
        return took


class TrayItems:
    """The StatusNotifierItems registered with the watcher on bus, their
    properties and their dbusmenu menus."""

    def __init__(self, bus):
        self.bus = bus

    def services(self):
        """The bus names of the registered items; none while no watcher runs."""
        try:
            registered = self.bus.call(WATCHER[0], WATCHER[1], PROPERTIES, "Get", WATCHER[0],
                                       "RegisteredStatusNotifierItems")
        except dbus.exceptions.DBusException:
            return []
        return [str(item).split("/")[0] for item in registered]

    def property(self, service, name):
        return self.bus.call(service, "/StatusNotifierItem", PROPERTIES, "Get", "org.kde.StatusNotifierItem", name)

    def layout(self, service, parent=0, depth=-1):
        return self.bus.call(service, self.property(service, "Menu"), DBUSMENU, "GetLayout", parent, depth,
                             dbus.Array([], "s"))[1]

    def menu(self, service, depth=-1):
        """The menu as [(id, label, enabled)] in order, separators left out; depth 1: no submenu's items."""
        entries = []

        def walk(node, level):
            ident, props, children = node
            if ident != 0 and props.get("type", "") != "separator":
                entries.append((int(ident), str(props.get("label", "")).replace("_", ""),
                                bool(props.get("enabled", True))))
            if depth < 0 or level < depth:
                for child in children:
                    walk(child, level + 1)
        walk(self.layout(service, 0, depth), 0)
        return entries

    def entry(self, service, pattern):
        """The first entry whose label matches pattern, or None."""
        return next((e for e in self.menu(service) if re.match(pattern, e[1])), None)

    def submenu(self, service, title):
        """The labels under the submenu titled title, read as a panel does on opening it; None without it."""
        for ident, label, _ in self.menu(service, 1):
            if label == title:
                self.event(service, ident, "opened", about_to_show=True)
                return [str(child[1].get("label", "")) for child in self.layout(service, ident)[2]]
        return None

    def event(self, service, ident, name, about_to_show=False):
        path = self.property(service, "Menu")
        if about_to_show:
            self.bus.call(service, path, DBUSMENU, "AboutToShow", ident)
        self.bus.call(service, path, DBUSMENU, "Event", ident, name, dbus.String("", variant_level=1),
                      dbus.UInt32(0))

    def click(self, service, pattern):
        found = self.entry(service, pattern)
        if found is None:
            raise AssertionError("no menu item %r in %r" % (pattern, self.menu(service)))
        self.event(service, found[0], "clicked")


def pids_running(executable):
    """Live processes running executable, by their /proc entry. Zombies are
    left out, and so is a child forked to start another program that has yet
    to call exec (its parent runs the same executable)."""
    parents = {}  # pid -> parent pid
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/exe" % entry) != executable:
                continue
            state, parent = read("/proc/%s/stat" % entry).rsplit(") ", 1)[-1].split()[:2]
        except (OSError, AttributeError):
            continue
        if state != "Z":
            parents[int(entry)] = int(parent)
    return sorted(pid for pid, parent in parents.items() if parent not in parents)


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
