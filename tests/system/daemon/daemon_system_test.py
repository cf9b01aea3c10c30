#!/usr/bin/python3
"""The daemon program as a black box: the built bundle on a fake laptop under a
temporary machine root, with a private session bus and a second private bus
carrying python-dbusmock's logind. Run through ctest, which sets
SOMNARA_DAEMON, SOMNARA_PREFS_PEER and SOMNARA_FAKE_LAPTOP."""

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
import dbus.lowlevel

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import PrivateBus, ProgramLogs, main_in_own_pid_namespace, replace, stop, wait_for  # noqa: E402

DAEMON = os.environ.get("SOMNARA_DAEMON", "")
PREFS_PEER = os.environ.get("SOMNARA_PREFS_PEER", "")
FAKE_LAPTOP = os.environ.get("SOMNARA_FAKE_LAPTOP", "")

SAVED_DEFAULT = 25  # the machine's saved hibernate mode; no policy state maps to it
SETTINGS_DOMAIN = "de.orvane.Somnara"
SESSION_ID = "c7"
MSG_RESET_TO_DEFAULT, MSG_SETTINGS = 2, 3
# Triggers must act well inside the daemon's 3-second retry rhythm, which would
# mend the mode anyway; the margin covers a loaded machine.
REACTION = 1.5
ADAPTIVE = {"somnaramodeindex": 1}


