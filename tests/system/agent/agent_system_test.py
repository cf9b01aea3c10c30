#!/usr/bin/python3
"""The tray agent as a black box on the fake laptop under Xvfb (Qt's xcb
platform, whose tray speaks StatusNotifierItem and dbusmenu where a watcher
runs), with the stand-ins for logind, UPower, the screen saver and the tray
host, and the real daemon. ctest sets SOMNARA_AGENT, SOMNARA_DAEMON,
SOMNARA_PREFERENCES and SOMNARA_FAKE_LAPTOP."""

import os
import shutil
import signal
import subprocess
import sys
import time

import dbus

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import (MOCK, NOTIFICATIONS, STATUS_LINE, WATCHER, LaptopTest, log_of,  # noqa: E402
                            main_in_own_pid_namespace, read, stop)

AGENT = os.environ.get("SOMNARA_AGENT", "")
PREFERENCES = os.environ.get("SOMNARA_PREFERENCES", "")
DAEMON = os.environ.get("SOMNARA_DAEMON", "")
INSOMNIA_LOCKS = ["handle-lid-switch/block", "idle/block"]
FOREIGN = "Backup Tool: Copying files (sleep, block, pid 4242)"


class AgentTest(LaptopTest):

    def setUp(self):
        super().setUp()
        self.tray = self.laptop.tray

    def start_agent(self, argv=None, env=None, item=True):
        """The agent, and its bus name once its item registered (item=False: not waited for)."""
        agent = self.laptop.launch("agent", argv or [AGENT], env)
        if not item:
            return agent
        self.assertWithin(15, self.tray.services, "no StatusNotifierItem registered", lambda: log_of(agent))
        return agent, self.tray.services()[0]

    def start_daemon(self, mode):
        daemon = self.laptop.launch("daemon", [DAEMON])
        self.assertWithin(5, lambda: self.laptop.mode() == mode, "daemon never applied %d" % mode,
                          lambda: log_of(daemon))
        return daemon

    def label(self, service, pattern):
        found = self.tray.entry(service, pattern)
        return found and found[1]

    def assertLocks(self, wanted, agent, mode="block", timeout=3):
        self.assertWithin(timeout, lambda: self.laptop.inhibitors(mode) == wanted,
                          lambda: "locks %r, wanted %r" % (self.laptop.inhibitors(mode), wanted), lambda: log_of(agent))

    def notices(self):
        """(summary, body) of each notice the notification server was sent."""
        calls = self.laptop.session_bus.call(*NOTIFICATIONS, MOCK, "GetMethodCalls", "Notify")
        return [(str(args[3]), str(args[4])) for _, args in calls]


