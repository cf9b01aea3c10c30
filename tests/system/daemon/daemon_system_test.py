#!/usr/bin/python3
"""The daemon program as a black box on the fake laptop: what only a real
process on real buses and files shows (file and battery watches, bus
messages, signals, a second instance, a lost bus). ctest sets SOMNARA_DAEMON and
SOMNARA_FAKE_LAPTOP."""

import os
import plistlib
import signal
import sys
import time

import dbus
import dbus.lowlevel

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import (ADAPTIVE, MOCK, SAVED_DEFAULT, SESSION_ID, LaptopTest, log_of,  # noqa: E402
                            main_in_own_pid_namespace, read, stop)

DAEMON = os.environ.get("SOMNARA_DAEMON", "")
MSG_RESET_TO_DEFAULT = 2
# Triggers act well inside the daemon's 3 s retry rhythm, which would mend the mode anyway.
REACTION = 1.5


class DaemonTest(LaptopTest):
    LAPTOP = dict(display=None, unlimited_changes=True)

    def setUp(self):
        super().setUp()
        self.laptop.start_logind()

    def start(self, name="daemon", argv=None):
        return self.laptop.launch(name, argv or [DAEMON])

    def assertReacts(self, wanted, daemon, within=REACTION):
        took = self.assertWithin(within + 1, lambda: self.laptop.mode() == wanted,
                                 lambda: "mode %r, wanted %r" % (self.laptop.mode(), wanted), lambda: log_of(daemon))
        self.assertLess(took, within)

    def settle(self, wanted, battery=15, settings=ADAPTIVE):
        """The daemon started on battery percent with settings, once it applied wanted."""
        self.laptop.set_battery(battery)
        self.laptop.write_settings(settings)
        daemon = self.start()
        self.assertReacts(wanted, daemon, within=3)
        return daemon

    def post_message(self, msg_type, payload=None):
        """A controller message as another program's notification group sends it."""
        self.laptop.refill_change_budget()
        info = dict(MessageType=msg_type, ProcessID="system-test-%d" % os.getpid(),
                    **({"UserInfo": payload} if payload else {}))
        msg = dbus.lowlevel.SignalMessage("/de/orvane/DistributedNotificationCenter",
                                          "de.orvane.DistributedNotificationCenter", "Notification")
        msg.append("ORVDistributedNotificationGroupMessage", "de.orvane.Somnara.DistributedMessageGroup.%d"
                   % os.geteuid(), plistlib.dumps(info).decode(), signature="sss")
        self.laptop.session_bus.connection.send_message(msg)
        self.laptop.session_bus.connection.flush()

    def write_settings_in_place(self, settings):
        """As `cat new > file` does, slowly: truncate, half the file, a pause, the rest."""
        data = plistlib.dumps(settings)
        self.laptop.refill_change_budget()
        with open(self.laptop.settings_path, "wb") as f:
            time.sleep(0.2)
            f.write(data[:len(data) // 2])
            f.flush()
            time.sleep(0.2)
            f.write(data[len(data) // 2:])

    def moved_aside(self):
        folder = os.path.dirname(self.laptop.settings_path)
        return [n for n in os.listdir(folder) if ".plist.corrupt-" in n]


class Policy(DaemonTest):

    def test_start_applies_within_a_second(self):
        for settings, battery, wanted in [(ADAPTIVE, 15, 3), ({"somnaramodeindex": 2}, 3, 0),
                                          (None, 15, SAVED_DEFAULT)]:  # no settings: the saved default
            with self.subTest(settings=settings, battery=battery):
                self.laptop.set_battery(battery)
                if settings is None:
                    os.unlink(self.laptop.settings_path)
                else:
                    self.laptop.write_settings(settings)
                self.laptop.write_mode(0 if wanted == SAVED_DEFAULT else SAVED_DEFAULT)
                daemon = self.start()
                self.assertReacts(wanted, daemon, within=1.0)
                stop(daemon)

    def test_battery_and_settings_changes_are_followed(self):
        daemon = self.settle(0, battery=100)
        for battery, wanted in [(15, 3), (4, 1), (21, 0)]:
            with self.subTest(battery=battery):
                self.laptop.set_battery(battery)
                self.assertReacts(wanted, daemon)
        self.laptop.set_battery(15)
        self.assertReacts(3, daemon)
        # through the file, and rewritten in place (never taken for corrupt)
        for change in (self.laptop.write_settings, self.write_settings_in_place):
            for settings, wanted in [({"somnaramodeindex": 3}, 1), ({"somnaramodeindex": 1, "hibernatelevel": 10}, 0),
                                     ({"somnaramodeindex": 0}, SAVED_DEFAULT), (ADAPTIVE, 3)]:
                with self.subTest(via=change.__name__, settings=settings):
                    change(settings)
                    self.assertReacts(wanted, daemon)
        self.assertEqual(self.moved_aside(), [])
        self.assertAlive(daemon)

    def test_reset_wake_and_session_switch_act_before_the_retry_timer(self):
        daemon = self.settle(3)
        first_apply = time.monotonic()

        def prepare_for_sleep(sleeping):
            self.laptop.logind("EmitSignal", "org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                               [dbus.Boolean(sleeping)], interface=MOCK)

        def wake():
            prepare_for_sleep(True)
            self.laptop.write_mode(0)  # changed while the machine slept
            prepare_for_sleep(False)

        def reset():  # another program put the system default in place and says so
            self.laptop.write_mode(SAVED_DEFAULT)
            self.post_message(MSG_RESET_TO_DEFAULT)

        def session(active):
            self.laptop.refill_change_budget()
            self.laptop.logind("Set", "org.freedesktop.login1.Session", "Active", dbus.Boolean(active),
                               interface="org.freedesktop.DBus.Properties", path="/session/" + SESSION_ID)

        for name, trigger, wanted in [("wake", wake, 3), ("reset", reset, 3),
                                      ("session inactive", lambda: session(False), SAVED_DEFAULT),
                                      ("session active", lambda: session(True), 3)]:
            with self.subTest(name):
                trigger()
                self.assertReacts(wanted, daemon)
                # The daemon's timers first fire about 3 s after its first application.
                self.assertLess(time.monotonic() - first_apply, 2.5)
        self.assertAlive(daemon)


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
                self.assertEnds(daemon, 0)
                self.assertEqual(self.laptop.mode(), SAVED_DEFAULT)

    def test_second_instance_ends_the_first_and_takes_over(self):
        first = self.settle(0, battery=100)
        second = self.start("second")
        self.assertEnds(first, 0, timeout=3)
        self.laptop.set_battery(3)
        self.assertReacts(1, second, within=3)
        self.assertIn("Found myself running already", log_of(second))


class PeersAndFaults(DaemonTest):

    def test_corrupt_settings_are_moved_aside_and_a_later_write_applies(self):
        self.laptop.write_mode(0)
        daemon = self.settle(SAVED_DEFAULT, settings=b"<?xml version='1.0'?><plist><dict><key>somnaramodeindex</key>")
        # After a grace in which a writer at work could finish the file.
        self.assertWithin(5, self.moved_aside, "not moved aside", lambda: log_of(daemon))
        self.assertEqual(len(self.moved_aside()), 1)
        self.laptop.write_settings({"somnaramodeindex": 3})
        self.assertReacts(1, daemon, within=3)

    def test_lost_session_bus_leaves_the_policy_running(self):
        daemon = self.settle(0, battery=100)
        self.laptop.session_bus.close()
        self.laptop.set_battery(3)
        self.assertReacts(1, daemon, within=4)
        self.laptop.write_mode(0)  # and the retry timer still repairs the mode
        self.assertReacts(1, daemon, within=4)
        self.assertIn("session bus not connected", log_of(daemon))


class Capabilities(DaemonTest):

    def cannot(self, *verbs):
        for verb in verbs:
            self.laptop.logind("AddMethod", "org.freedesktop.login1.Manager", "Can" + verb, "", "s", "ret = 'na'",
                               interface=MOCK)

    def test_a_machine_that_cannot_hibernate_still_sleeps_in_every_mode(self):
        # A kernel without "disk", logind saying "na", systemd running, and a
        # hibernate drop-in left from a time when hibernation worked.
        self.laptop.fake_laptop("states", "freeze mem")
        self.cannot("Hibernate", "HybridSleep")
        root = self.laptop.root
        os.makedirs(os.path.join(root, "run/systemd/system"))
        persistent = os.path.join(root, "etc/systemd/system/systemd-suspend.service.d/50-somnara.conf")
        os.makedirs(os.path.dirname(persistent))
        with open(persistent, "w") as f:
            f.write("[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep hibernate\n")
        daemon = self.settle(0, battery=3, settings={"somnaramodeindex": 3})
        for index, battery in [(4, 80), (1, 15), (1, 3), (0, 80), (2, 80)]:
            with self.subTest(index=index, battery=battery):
                self.laptop.set_battery(battery)
                self.laptop.write_settings({"somnaramodeindex": index})
                time.sleep(0.5)
                self.assertEqual(self.laptop.mode(), 0, log_of(daemon))
        self.assertEqual(read(os.path.join(root, "run/systemd/system/systemd-suspend.service.d/"
                                                 "60-somnara-runtime.conf")),
                         "[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep suspend\n")
        self.assertIn("systemd-sleep hibernate || exec /lib/systemd/systemd-sleep suspend", read(persistent))
        self.assertEqual(len(read(os.path.join(root, "run/somnara/systemd-reloads")).splitlines()), 1,
                         "one reload, for the one change")
        log = log_of(daemon)
        self.assertEqual(log.count("Sleep support: suspend yes, hibernate no (not offered by the kernel), "
                                   "hybrid sleep no (not offered by the kernel)"), 1, log)
        self.assertNotIn("Can't set next sleep state", log)
        self.assertAlive(daemon)


if __name__ == "__main__":
    main_in_own_pid_namespace()
