#!/usr/bin/python3
"""The tray agent as a black box: the built bundle under Xvfb (Qt's xcb
platform, whose tray speaks StatusNotifierItem and dbusmenu where a watcher
runs), a private session bus with a StatusNotifierWatcher and a screen saver
stand-in, a private system bus with python-dbusmock's logind and UPower, and
the real daemon on a fake laptop. Run through ctest, which sets SOMNARA_AGENT,
SOMNARA_DAEMON and SOMNARA_FAKE_LAPTOP."""

import os
import plistlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import dbus

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import (DBUSMENU, LOGIND, STATUS_LINE, WATCHER, PrivateBus, ProgramLogs, TrayItems, Xvfb,  # noqa: E402
                            hibernate_mode, logind_inhibitors, main_in_own_pid_namespace, replace, stop, wait_for)

AGENT = os.environ.get("SOMNARA_AGENT", "")
PREFERENCES = os.environ.get("SOMNARA_PREFERENCES", "")
DAEMON = os.environ.get("SOMNARA_DAEMON", "")
FAKE_LAPTOP = os.environ.get("SOMNARA_FAKE_LAPTOP", "")

SESSION_ID = "c7"
NOTIFICATIONS = ("org.freedesktop.Notifications", "/org/freedesktop/Notifications")
MOCK = "org.freedesktop.DBus.Mock"
ADAPTIVE = {"somnaramodeindex": 1}