class DaemonTest(ProgramLogs, unittest.TestCase):

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("the daemon's helper only runs the power tool for root here")
        for path in (DAEMON, PREFS_PEER, FAKE_LAPTOP):
            self.assertTrue(os.path.isfile(path), "missing program %r; run through ctest" % path)
        self.tmp = tempfile.mkdtemp(prefix="somnara-daemon-test-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.root = os.path.join(self.tmp, "root")
        self.mode_path = os.path.join(self.root, "run/somnara/hibernatemode")
        self.settings_path = os.path.join(self.tmp, "config/somnara", SETTINGS_DOMAIN + ".plist")
        subprocess.run([FAKE_LAPTOP, "init", self.root, str(SAVED_DEFAULT)], check=True)
        self.write_mode(SAVED_DEFAULT)  # booted with the saved setting in force
        self.procs = []
        self.addCleanup(self.stop_all)
        self.session_bus, self.system_bus = PrivateBus(), PrivateBus()
        self.addCleanup(self.session_bus.close)
        self.addCleanup(self.system_bus.close)
        self.env = dict(os.environ, SOMNARA_ROOT=self.root, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                        XDG_STATE_HOME=os.path.join(self.tmp, "state"), XDG_SESSION_ID=SESSION_ID,
                        DBUS_SESSION_BUS_ADDRESS=self.session_bus.address,
                        DBUS_SYSTEM_BUS_ADDRESS=self.system_bus.address)
        self.procs.append(subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"],
                                           env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.assertIsNotNone(wait_for(lambda: self.system_bus.connection.name_has_owner("org.freedesktop.login1"),
                                      timeout=10), "logind mock did not come up")
        self.logind("", "org.freedesktop.DBus.Mock", "AddSession", SESSION_ID, "seat0", os.geteuid(), "tester", True)

    def mode(self):
        try:
            with open(self.mode_path) as f:
                return int(f.read())
        except (OSError, ValueError):
            return None

    def refill_change_budget(self):
        """These tests change the mode far faster than anyone would, and the
        power tool allows a burst of five changes, then one a second (its own
        tests cover that): each step starts with a full budget."""
        try:
            os.remove(os.path.join(self.root, "run/somnara/changes"))
        except FileNotFoundError:
            pass

    def write_mode(self, value):
        """Someone else changes the active mode behind the daemon's back."""
        self.refill_change_budget()
        replace(self.mode_path, b"%d\n" % value)

    def set_battery(self, percent):
        self.refill_change_budget()
        subprocess.run([FAKE_LAPTOP, "set", self.root, str(percent)], check=True)

    def wait_mode(self, value, timeout=3.0):
        return wait_for(lambda: self.mode() == value, timeout)

    def assertReacts(self, wanted, daemon, within=REACTION):
        took = self.wait_mode(wanted, timeout=within + 1)
        self.assertIsNotNone(took, "mode %r, wanted %r:\n%s" % (self.mode(), wanted, self.log_of(daemon)))
        self.assertLess(took, within)

    def write_settings(self, data):
        self.refill_change_budget()
        replace(self.settings_path, data)

    def write_settings_in_place(self, settings):
        """As `cat new > file` does, slowly: truncate, half the file, a pause, the rest."""
        data = plistlib.dumps(settings)
        self.refill_change_budget()
        with open(self.settings_path, "wb") as f:
            time.sleep(0.2)
            f.write(data[:len(data) // 2])
            f.flush()
            time.sleep(0.2)
            f.write(data[len(data) // 2:])

    def moved_aside(self):
        settings_dir = os.path.dirname(self.settings_path)
        return [n for n in os.listdir(settings_dir) if n.startswith(SETTINGS_DOMAIN + ".plist.corrupt-")]

    def post_message(self, msg_type, payload=None):
        """A controller message as another program's notification group sends it."""
        self.refill_change_budget()
        info = {"MessageType": msg_type, "ProcessID": "system-test-%d" % os.getpid()}
        if payload is not None:
            info["UserInfo"] = payload
        msg = dbus.lowlevel.SignalMessage("/de/orvane/DistributedNotificationCenter",
                                          "de.orvane.DistributedNotificationCenter", "Notification")
        msg.append("ORVDistributedNotificationGroupMessage", "de.orvane.Somnara.DistributedMessageGroup.%d"
                   % os.geteuid(), plistlib.dumps(info).decode(), signature="sss")
        self.session_bus.connection.send_message(msg)
        self.session_bus.connection.flush()

    def change_settings(self, settings):
        """What the preferences application does on a change: store, then broadcast."""
        self.write_settings(settings)
        self.post_message(MSG_SETTINGS, {"somnaramodeindex": settings.get("somnaramodeindex", 0),
                                         "hibernatelevel": settings.get("hibernatelevel", 20),
                                         "blackandwhiteicon": False})

    def logind(self, path, interface, method, *args):
        obj = self.system_bus.connection.get_object("org.freedesktop.login1", "/org/freedesktop/login1" + path)
        getattr(obj, method)(*args, dbus_interface=interface)

    def prepare_for_sleep(self, sleeping):
        self.refill_change_budget()
        self.logind("", "org.freedesktop.DBus.Mock", "EmitSignal", "org.freedesktop.login1.Manager",
                    "PrepareForSleep", "b", [dbus.Boolean(sleeping)])

    def set_session_active(self, active):
        self.refill_change_budget()
        self.logind("/session/" + SESSION_ID, "org.freedesktop.DBus.Properties", "Set",
                    "org.freedesktop.login1.Session", "Active", dbus.Boolean(active))

    def start(self, name="daemon", argv=None):
        return self.launch(name, argv or [DAEMON], self.env)

    def assertRunning(self, proc):
        self.assertIsNone(proc.poll(), "daemon ended (%s):\n%s" % (proc.returncode, self.log_of(proc)))

    def assertExits(self, proc, timeout=3.0):
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail("daemon still running after %.1f s:\n%s" % (timeout, self.log_of(proc)))

    def settle(self, wanted, battery=15, settings=ADAPTIVE):
        """Starts the daemon on battery percent with settings; waits for its first application."""
        self.set_battery(battery)
        self.write_settings(settings)
        daemon = self.start()
        self.assertIsNotNone(self.wait_mode(wanted), "mode %r, wanted %r:\n%s"
                             % (self.mode(), wanted, self.log_of(daemon)))
        return daemon


class Policy(DaemonTest):

    def test_start_applies_policy_within_a_second(self):
        cases = [  # (settings, battery percent, hibernatemode wanted)
            (ADAPTIVE, 100, 0), (ADAPTIVE, 15, 3), (ADAPTIVE, 3, 1),
            ({"somnaramodeindex": 1, "hibernatelevel": 50}, 40, 3),  # own threshold
            ({"somnaramodeindex": 2}, 3, 0),                         # fixed mode ignores the battery
            (None, 15, SAVED_DEFAULT),                               # no settings: system default
        ]
        for settings, battery, wanted in cases:
            with self.subTest(settings=settings, battery=battery):
                self.set_battery(battery)
                if settings is None:
                    os.unlink(self.settings_path)
                else:
                    self.write_settings(settings)
                self.write_mode(0 if wanted == SAVED_DEFAULT else SAVED_DEFAULT)
                daemon = self.start()
                self.assertReacts(wanted, daemon, within=1.0)
                stop(daemon)

    def test_battery_changes_are_followed(self):
        daemon = self.settle(0, battery=100)
        for battery, wanted in [(15, 3), (4, 1), (5, 3), (21, 0), (20, 3), (2, 1)]:
            with self.subTest(battery=battery):
                self.set_battery(battery)
                self.assertReacts(wanted, daemon)
        self.assertRunning(daemon)

    def test_settings_changes_through_the_broadcast_and_through_the_file_alone(self):
        for change in (self.change_settings, self.write_settings):
            daemon = self.settle(3)
            for settings, wanted in [({"somnaramodeindex": 3}, 1), ({"somnaramodeindex": 2}, 0),
                                     ({"somnaramodeindex": 4}, 3),
                                     ({"somnaramodeindex": 1, "hibernatelevel": 10}, 0),  # 15 % is above it
                                     ({"somnaramodeindex": 0}, SAVED_DEFAULT)]:
                with self.subTest(via=change.__name__, settings=settings):
                    change(settings)
                    self.assertReacts(wanted, daemon)
            stop(daemon)

    def test_reset_wake_and_session_switch_act_before_the_retry_timer(self):
        daemon = self.settle(3)
        first_apply = time.monotonic()

        def wake():
            self.prepare_for_sleep(True)
            self.write_mode(0)  # changed while the machine slept
            self.prepare_for_sleep(False)

        def reset():  # another program put the system default in place and says so
            self.write_mode(SAVED_DEFAULT)
            self.post_message(MSG_RESET_TO_DEFAULT)

        steps = [("wake", wake, 3), ("reset", reset, 3),
                 ("session inactive", lambda: self.set_session_active(False), SAVED_DEFAULT),
                 ("session active", lambda: self.set_session_active(True), 3)]
        for name, trigger, wanted in steps:
            with self.subTest(name):
                trigger()
                self.assertReacts(wanted, daemon)
                # The daemon's timers first fire about 3 s after its first application.
                self.assertLess(time.monotonic() - first_apply, 2.5)
        self.assertRunning(daemon)


class Ending(DaemonTest):

    def test_termination_signal_restores_the_system_default(self):
        # (signal, seconds between repeats while it ends; None: once). A newer
        # instance repeats its request every 50 ms until the old one is gone.
        for sig, repeat in [(signal.SIGTERM, None), (signal.SIGINT, None), (signal.SIGTERM, 0.005)]:
            with self.subTest(signal=sig.name, repeat=repeat):
                daemon = self.settle(3)
                daemon.send_signal(sig)
                deadline = time.monotonic() + 3.0
                while repeat and daemon.poll() is None and time.monotonic() < deadline:
                    time.sleep(repeat)
                    daemon.send_signal(sig)
                self.assertEqual(self.assertExits(daemon), 0, self.log_of(daemon))
                self.assertEqual(self.mode(), SAVED_DEFAULT)

    def test_second_instance_ends_the_first(self):
        first = self.settle(0, battery=100)
        second = self.start("second")
        self.assertExits(first)
        # The first put the system default back on its way out; the second applies again.
        self.assertIsNotNone(self.wait_mode(0), "mode %r:\n%s" % (self.mode(), self.log_of(second)))
        self.set_battery(3)
        self.assertIsNotNone(self.wait_mode(1), "second instance does not follow the battery")
        self.assertRunning(second)
        self.assertIn("Found myself running already", self.log_of(second))


class PeersAndFaults(DaemonTest):

    def test_preferences_program_change_reaches_daemon_and_back(self):
        daemon = self.settle(3)
        peer = self.start("peer", [PREFS_PEER, "3", "1", "4000"])
        try:
            status = peer.wait(timeout=8)
        except subprocess.TimeoutExpired:
            self.fail("peer hung:\n" + self.log_of(peer))
        self.assertEqual(status, 0, "peer:\n%s\ndaemon:\n%s" % (self.log_of(peer), self.log_of(daemon)))
        self.assertIn("applied 1", self.log_of(peer))
        self.assertEqual(self.mode(), 1)
        with open(self.settings_path, "rb") as f:
            self.assertEqual(plistlib.load(f).get("somnaramodeindex"), 3)
        self.assertRunning(daemon)

    def test_settings_rewritten_in_place_are_applied_and_never_moved_aside(self):
        daemon = self.settle(3)
        for index, wanted in [(3, 1), (2, 0), (4, 3)] * 2:
            with self.subTest(index=index):
                self.write_settings_in_place({"somnaramodeindex": index})
                self.assertReacts(wanted, daemon)
        self.assertEqual(self.moved_aside(), [])
        self.assertRunning(daemon)

    def test_corrupt_settings_are_moved_aside_and_a_later_write_applies(self):
        self.write_mode(0)
        daemon = self.settle(SAVED_DEFAULT, settings=b"<?xml version='1.0'?><plist><dict><key>somnaramodeindex</key>")
        # After a grace in which a writer at work could finish the file.
        self.assertIsNotNone(wait_for(self.moved_aside, timeout=5.0), "not moved aside:\n" + self.log_of(daemon))
        self.assertEqual(len(self.moved_aside()), 1)
        self.write_settings({"somnaramodeindex": 3})
        self.assertIsNotNone(self.wait_mode(1), "mode %r:\n%s" % (self.mode(), self.log_of(daemon)))
        self.assertRunning(daemon)

    def test_lost_session_bus_leaves_the_policy_running(self):
        daemon = self.settle(0, battery=100)
        self.session_bus.close()
        for battery, wanted in [(15, 3), (3, 1)]:
            self.set_battery(battery)
            self.assertIsNotNone(self.wait_mode(wanted, timeout=4.0), "mode %r:\n%s"
                                 % (self.mode(), self.log_of(daemon)))
        self.write_mode(0)  # and the retry timer still repairs the mode
        self.assertIsNotNone(self.wait_mode(1, timeout=4.0))
        self.assertRunning(daemon)
        self.assertIn("session bus not connected", self.log_of(daemon))


class Capabilities(DaemonTest):

    STALE_DROP_IN = "[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep hibernate\n"
    RELOADS = "run/somnara/systemd-reloads"

    def file(self, relative):
        try:
            with open(os.path.join(self.root, relative)) as f:
                return f.read()
        except OSError:
            return None

    def test_a_machine_that_cannot_hibernate_still_sleeps_in_every_mode(self):
        # A kernel without "disk", logind saying "na", systemd running, and a
        # hibernate drop-in left from a time when hibernation worked.
        subprocess.run([FAKE_LAPTOP, "states", self.root, "freeze mem"], check=True)
        for method in ("CanHibernate", "CanHybridSleep"):
            self.logind("", "org.freedesktop.DBus.Mock", "AddMethod", "org.freedesktop.login1.Manager", method,
                        "", "s", "ret = 'na'")
        os.makedirs(os.path.join(self.root, "run/systemd/system"))
        persistent = os.path.join(self.root, "etc/systemd/system/systemd-suspend.service.d/50-somnara.conf")
        os.makedirs(os.path.dirname(persistent))
        with open(persistent, "w") as f:
            f.write(self.STALE_DROP_IN)
        daemon = self.settle(0, battery=3, settings={"somnaramodeindex": 3})
        for settings, battery in [({"somnaramodeindex": 4}, 80), ({"somnaramodeindex": 1}, 15),
                                  ({"somnaramodeindex": 1}, 3), ({"somnaramodeindex": 0}, 80),
                                  ({"somnaramodeindex": 2}, 80)]:
            with self.subTest(settings=settings, battery=battery):
                self.set_battery(battery)
                self.write_settings(settings)
                time.sleep(0.5)
                self.assertEqual(self.mode(), 0, self.log_of(daemon))
        runtime = self.file("run/systemd/system/systemd-suspend.service.d/60-somnara-runtime.conf")
        self.assertEqual(runtime, "[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep suspend\n")
        self.assertIn("systemd-sleep hibernate || exec /lib/systemd/systemd-sleep suspend", self.file(persistent))
        self.assertEqual(len(self.file(self.RELOADS).splitlines()), 1, "one reload, for the one change")
        log = self.log_of(daemon)
        self.assertEqual(log.count("Sleep support: suspend yes, hibernate no (not offered by the kernel), "
                                   "hybrid sleep no (not offered by the kernel)"), 1, log)
        self.assertNotIn("Can't set next sleep state", log)
        self.assertRunning(daemon)

    def test_a_machine_without_sleep_says_so_once_and_runs_nothing(self):
        subprocess.run([FAKE_LAPTOP, "states", self.root, ""], check=True)
        for method in ("CanSuspend", "CanHibernate", "CanHybridSleep"):
            self.logind("", "org.freedesktop.DBus.Mock", "AddMethod", "org.freedesktop.login1.Manager", method,
                        "", "s", "ret = 'na'")
        self.write_settings({"somnaramodeindex": 3})
        daemon = self.start()
        time.sleep(7)  # two retry ticks and more
        log = self.log_of(daemon)
        self.assertEqual(log.count("This machine can't sleep: not offered by the kernel"), 1, log)
        self.assertNotIn("machine does not support sleep", log, "diagnostics stay off the terminal")
        self.assertNotIn("Can't set next sleep state", log)
        self.assertNotIn("Waiting for sleep state", log)
        with open(os.path.join(self.tmp, "state/somnara/de.orvane.Somnara.Daemon.log")) as f:
            log_file = f.read()
        self.assertRegex(log_file, r"(?m)^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} .*"
                                   r"This machine can't sleep: not offered by the kernel$")
        self.assertEqual(self.mode(), SAVED_DEFAULT, "nothing was written")
        self.assertRunning(daemon)


if __name__ == "__main__":
    main_in_own_pid_namespace()