class TrayItem(AgentTest):

    def test_menu_and_an_icon_that_follows_the_daemon(self):
        self.laptop.start_services()
        self.start_daemon(0)  # adaptive at 50 %: sleep
        agent, service = self.start_agent()
        self.assertWithin(3, lambda: self.label(service, STATUS_LINE.pattern) == "Machine will sleep on sleep",
                          lambda: self.tray.menu(service))
        menu = self.tray.menu(service)
        for wanted in ("Sleep Now", "Hibernate Now", "Sleep and Hibernate Now", r"Start Insomnia\b",
                       "Choose Length\u2026$"):
            self.assertIsNotNone(self.tray.entry(service, wanted), (wanted, menu))
        self.assertIsNone(self.tray.entry(service, "Insomnia Length Slider"),
                          "a host-drawn menu shows a widget item as a checkbox")
        icon = self.tray.property(service, "IconPixmap")

        # The battery crosses 20 %: the daemon applies sleep and hibernate, the icon follows within a second.
        self.laptop.set_battery(15)
        self.assertWithin(5, lambda: self.laptop.mode() == 3)
        applied = time.monotonic()
        self.assertWithin(3, lambda: self.tray.property(service, "IconPixmap") != icon, "the icon never changed",
                          lambda: log_of(agent))
        self.assertLess(time.monotonic() - applied, 1.0)
        self.assertEqual(self.label(service, STATUS_LINE.pattern), "Machine will sleep and hibernate on sleep")
        self.assertAlive(agent)

    def test_insomnia_holds_the_idle_and_lid_locks_and_sigkill_leaves_none(self):
        self.laptop.start_services()
        agent, service = self.start_agent()
        self.assertEqual(self.laptop.inhibitors(), [])
        self.tray.click(service, r"Start Insomnia")
        self.assertLocks(INSOMNIA_LOCKS, agent)
        self.tray.click(service, r"Stop Insomnia")
        self.assertLocks([], agent)
        self.tray.click(service, r"Start Insomnia")
        self.assertLocks(INSOMNIA_LOCKS, agent)
        stop(agent, signal.SIGKILL)
        self.assertLocks([], agent, mode=None)

    def test_the_inhibitor_list_follows_other_programs_locks_and_its_own_while_open(self):
        self.laptop.start_services(logind_parameters='{"ForeignInhibitor": true}')
        self.laptop.mock(self.laptop.session_bus, "org.gnome.SessionManager", "gnome_session")
        self.laptop.session_bus.call("org.gnome.SessionManager", "/org/gnome/SessionManager",
                                     "org.gnome.SessionManager", "Inhibit", "org.gnome.Totem", dbus.UInt32(0),
                                     "Playing a film", dbus.UInt32(8))
        agent, service = self.start_agent()
        self.tray.event(service, 0, "opened", about_to_show=True)
        foreign = [FOREIGN, "org.gnome.Totem: Playing a film (idle, block, GNOME session)"]
        own = ["Somnara MenuBar: Insomnia keeps the machine awake (%s) \u2014 Somnara's own" % where
               for where in ("idle, block, pid %d" % agent.pid, "suspend, block, GNOME session")]
        lock = []
        steps = [  # (what changes while the menu is open, the list then)
            (lambda: None, foreign),
            (lambda: lock.append(self.laptop.logind("Inhibit", "sleep", "Compiler", "Building", "block").take()),
             foreign[:1] + ["Compiler: Building (sleep, block, pid %d)" % os.getpid()] + foreign[1:]),
            (lambda: os.close(lock[0]), foreign),
            (lambda: self.tray.click(service, r"Start Insomnia"), foreign + own),
            (lambda: self.tray.click(service, r"Stop Insomnia"), foreign)]
        for change, wanted in steps:
            change()
            self.assertWithin(3, lambda: self.tray.submenu(service, "Keeping the Machine Awake") == wanted,
                              lambda: self.tray.submenu(service, "Keeping the Machine Awake"), lambda: log_of(agent))
        self.tray.event(service, 0, "closed")
        self.assertAlive(agent)

    def test_the_command_line_reaches_insomnia_through_the_running_agent(self):
        self.laptop.start_services(logind_parameters='{"ForeignInhibitor": true}')

        def command(*args):
            done = subprocess.run([PREFERENCES, "insomnia", *args], env=self.laptop.env, capture_output=True,
                                  text=True, timeout=20)
            return done.returncode, done.stdout, done.stderr

        status, out, err = command("status")
        self.assertEqual((status, out, len(err.splitlines())), (1, "", 1), err)
        self.assertTrue(err.startswith("somnara insomnia: the Somnara tray agent is not running ("), err)
        agent, _ = self.start_agent()
        self.assertEqual(command("2h"), (0, "Insomnia on for 2.00 hours\n", ""))
        self.assertLocks(INSOMNIA_LOCKS + ["sleep/block"], agent)  # and the foreign one
        status, out, err = command("status")
        self.assertEqual((status, err), (0, ""))
        lines = out.split("\n")
        self.assertRegex(lines[0], r"^Insomnia: on, stops in 1(19|20)\.\d\d minutes$")
        self.assertEqual(lines[1:3], ["Keeping the machine awake:", "  " + FOREIGN])
        self.assertIn("Somnara MenuBar: Insomnia keeps the machine awake (idle, block, pid %d)" % agent.pid, out)
        self.assertEqual(command("off"), (0, "Insomnia off\n", ""))
        self.assertLocks(["sleep/block"], agent)
        self.assertTrue(command("status")[1].startswith("Insomnia: off\n"))

    def test_sleep_now_ends_in_the_power_tools_sleep_request_and_a_failure_harms_nothing(self):
        self.laptop.start_services()
        self.start_daemon(0)
        requests = os.path.join(self.laptop.root, "run/somnara/sleep-requests")
        os.makedirs(requests)  # the power tool cannot record a request where a directory stands
        agent, service = self.start_agent()
        self.tray.click(service, r"Sleep Now$")  # no notification server runs here
        self.assertWithin(10, lambda: "Can't set next sleep state" in log_of(agent), lambda: log_of(agent))
        os.rmdir(requests)
        self.tray.click(service, r"Sleep Now$")
        self.assertWithin(10, lambda: read(requests), "no sleep request", lambda: log_of(agent))
        self.assertRegex(read(requests), r"^sleepnow \d+\n$")
        self.assertAlive(agent)

    def test_a_refused_lid_lock_becomes_a_notice(self):
        self.laptop.start_services()
        self.laptop.mock(self.laptop.session_bus, NOTIFICATIONS[0], "notification_daemon")
        self.laptop.logind("SetRefusedInhibitors", ["handle-lid-switch"], interface=MOCK)
        agent, service = self.start_agent()
        self.tray.click(service, r"Start Insomnia")
        self.assertWithin(3, lambda: len(self.notices()) == 1, lambda: log_of(agent))
        summary, body = self.notices()[0]
        self.assertEqual(summary, "Insomnia can't keep a closed laptop awake")
        self.assertRegex(body, r"^The lid switch lock failed: .*Permission denied")
        self.assertEqual(self.laptop.inhibitors(), ["idle/block"], "Insomnia runs on without the lid lock")
        self.assertAlive(agent)


