#!/usr/bin/python3
"""The preferences program as a black box: the built bundle and a driver bundle
(the same window and delegate, its controls worked from stdin) on a fake
laptop with private session and system buses, Qt's offscreen platform and
XDG directories in a temporary directory: a user who has run Somnara before,
unless a test starts afresh. Run through ctest, which sets SOMNARA_APP,
SOMNARA_DRIVER_APP and SOMNARA_FAKE_LAPTOP."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "daemon"))
from daemon_system_test import PrivateBus, ProgramLogs, replace, wait_for  # noqa: E402

APP = os.environ.get("SOMNARA_APP", "")
DRIVER_APP = os.environ.get("SOMNARA_DRIVER_APP", "")
FAKE_LAPTOP = os.environ.get("SOMNARA_FAKE_LAPTOP", "")
DAEMON_ID, AGENT_ID = "de.orvane.Somnara.Daemon", "de.orvane.Somnara.MenuBar"


def program(bundle, name):
    return os.path.join(bundle, "Contents/MacOS", name)


def login_item(bundle, name):
    return os.path.join(bundle, "Contents/Library/LoginItems", name + ".app")


def instances(bundle_id):
    """{pid: bundle path} of this user's programs whose bundle has bundle_id and
    lies in one of the bundles under test (other copies on the machine are not
    this test's business)."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            exe = os.readlink("/proc/%s/exe" % entry)
            with open("/proc/%s/stat" % entry) as f:
                if f.read().split(") ")[-1].startswith("Z"):
                    continue
        except OSError:
            continue
        marker = "/Contents/MacOS/"
        if marker not in exe:
            continue
        bundle = exe[:exe.index(marker)]
        if not bundle.startswith((APP + "/", DRIVER_APP + "/")):
            continue
        try:
            with open(os.path.join(bundle, "Contents/Info.plist"), "rb") as f:
                if bundle_id.encode() in f.read():
                    found[int(entry)] = bundle
        except OSError:
            pass
    return found


class PreferencesFixture(ProgramLogs, unittest.TestCase):
    """A fake laptop with private buses and its own XDG directories."""

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("the daemon's helper only runs the power tool for root here")
        for path in (APP, DRIVER_APP, FAKE_LAPTOP):
            self.assertTrue(os.path.exists(path), "missing %r; run through ctest" % path)
        self.tmp = tempfile.mkdtemp(prefix="somnara-prefs-test-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.root = os.path.join(self.tmp, "root")
        subprocess.run([FAKE_LAPTOP, "init", self.root, "25"], check=True)
        self.config = os.path.join(self.tmp, "config")
        self.autostart = os.path.join(self.config, "autostart")
        self.settings = os.path.join(self.config, "somnara/de.orvane.Somnara.plist")
        replace(self.settings, {"firststartdone": True})
        self.procs = []
        self.addCleanup(self.stop_all)
        self.session_bus, self.system_bus = PrivateBus(), PrivateBus()
        self.addCleanup(self.session_bus.close)
        self.addCleanup(self.system_bus.close)
        self.env = dict(os.environ, SOMNARA_ROOT=self.root, XDG_CONFIG_HOME=self.config,
                        XDG_STATE_HOME=os.path.join(self.tmp, "state"), QT_QPA_PLATFORM="offscreen",
                        DBUS_SESSION_BUS_ADDRESS=self.session_bus.address,
                        DBUS_SYSTEM_BUS_ADDRESS=self.system_bus.address)
        self.env.pop("DISPLAY", None)  # no X display, so no XEmbed tray

    def stop_all(self):
        super().stop_all()
        for proc in self.procs:
            for pipe in (proc.stdin, proc.stdout):
                if pipe:
                    pipe.close()
        for bundle_id in (DAEMON_ID, AGENT_ID):
            for pid, bundle in instances(bundle_id).items():
                os.kill(pid, 9)

    def start(self, argv, name, pipe=False):
        return self.launch(name, argv, self.env, pipe)

    def driver(self):
        proc = self.start([program(DRIVER_APP, "Somnara")], "driver", pipe=True)
        self.assertEqual(proc.stdout.readline().strip(), "ready", self.log_of(proc))
        return proc

    def ask(self, proc, command):
        proc.stdin.write(command + "\n")
        proc.stdin.flush()
        line = proc.stdout.readline().strip()
        self.assertTrue(line.startswith("ok"), "%s -> %r\n%s" % (command, line, self.log_of(proc)))
        return line[3:]

    def mode(self):
        try:
            with open(os.path.join(self.root, "run/somnara/hibernatemode")) as f:
                return int(f.read())
        except (OSError, ValueError):
            return None


class PreferencesTest(PreferencesFixture):
    def test_start_leaves_one_daemon_from_the_own_bundle_and_quit_stops_it(self):
        old = self.start([program(login_item(APP, "Somnara Daemon"), "Somnara Daemon")], "old-daemon")
        self.assertIsNotNone(wait_for(lambda: instances(DAEMON_ID), 5))
        old_pids = set(instances(DAEMON_ID))
        app = self.start([program(APP, "Somnara")], "app")
        own = login_item(APP, "Somnara Daemon")
        self.assertIsNotNone(wait_for(lambda: list(instances(DAEMON_ID).values()) == [own]
                                      and not old_pids & set(instances(DAEMON_ID)), 8),
                             "daemons: %r\n%s" % (instances(DAEMON_ID), self.log_of(app)))
        old.wait(timeout=5)

        # The agent's preferences command: a second start with the agent's bundle
        # hands over to the running window and ends; the first instance stays.
        again = self.start([program(APP, "Somnara"), login_item(APP, "Somnara MenuBar")], "again")
        self.assertEqual(again.wait(timeout=8), 0, self.log_of(again))
        self.assertIsNone(app.poll(), self.log_of(app))
        self.assertEqual(len(instances(DAEMON_ID)), 1)

        app.terminate()
        self.assertEqual(app.wait(timeout=8), 0, self.log_of(app))
        self.assertIsNotNone(wait_for(lambda: not instances(DAEMON_ID), 3),
                             "the daemon is no login item: %r\n%s" % (instances(DAEMON_ID), self.log_of(app)))

    def test_agent_login_switch_writes_a_valid_entry_and_starts_it(self):
        drv = self.driver()
        self.assertEqual(self.ask(drv, "click agentLoginItem"), "checked")
        entry = os.path.join(self.autostart, AGENT_ID + ".desktop")
        self.assertTrue(os.path.isfile(entry))
        check = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual((check.returncode, check.stdout + check.stderr), (0, ""))
        with open(entry) as f:
            self.assertNotIn("\nHidden=", f.read())
        self.assertIsNotNone(wait_for(lambda: list(instances(AGENT_ID).values())
                                      == [login_item(DRIVER_APP, "Somnara MenuBar")], 5))

        # Quitting leaves only login items running.
        self.ask(drv, "quit")
        self.assertEqual(drv.wait(timeout=8), 0, self.log_of(drv))
        self.assertEqual(len(instances(AGENT_ID)), 1)
        self.assertFalse(instances(DAEMON_ID))

        drv = self.driver()
        self.assertEqual(self.ask(drv, "click agentLoginItem"), "unchecked")
        self.assertFalse(os.path.exists(entry))
        self.assertIsNotNone(wait_for(lambda: not instances(AGENT_ID), 3))

    def test_choosing_hibernate_reaches_the_machine_within_a_second(self):
        drv = self.driver()
        self.assertIsNotNone(wait_for(lambda: self.mode() is not None, 5), self.log_of(drv))
        self.ask(drv, "click sleepMode2")
        self.assertIsNotNone(wait_for(lambda: self.mode() == 0, 3), self.log_of(drv))
        start = time.monotonic()
        self.ask(drv, "click sleepMode3")
        took = wait_for(lambda: self.mode() == 1, 3)
        self.assertIsNotNone(took, "mode %r" % self.mode())
        self.assertLess(time.monotonic() - start, 1.0)
        self.assertIsNotNone(wait_for(lambda: self.ask(drv, "text status") == "Machine will hibernate on sleep", 2),
                             "the status line follows the applied mode")

    def test_a_log_no_program_opens_gets_a_message_with_its_path(self):
        log = os.path.join(self.tmp, "state/somnara/de.orvane.Somnara.log")
        os.makedirs(os.path.dirname(log))
        with open(log, "w") as f:
            f.write("a line\n")
        # No xdg-open, nor any browser, on this PATH.
        self.env = dict(self.env, PATH=os.path.join(self.tmp, "empty"))
        self.env.pop("BROWSER", None)
        drv = self.driver()
        self.ask(drv, "press Show Log")
        self.assertIsNotNone(wait_for(lambda: self.ask_quietly(drv, "message -"), 3), self.log_of(drv))
        self.assertEqual(self.ask(drv, "message -"),
                         "Log: No program to open this file was found. The file is at:\\n" + log)
        self.assertIn("Can't open logfile: " + log, self.log_of(drv))
        self.assertNotIn("Can't find logfile", self.log_of(drv))

    def ask_quietly(self, proc, command):
        """Whether the command answered "ok"."""
        proc.stdin.write(command + "\n")
        proc.stdin.flush()
        return proc.stdout.readline().startswith("ok")

    def test_bad_input_gets_a_clear_answer(self):
        os.makedirs(self.config, exist_ok=True)
        with open(self.autostart, "w") as f:
            f.write("a file, not a directory")
        settings = self.settings
        replace(settings, b"\x00 not a property list")
        drv = self.driver()
        self.assertEqual(self.ask(drv, "click agentLoginItem"), "unchecked")
        self.assertIn("could not find a list", self.ask(drv, "text agentNote"))
        with open(self.autostart) as f:
            self.assertEqual(f.read(), "a file, not a directory")
        self.ask(drv, "click sleepMode3")  # the window still works on defaults
        self.assertIsNotNone(wait_for(lambda: self.mode() == 1, 3))
        # Kept aside once it stayed unreadable for a while (a writer at work gets the time to finish).
        self.assertIsNotNone(wait_for(lambda: [n for n in os.listdir(os.path.dirname(settings)) if ".corrupt-" in n],
                                      5), "the unreadable settings file is kept aside")

    def test_first_start_makes_both_login_items_and_says_where_the_icon_cannot_show(self):
        os.remove(self.settings)  # a new user
        drv = self.driver()
        self.assertIn("now start at every login", self.ask(drv, "text firstStartNotice"))
        for bundle_id in (AGENT_ID, DAEMON_ID):
            self.assertTrue(os.path.isfile(os.path.join(self.autostart, bundle_id + ".desktop")), bundle_id)
        self.assertIsNotNone(wait_for(lambda: list(instances(AGENT_ID).values())
                                      == [login_item(DRIVER_APP, "Somnara MenuBar")], 5), self.log_of(drv))
        # Neither a status-notifier host nor an X display here.
        self.assertIn("needs a tray extension", self.ask(drv, "text noStatusAreaNotice"))
        self.assertTrue(os.path.isfile(self.settings), "the domain exists from now on")

        # Both are login items now, so quitting leaves them running.
        self.ask(drv, "quit")
        self.assertEqual(drv.wait(timeout=8), 0, self.log_of(drv))
        self.assertEqual(len(instances(AGENT_ID)), 1)
        self.assertEqual(len(instances(DAEMON_ID)), 1)

        # The next start says nothing of it; with a status-notifier host, nothing of the tray either.
        self.procs.append(self.session_bus.start_mock("org.kde.StatusNotifierWatcher", "status_notifier_watcher",
                                                      self.env))
        drv = self.driver()
        self.assertEqual(self.ask(drv, "text firstStartNotice"), "")
        self.assertEqual(self.ask(drv, "text noStatusAreaNotice"), "")
        self.assertEqual(self.ask(drv, "click agentLoginItem"), "unchecked", "the switch undoes it")
        self.assertFalse(os.path.exists(os.path.join(self.autostart, AGENT_ID + ".desktop")))

    def test_diagnostics_go_to_the_log_file_once_a_minute_never_to_the_terminal(self):
        """On a machine without sleep support every look at the sleep state fails."""
        subprocess.run([FAKE_LAPTOP, "states", self.root, ""], check=True)
        app = self.start([program(APP, "Somnara")], "app")
        log_path = os.path.join(self.tmp, "state/somnara/de.orvane.Somnara.log")

        def log_file():
            try:
                with open(log_path) as f:
                    return f.read()
            except OSError:
                return ""
        diagnostic = "machine does not support sleep"
        self.assertIsNotNone(wait_for(lambda: diagnostic in log_file(), 8), log_file())
        time.sleep(4)  # many more looks: the window's status, the daemon's messages
        self.assertIsNone(app.poll(), self.log_of(app))
        self.assertEqual(log_file().count(diagnostic), 1, log_file())
        self.assertNotIn(diagnostic, self.log_of(app))
        for line in log_file().splitlines():
            self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ")


if __name__ == "__main__":
    unittest.main()