class AgentTest(ProgramLogs, unittest.TestCase):
    """One fake laptop, its buses and services; start() runs programs on it."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("the helper only runs the power tool for root here")
        for path in (AGENT, DAEMON, FAKE_LAPTOP):
            self.assertTrue(os.path.isfile(path), "missing program %r; run through ctest" % path)
        self.tmp = tempfile.mkdtemp(prefix="somnara-agent-test-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.root = os.path.join(self.tmp, "root")
        subprocess.run([FAKE_LAPTOP, "init", self.root, "25"], check=True)
        replace(os.path.join(self.root, "run/somnara/hibernatemode"), b"25\n")
        self.set_battery(50)
        self.write_settings(ADAPTIVE)
        self.procs = []
        self.addCleanup(self.stop_all)
        self.session_bus, self.system_bus = PrivateBus(), PrivateBus()
        self.addCleanup(self.session_bus.close)
        self.addCleanup(self.system_bus.close)
        self.env = dict(os.environ, SOMNARA_ROOT=self.root, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                        XDG_STATE_HOME=os.path.join(self.tmp, "state"), XDG_SESSION_ID=SESSION_ID,
                        XDG_RUNTIME_DIR=self.tmp, DBUS_SESSION_BUS_ADDRESS=self.session_bus.address,
                        DBUS_SYSTEM_BUS_ADDRESS=self.system_bus.address)
        for name in ("XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "WAYLAND_DISPLAY", "DISPLAY"):
            self.env.pop(name, None)
        self.env.update(self.start_display())

    def start_display(self):
        """The graphical session the programs run in: the variables that lead them to it."""
        self.xvfb = Xvfb()
        self.addCleanup(self.xvfb.close)
        return dict(DISPLAY=self.xvfb.display, QT_QPA_PLATFORM="xcb")

    # --- services -------------------------------------------------------------------------

    def start_services(self, logind=True, upower=True, watcher=True, screensaver=True, logind_parameters=None):
        if logind:
            self.mock(self.system_bus, LOGIND[0], "somnara_logind", logind_parameters)
            self.logind("AddSession", SESSION_ID, "seat0", dbus.UInt32(os.geteuid()), "tester", True,
                        interface=MOCK)
        if upower:
            self.mock(self.system_bus, "org.freedesktop.UPower", "upower",
                      '{"LidIsPresent": true, "LidIsClosed": false}')
        if screensaver:
            self.mock(self.session_bus, "org.freedesktop.ScreenSaver", "freedesktop_screensaver")
        if watcher:
            self.start_watcher()

    def start_watcher(self):
        self.mock(self.session_bus, WATCHER[0], "status_notifier_watcher")

    def mock(self, bus, name, template, parameters=None):
        self.procs.append(bus.start_mock(name, template, self.env, parameters))

    def logind(self, method, *args, interface="org.freedesktop.login1.Manager"):
        return self.system_bus.call(LOGIND[0], LOGIND[1], interface, method, *args)

    def inhibitors(self, mode="block"):
        return logind_inhibitors(self.system_bus, mode)

    # --- the machine ----------------------------------------------------------------------

    def set_battery(self, percent):
        subprocess.run([FAKE_LAPTOP, "set", self.root, str(percent)], check=True)

    def write_settings(self, settings):
        replace(os.path.join(self.tmp, "config/somnara/de.orvane.Somnara.plist"), settings)

    def mode(self):
        return hibernate_mode(self.root)

    def sleep_requests(self):
        try:
            with open(os.path.join(self.root, "run/somnara/sleep-requests")) as f:
                return f.read().split("\n")[:-1]
        except OSError:
            return []

    # --- programs -------------------------------------------------------------------------

    def start(self, name, argv, env=None):
        return self.launch(name, argv, env or self.env)

    def start_daemon(self, mode):
        daemon = self.start("daemon", [DAEMON])
        self.assertIsNotNone(wait_for(lambda: self.mode() == mode, 5), "daemon never applied %d:\n%s"
                             % (mode, self.log_of(daemon)))
        return daemon

    def assertAlive(self, proc):
        self.assertIsNone(proc.poll(), "ended with %s:\n%s" % (proc.returncode, self.log_of(proc)))

    # --- the tray item over D-Bus ---------------------------------------------------------

    def items(self):
        return TrayItems(self.session_bus).services()

    def wait_item(self, agent, timeout=10):
        took = wait_for(lambda: self.items(), timeout)
        self.assertIsNotNone(took, "no StatusNotifierItem registered:\n%s" % self.log_of(agent))
        return self.items()[0]

    def item(self, service, name):
        return TrayItems(self.session_bus).property(service, name)

    def menu(self, service):
        return TrayItems(self.session_bus).menu(service)

    def has_entry(self, service, pattern):
        return TrayItems(self.session_bus).entry(service, pattern) is not None

    def entry(self, service, pattern):
        found = TrayItems(self.session_bus).entry(service, pattern)
        if found is None:
            self.fail("no menu item %r in %r" % (pattern, self.menu(service)))
        return found

    def click(self, service, pattern):
        TrayItems(self.session_bus).click(service, self.entry(service, pattern)[0])

    def submenu(self, service, title):
        """The labels under the submenu titled title, read as the panel does on opening it."""
        path = self.item(service, "Menu")
        _, layout = self.session_bus.call(service, path, DBUSMENU, "GetLayout", 0, -1, dbus.Array([], "s"))
        for ident, props, children in layout[2]:
            if str(props.get("label", "")).replace("_", "") == title:
                self.session_bus.call(service, path, DBUSMENU, "AboutToShow", ident)
                _, node = self.session_bus.call(service, path, DBUSMENU, "GetLayout", ident, -1,
                                                dbus.Array([], "s"))
                return [str(child[1].get("label", "")) for child in node[2]]
        self.fail("no submenu %r" % title)

    def open_menu(self, service, event="opened"):
        path = self.item(service, "Menu")
        if event == "opened":
            self.session_bus.call(service, path, DBUSMENU, "AboutToShow", 0)
        self.session_bus.call(service, path, DBUSMENU, "Event", 0, event, dbus.String("", variant_level=1),
                              dbus.UInt32(0))

    def command(self, *args):
        """somnara insomnia ARGS through the preferences program: (status, stdout, stderr)."""
        done = subprocess.run([PREFERENCES, "insomnia", *args], env=self.env, capture_output=True, text=True,
                              timeout=20)
        return done.returncode, done.stdout, done.stderr


class TrayItem(AgentTest):

    def test_item_menu_and_an_icon_that_follows_the_daemon(self):
        self.start_services()
        self.start_daemon(0)  # adaptive at 50 %: sleep
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent)
        labels = [label for _, label, _ in self.menu(service)]
        status = [e for e in self.menu(service) if STATUS_LINE.match(e[1])]
        self.assertEqual(len(status), 1, labels)
        self.assertFalse(status[0][2], "the status line is never enabled")
        self.assertIsNotNone(wait_for(lambda: self.entry(service, STATUS_LINE.pattern)[1] ==
                                      "Machine will sleep on sleep"), labels)
        for wanted in ("Sleep Now", "Hibernate Now", "Sleep and Hibernate Now", r"Start Insomnia\b",
                       "Choose Length\u2026$"):
            self.entry(service, wanted)
        self.assertNotIn("Insomnia Length Slider", labels, "a host-drawn menu shows a widget item as a checkbox")
        icon = self.item(service, "IconPixmap")

        # The battery crosses 20 %: the daemon applies sleep and hibernate, the icon follows.
        self.set_battery(15)
        self.assertIsNotNone(wait_for(lambda: self.mode() == 3, 5))
        applied = time.monotonic()
        took = wait_for(lambda: self.item(service, "IconPixmap") != icon, 3)
        self.assertIsNotNone(took, "the icon never changed:\n%s" % self.log_of(agent))
        self.assertLess(time.monotonic() - applied, 1.0)
        self.assertEqual(self.entry(service, STATUS_LINE.pattern)[1], "Machine will sleep and hibernate on sleep")
        self.assertAlive(agent)

    def test_insomnia_holds_the_idle_and_lid_inhibitors_and_sigkill_leaves_none(self):
        self.start_services()
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent)
        self.assertEqual(self.inhibitors(), [])
        for _ in range(2):
            self.click(service, r"Start Insomnia")
            self.assertIsNotNone(wait_for(lambda: self.inhibitors() == ["handle-lid-switch/block", "idle/block"]),
                                 "inhibitors: %r\n%s" % (self.inhibitors(), self.log_of(agent)))
            self.assertRegex(self.entry(service, r"Stop Insomnia")[1], r"\(using plugin\)$")
            self.click(service, r"Stop Insomnia")
            self.assertIsNotNone(wait_for(lambda: self.inhibitors() == []), self.inhibitors())
        self.click(service, r"Start Insomnia")
        self.assertIsNotNone(wait_for(lambda: len(self.inhibitors()) == 2))
        stop(agent, signal.SIGKILL)
        self.assertIsNotNone(wait_for(lambda: self.inhibitors(None) == []), self.inhibitors(None))

    def test_the_inhibitor_list_shows_other_programs_locks_and_its_own(self):
        self.start_services(logind_parameters='{"ForeignInhibitor": true}')
        self.mock(self.session_bus, "org.gnome.SessionManager", "gnome_session")
        self.session_bus.call("org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager",
                              "Inhibit", "org.gnome.Totem", dbus.UInt32(0), "Playing a film", dbus.UInt32(8))
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent)
        title = "Keeping the Machine Awake"
        self.open_menu(service)
        foreign = ["Backup Tool: Copying files (sleep, block, pid 4242)",
                   "org.gnome.Totem: Playing a film (idle, block, GNOME session)"]
        self.assertIsNotNone(wait_for(lambda: self.submenu(service, title) == foreign),
                             "%r\n%s" % (self.submenu(service, title), self.log_of(agent)))

        # Another program's lock, taken and dropped while the menu is open, shows and goes.
        lock = self.logind("Inhibit", "sleep", "Compiler", "Building", "block").take()
        compiler = "Compiler: Building (sleep, block, pid %d)" % os.getpid()
        self.assertIsNotNone(wait_for(lambda: compiler in self.submenu(service, title)), self.submenu(service, title))
        os.close(lock)
        self.assertIsNotNone(wait_for(lambda: self.submenu(service, title) == foreign), self.submenu(service, title))

        # Insomnia's own locks join the open menu's list as logind announces them.
        self.click(service, r"Start Insomnia")
        own = ["Somnara MenuBar: Insomnia keeps the machine awake (idle, block, pid %d) \u2014 Somnara's own"
               % agent.pid,
               "Somnara MenuBar: Insomnia keeps the machine awake (suspend, block, GNOME session) \u2014 Somnara's own"]
        self.assertIsNotNone(wait_for(lambda: self.submenu(service, title) == foreign + own),
                             self.submenu(service, title))
        self.click(service, r"Stop Insomnia")
        self.assertIsNotNone(wait_for(lambda: self.submenu(service, title) == foreign),
                             self.submenu(service, title))
        self.open_menu(service, "closed")
        self.assertAlive(agent)

    def test_the_command_line_starts_reports_and_stops_insomnia(self):
        self.start_services(logind_parameters='{"ForeignInhibitor": true}')
        agent = self.start("agent", [AGENT])
        self.wait_item(agent)
        self.assertEqual(self.command("2h"), (0, "Insomnia on for 2.00 hours\n", ""))
        self.assertIsNotNone(wait_for(lambda: "idle/block" in self.inhibitors()), self.inhibitors())
        status, out, err = self.command("status")
        self.assertEqual((status, err), (0, ""))
        lines = out.split("\n")
        self.assertRegex(lines[0], r"^Insomnia: on, stops in 1(19|20)\.\d\d minutes$")
        self.assertEqual(lines[1:3], ["Keeping the machine awake:",
                                      "  Backup Tool: Copying files (sleep, block, pid 4242)"])
        self.assertIn("Somnara MenuBar: Insomnia keeps the machine awake (idle, block, pid %d)" % agent.pid, out)
        self.assertEqual(self.command("off"), (0, "Insomnia off\n", ""))
        self.assertIsNotNone(wait_for(lambda: "idle/block" not in self.inhibitors()), self.inhibitors())
        self.assertTrue(self.command("status")[1].startswith("Insomnia: off\n"))
        status, out, err = self.command("2x")
        self.assertEqual((status, out), (2, ""))
        self.assertIn("usage: somnara insomnia [DURATION | off | status]", err)
        self.assertAlive(agent)

    def test_the_command_line_without_an_agent_fails_with_one_line(self):
        self.start_services()
        for args in (("status",), ("2h",), ("off",), ()):
            status, out, err = self.command(*args)
            self.assertEqual((status, out), (1, ""), args)
            self.assertEqual(len(err.splitlines()), 1, err)
            self.assertTrue(err.startswith("somnara insomnia: the Somnara tray agent is not running ("), err)

    def test_sleep_now_ends_in_the_power_tools_sleep_request(self):
        self.start_services()
        self.start_daemon(0)
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent)
        self.click(service, r"Sleep Now$")
        self.assertIsNotNone(wait_for(lambda: len(self.sleep_requests()) == 1, 10),
                             "no sleep request:\n%s" % self.log_of(agent))
        self.assertRegex(self.sleep_requests()[0], r"^sleepnow \d+$")
        self.assertAlive(agent)


class Failures(AgentTest):

    def notices(self):
        """(summary, body) of each notice the notification server was sent."""
        calls = self.session_bus.call(NOTIFICATIONS[0], NOTIFICATIONS[1], MOCK, "GetMethodCalls", "Notify")
        return [(str(args[3]), str(args[4])) for _, args in calls]

    def test_a_failed_sleep_now_and_a_refused_lid_lock_become_notices(self):
        self.start_services()
        self.mock(self.session_bus, NOTIFICATIONS[0], "notification_daemon")
        # The power tool cannot record the sleep request where a directory stands.
        os.makedirs(os.path.join(self.root, "run/somnara/sleep-requests"))
        self.logind("SetRefusedInhibitors", ["handle-lid-switch"], interface=MOCK)
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent)
        self.click(service, r"Sleep Now$")
        self.assertIsNotNone(wait_for(lambda: len(self.notices()) == 1, 10), self.log_of(agent))
        summary, body = self.notices()[0]
        self.assertEqual(summary, "Sleep Now failed")
        self.assertRegex(body, r"^The power tool's sleep request failed with exit status [1-9]\d*$")

        self.click(service, r"Start Insomnia")
        self.assertIsNotNone(wait_for(lambda: len(self.notices()) == 2), self.log_of(agent))
        self.assertEqual(self.notices()[1][0], "Insomnia can't keep a closed laptop awake")
        self.assertRegex(self.notices()[1][1], r"^The lid switch lock failed: .*Permission denied")
        self.assertEqual(self.inhibitors(), ["idle/block"], "Insomnia runs on without the lid lock")
        self.assertAlive(agent)

    def test_without_a_notification_server_a_failure_shows_nothing_and_harms_nothing(self):
        self.start_services()
        os.makedirs(os.path.join(self.root, "run/somnara/sleep-requests"))
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent)
        self.click(service, r"Sleep Now$")
        self.assertIsNotNone(wait_for(lambda: "Can't set next sleep state" in self.log_of(agent), 10))
        self.click(service, r"Start Insomnia")
        self.assertIsNotNone(wait_for(lambda: self.entry(service, r"Stop Insomnia")))
        self.assertAlive(agent)


class InsomniaRules(AgentTest):
    """The battery floor and the lock rule against logind's locks. The fake
    laptop runs on battery (its charger is offline) at 50 %."""

    def start_insomnia(self):
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent)
        self.click(service, r"Start Insomnia")
        self.assertIsNotNone(wait_for(lambda: self.inhibitors() == ["handle-lid-switch/block", "idle/block"]),
                             "inhibitors: %r\n%s" % (self.inhibitors(), self.log_of(agent)))
        return agent, service

    def test_the_battery_floor_releases_both_locks_with_a_notice(self):
        self.start_services()
        self.mock(self.session_bus, NOTIFICATIONS[0], "notification_daemon")
        agent, service = self.start_insomnia()
        self.assertRegex(self.entry(service, r"Stop Insomnia")[1], r"\(stops on battery at 10 %\)")
        self.set_battery(11)
        time.sleep(0.5)
        self.assertEqual(len(self.inhibitors()), 2, "held above the floor")
        self.set_battery(10)
        self.assertIsNotNone(wait_for(lambda: self.inhibitors() == [], 5),
                             "inhibitors: %r\n%s" % (self.inhibitors(), self.log_of(agent)))
        self.assertIsNotNone(wait_for(lambda: self.has_entry(service, r"Start Insomnia")))
        calls = self.session_bus.call(NOTIFICATIONS[0], NOTIFICATIONS[1], MOCK, "GetMethodCalls", "Notify")
        self.assertEqual([(str(args[3]), str(args[4])) for _, args in calls],
                         [("Insomnia stopped", "The battery is at 10 %, at or below the floor of 10 %.")])
        self.assertAlive(agent)

    def test_a_locked_session_stops_insomnia_with_the_lock_rule(self):
        self.write_settings(dict(ADAPTIVE, insomniastopwhenlocked=True))
        self.start_services()
        agent, service = self.start_insomnia()
        self.system_bus.call(LOGIND[0], "/org/freedesktop/login1/session/" + SESSION_ID,
                             "org.freedesktop.login1.Session", "SetLockedHint", True)
        self.assertIsNotNone(wait_for(lambda: self.inhibitors() == [], 5),
                             "inhibitors: %r\n%s" % (self.inhibitors(), self.log_of(agent)))
        self.assertIsNotNone(wait_for(lambda: self.has_entry(service, r"Start Insomnia")))
        self.assertIn("Insomnia stopped: the session is locked", self.log_of(agent))
        self.assertAlive(agent)


class TrayHostChanges(AgentTest):

    def watcher_owner(self):
        try:
            return self.session_bus.connection.get_name_owner(WATCHER[0])
        except dbus.exceptions.DBusException:
            return None

    def assertRegistersWithin3s(self, agent, what):
        took = wait_for(lambda: self.items(), 3)
        self.assertIsNotNone(took, "not registered with a watcher that %s:\n%s" % (what, self.log_of(agent)))

    def test_registers_with_a_watcher_that_starts_later_replaces_another_or_comes_back(self):
        self.start_services(watcher=False)
        agent = self.start("agent", [AGENT])
        time.sleep(1)  # waiting for a status area
        self.start_watcher()
        self.assertRegistersWithin3s(agent, "started after it")

        first = self.watcher_owner()
        self.start_watcher()  # takes the name over from the first one
        self.assertIsNotNone(wait_for(lambda: self.watcher_owner() != first))
        self.assertRegistersWithin3s(agent, "replaced another")

        stop(self.procs.pop())  # the watcher in place goes; the first one waits no longer for its name
        self.assertIsNotNone(wait_for(lambda: self.watcher_owner() is None))
        self.start_watcher()
        self.assertRegistersWithin3s(agent, "came after the host went away")
        service = self.items()[0]
        self.click(service, r"Start Insomnia")
        self.assertIsNotNone(wait_for(lambda: self.entry(service, r"Stop Insomnia")), "the new item's menu works")
        self.assertAlive(agent)


class Survival(AgentTest):

    def survive(self, env=None, **services):
        """The agent runs on with what is missing and ends normally on SIGTERM."""
        self.start_services(**services)
        agent = self.start("agent", [AGENT], dict(self.env, **(env or {})))
        time.sleep(2)
        self.assertAlive(agent)
        stop(agent, signal.SIGTERM)
        self.assertEqual(agent.returncode, 0, self.log_of(agent))
        return self.log_of(agent)

    def test_no_session_bus(self):
        self.survive(dict(DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/bus"))

    def test_no_system_bus(self):
        log = self.survive(dict(DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/bus"))
        self.assertIn("failed to IORegisterForSystemPower - using old way to stay awake", log)

    def test_no_logind(self):
        log = self.survive(logind=False)
        self.assertIn("failed to IORegisterForSystemPower - using old way to stay awake", log)

    def test_no_upower_and_no_screen_saver(self):
        self.survive(upower=False, screensaver=False)

    def test_without_a_tray_host_it_waits_and_logs_once(self):
        self.start_services(watcher=False)
        agent = self.start("agent", [AGENT])
        time.sleep(5)  # two and a half of its looks for a tray
        self.assertAlive(agent)
        self.assertEqual(self.log_of(agent).count("waiting for one"), 1, self.log_of(agent))

    def test_a_fifo_as_the_insomnia_sound_blocks_nothing(self):
        """Nobody writes to the FIFO: opening it for reading would wait forever."""
        self.start_services()
        fifo = os.path.join(self.tmp, "chime.wav")
        os.mkfifo(fifo)
        self.write_settings({"insomniasoundfile": fifo})
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent)
        self.click(service, r"Start Insomnia")
        self.assertIsNotNone(wait_for(lambda: self.entry(service, r"Stop Insomnia")), self.log_of(agent))
        agent.send_signal(signal.SIGTERM)
        agent.wait(timeout=2)
        self.assertEqual(agent.returncode, 0, self.log_of(agent))

    def test_a_broken_bundle_copy_still_runs(self):
        """A corrupt defaults resource and a missing image and sound."""
        self.start_services()
        bundle = os.path.join(self.tmp, "Somnara MenuBar.app")
        shutil.copytree(os.path.dirname(os.path.dirname(os.path.dirname(AGENT))), bundle, symlinks=True)
        resources = os.path.join(bundle, "Contents/Resources")
        with open(os.path.join(resources, "UserDefaults.plist"), "w") as f:
            f.write("<plist><dict><key>broken")
        for name in ("Insomnia.wav", "icons"):
            path = os.path.join(resources, name)
            if os.path.isdir(path):
                shutil.rmtree(path)
            elif os.path.exists(path):
                os.unlink(path)
        agent = self.start("agent", [os.path.join(bundle, "Contents/MacOS", os.path.basename(AGENT))])
        self.wait_item(agent)
        time.sleep(1)
        self.assertAlive(agent)


if __name__ == "__main__":
    main_in_own_pid_namespace()