class TrayHostChanges(AgentTest):

    def watcher_owner(self):
        try:
            return self.laptop.session_bus.connection.get_name_owner(WATCHER[0])
        except dbus.exceptions.DBusException:
            return None

    def test_waits_for_a_tray_host_and_registers_with_each_new_one_within_3_s(self):
        self.laptop.start_services(watcher=False)
        agent = self.start_agent(item=False)
        time.sleep(5)  # two and a half of its looks for a tray
        self.assertEqual(log_of(agent).count("waiting for one"), 1, log_of(agent))
        watchers = []
        for how in ("started after it", "replaced another", "came after the host went away"):
            with self.subTest(how):
                if how.startswith("came"):
                    stop(watchers.pop())  # the first one waits no longer for its name either
                    self.assertWithin(3, lambda: self.watcher_owner() is None)
                first = self.watcher_owner()
                watchers.append(self.laptop.mock(self.laptop.session_bus, WATCHER[0], "status_notifier_watcher"))
                self.assertWithin(3, lambda: self.watcher_owner() != first)
                self.assertWithin(3, self.tray.services, "not registered with a watcher that " + how,
                                  lambda: log_of(agent))
        service = self.tray.services()[0]
        self.tray.click(service, r"Start Insomnia")
        self.assertWithin(3, lambda: self.tray.entry(service, r"Stop Insomnia"), "the new item's menu works")
        self.assertAlive(agent)


class Survival(AgentTest):

    def test_runs_on_with_what_is_missing_and_ends_normally_on_sigterm(self):
        nowhere = "unix:path=/nonexistent/bus"
        old_way = "failed to IORegisterForSystemPower - using old way to stay awake"
        cases = [  # (name, services missing, environment, the agent's copy, what it logs)
            ("no session bus", {}, {"DBUS_SESSION_BUS_ADDRESS": nowhere}, None, None),
            ("no system bus", {}, {"DBUS_SYSTEM_BUS_ADDRESS": nowhere}, None, old_way),
            ("no logind", {"logind": False}, {}, None, old_way),
            ("no UPower, no screen saver", {"upower": False, "screensaver": False}, {}, None, None),
            ("a corrupt defaults resource, no image, no sound", {}, {}, self.broken_copy(), None)]
        for name, missing, env, argv, logged in cases:
            with self.subTest(name):
                self.laptop.stop_all()
                self.laptop.start_services(**missing)
                agent = self.start_agent(argv, dict(self.laptop.env, **env), item=False)
                time.sleep(2)
                self.assertAlive(agent)
                self.assertEnds(agent, 0, signal.SIGTERM)
                if logged:
                    self.assertIn(logged, log_of(agent))

    def broken_copy(self):
        bundle = os.path.join(self.laptop.tmp, "Somnara MenuBar.app")
        shutil.copytree(os.path.dirname(os.path.dirname(os.path.dirname(AGENT))), bundle, symlinks=True)
        resources = os.path.join(bundle, "Contents/Resources")
        with open(os.path.join(resources, "UserDefaults.plist"), "w") as f:
            f.write("<plist><dict><key>broken")
        shutil.rmtree(os.path.join(resources, "icons"), ignore_errors=True)
        if os.path.exists(os.path.join(resources, "Insomnia.wav")):
            os.unlink(os.path.join(resources, "Insomnia.wav"))
        return [os.path.join(bundle, "Contents/MacOS", os.path.basename(AGENT))]


if __name__ == "__main__":
    main_in_own_pid_namespace()
