#!/usr/bin/python3
"""The preferences program as a black box on the fake laptop (Qt's offscreen
platform, no X display): the built bundle, and a driver bundle with the same
window and delegate whose controls are worked from stdin; a user who has run
Somnara before unless a test starts afresh. ctest sets SOMNARA_APP,
SOMNARA_DRIVER_APP and SOMNARA_FAKE_LAPTOP."""

import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import LaptopTest, log_of, main_in_own_pid_namespace, read, replace  # noqa: E402

APP = os.environ.get("SOMNARA_APP", "")
DRIVER_APP = os.environ.get("SOMNARA_DRIVER_APP", "")
DAEMON_ID, AGENT_ID = "de.orvane.Somnara.Daemon", "de.orvane.Somnara.MenuBar"


def program(bundle, name="Somnara"):
    return os.path.join(bundle, "Contents/MacOS", name)


def login_item(bundle, name):
    return os.path.join(bundle, "Contents/Library/LoginItems", name + ".app")


def instances(bundle_id):
    """{pid: bundle} of the live programs whose bundle, inside a bundle under test, has bundle_id."""
    found = {}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            exe = os.readlink("/proc/%s/exe" % entry)
            zombie = read("/proc/%s/stat" % entry).split(") ")[-1].startswith("Z")
        except (OSError, AttributeError):
            continue
        bundle = exe.split("/Contents/MacOS/")[0]
        if not zombie and bundle != exe and bundle.startswith((APP + "/", DRIVER_APP + "/")) and \
                bundle_id in (read(os.path.join(bundle, "Contents/Info.plist")) or ""):
            found[int(entry)] = bundle
    return found


class PreferencesTest(LaptopTest):
    LAPTOP = dict(settings={"firststartdone": True}, display="offscreen")

    def setUp(self):
        super().setUp()
        self.autostart = os.path.join(self.laptop.env["XDG_CONFIG_HOME"], "autostart")
        self.log_file = os.path.join(self.laptop.tmp, "state/somnara/de.orvane.Somnara.log")
        self.addCleanup(lambda: [os.kill(pid, signal.SIGKILL) for bundle_id in (DAEMON_ID, AGENT_ID)
                                 for pid in instances(bundle_id)])

    def driver(self):
        proc = self.laptop.launch("driver", [program(DRIVER_APP)], pipe=True)
        self.assertEqual(proc.stdout.readline().strip(), "ready", log_of(proc))
        return proc

    def ask(self, proc, command, expect_ok=True):
        """The driver's answer after "ok"; with expect_ok False, None where it answered otherwise."""
        proc.stdin.write(command + "\n")
        proc.stdin.flush()
        line = proc.stdout.readline().strip()
        if not expect_ok and not line.startswith("ok"):
            return None
        self.assertTrue(line.startswith("ok"), "%s -> %r\n%s" % (command, line, log_of(proc)))
        return line[3:]

    def quit(self, drv):
        self.ask(drv, "quit")
        self.assertEnds(drv, 0, timeout=8)

    def assertRunning(self, bundle_id, bundles, timeout=5):
        self.assertWithin(timeout, lambda: sorted(instances(bundle_id).values()) == bundles,
                          lambda: "%s: %r, wanted %r" % (bundle_id, instances(bundle_id), bundles))

    def test_start_leaves_one_daemon_from_the_own_bundle_and_quit_stops_it(self):
        own = login_item(APP, "Somnara Daemon")
        old = self.laptop.launch("old-daemon", [program(own, "Somnara Daemon")])
        self.assertRunning(DAEMON_ID, [own])
        app = self.laptop.launch("app", [program(APP)])
        self.assertEnds(old, 0, timeout=8)
        self.assertRunning(DAEMON_ID, [own])
        # The agent's preferences command: a second start with the agent's bundle
        # hands over to the running window and ends; the first instance stays.
        again = self.laptop.launch("again", [program(APP), login_item(APP, "Somnara MenuBar")])
        self.assertEnds(again, 0, timeout=8)
        self.assertAlive(app)
        self.assertEqual(len(instances(DAEMON_ID)), 1)
        self.assertEnds(app, 0, signal.SIGTERM, timeout=8)
        self.assertRunning(DAEMON_ID, [], timeout=3)  # the daemon is no login item

    def test_first_start_makes_both_login_items_and_the_switch_undoes_one(self):
        os.remove(self.laptop.settings_path)  # a new user
        drv = self.driver()
        self.assertIn("now start at every login", self.ask(drv, "text firstStartNotice"))
        entry = os.path.join(self.autostart, AGENT_ID + ".desktop")

        def assertValid(path):
            check = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
            self.assertEqual((check.returncode, check.stdout + check.stderr), (0, ""), path)
            self.assertNotIn("\nHidden=", read(path))
        assertValid(entry)
        assertValid(os.path.join(self.autostart, DAEMON_ID + ".desktop"))
        self.assertRunning(AGENT_ID, [login_item(DRIVER_APP, "Somnara MenuBar")])
        # Neither a status-notifier host nor an X display here.
        self.assertIn("needs a tray extension", self.ask(drv, "text noStatusAreaNotice"))
        self.assertTrue(os.path.isfile(self.laptop.settings_path), "the domain exists from now on")
        self.quit(drv)  # login items run on
        self.assertEqual((len(instances(AGENT_ID)), len(instances(DAEMON_ID))), (1, 1))
        # The switch removes the entry and stops the agent.
        drv = self.driver()
        self.assertEqual(self.ask(drv, "click agentLoginItem"), "unchecked")
        self.assertFalse(os.path.exists(entry))
        self.assertRunning(AGENT_ID, [], timeout=3)

    def test_choosing_hibernate_reaches_the_machine_within_a_second(self):
        drv = self.driver()
        self.ask(drv, "click sleepMode2")
        self.assertWithin(5, lambda: self.laptop.mode() == 0, lambda: log_of(drv))
        start = time.monotonic()
        self.ask(drv, "click sleepMode3")
        self.assertWithin(3, lambda: self.laptop.mode() == 1, lambda: "mode %r" % self.laptop.mode())
        self.assertLess(time.monotonic() - start, 1.0)
        self.assertWithin(2, lambda: self.ask(drv, "text status") == "Machine will hibernate on sleep",
                          "the status line follows the applied mode")

    def test_a_log_no_program_opens_gets_a_message_with_its_path(self):
        replace(self.log_file, b"a line\n")
        self.laptop.env["PATH"] = os.path.join(self.laptop.tmp, "empty")  # no xdg-open, nor any browser
        drv = self.driver()
        self.ask(drv, "press Show Log")
        self.assertWithin(3, lambda: self.ask(drv, "message -", expect_ok=False), lambda: log_of(drv))
        self.assertEqual(self.ask(drv, "message -"),
                         "Log: No program to open this file was found. The file is at:\\n" + self.log_file)
        self.assertIn("Can't open logfile: " + self.log_file, log_of(drv))
        self.assertNotIn("Can't find logfile", log_of(drv))

    def test_unreadable_settings_leave_the_window_working_on_defaults(self):
        self.laptop.write_settings(b"\x00 not a property list")
        drv = self.driver()
        self.ask(drv, "click sleepMode3")
        self.assertWithin(3, lambda: self.laptop.mode() == 1)

    def test_diagnostics_go_to_the_log_file_once_never_to_the_terminal(self):
        """On a machine without sleep support every look at the sleep state fails."""
        self.laptop.fake_laptop("states", "")
        app = self.laptop.launch("app", [program(APP)])
        diagnostic = "machine does not support sleep"
        self.assertWithin(8, lambda: diagnostic in (read(self.log_file) or ""), lambda: read(self.log_file))
        time.sleep(4)  # many more looks: the window's status, the daemon's messages
        self.assertAlive(app)
        self.assertEqual(read(self.log_file).count(diagnostic), 1, read(self.log_file))
        self.assertNotIn(diagnostic, log_of(app))
        for line in read(self.log_file).splitlines():
            self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ")


if __name__ == "__main__":
    main_in_own_pid_namespace()
