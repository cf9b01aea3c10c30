#!/usr/bin/python3
"""The tray agent and the preferences window in a Wayland session: weston's
headless backend on a private XDG_RUNTIME_DIR, Qt's wayland platform, the
private buses and stand-ins of the agent's tests. DISPLAY names a trap
display that counts connection attempts, as an Xwayland display would stand
in a real Wayland session: nothing may ask X11 there. Skipped, with the
reason, only where weston or Qt's wayland platform is missing or weston
cannot start. Run through ctest, which sets SOMNARA_AGENT, SOMNARA_DAEMON,
SOMNARA_APP and SOMNARA_FAKE_LAPTOP."""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "agent"))
from agent_system_test import AgentTest, replace, stop, wait_for  # noqa: E402
from somnara_system import main_in_own_pid_namespace  # noqa: E402

APP = os.environ.get("SOMNARA_APP", "")
SOCKET = "somnara-wayland"
PANEL = "sys/class/drm/card0-eDP-1"
SCREEN_SAVER = ("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver")
KEEP_AWAKE_TICK = 29.0  # seconds from Insomnia's start to its first tick, and between ticks
# What a program may say about X11 or its display platform.
X11_WORDS = re.compile(r"(?i)\bx11\b|\bxcb\b|\bxlib\b|\bdisplay\b|qt\.qpa")


class XTrap:
    """A listening X11 display socket (the abstract one, which libxcb and
    Xlib try first) on a free display number: counts connection attempts
    and closes each at once."""

    def __init__(self):
        self.attempts = 0
        for number in range(700, 800):
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                sock.bind("\0/tmp/.X11-unix/X%d" % number)
            except OSError:
                sock.close()
                continue
            if os.path.exists("/tmp/.X11-unix/X%d" % number):
                sock.close()
                continue
            self.display, self.sock = ":%d" % number, sock
            break
        else:
            raise RuntimeError("no free X display number for the trap")
        self.sock.listen(8)
        self.sock.settimeout(0.1)
        self.running = True
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while self.running:
            try:
                conn, _ = self.sock.accept()
            except (socket.timeout, OSError):
                continue
            self.attempts += 1
            conn.close()

    def close(self):
        self.running = False
        self.thread.join()
        self.sock.close()


class WaylandSession(AgentTest):

    def start_display(self):
        missing = [what for what, there in (
            ("weston", shutil.which("weston")),
            ("Qt's wayland platform (qt6-wayland)",
             any(os.path.exists(os.path.join(d, "qt6/plugins/platforms/libqwayland-generic.so"))
                 for d in ("/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu", "/usr/lib")))) if not there]
        if missing:
            self.skipTest("not installed: " + ", ".join(missing))
        runtime = os.path.join(self.tmp, "runtime")
        os.mkdir(runtime, 0o700)
        log = open(os.path.join(self.tmp, "weston.log"), "w+")
        self.addCleanup(log.close)
        weston = subprocess.Popen(["weston", "--backend=headless-backend.so", "--socket=" + SOCKET, "--idle-time=0",
                                   "--no-config"], env=dict(os.environ, XDG_RUNTIME_DIR=runtime),
                                  stdout=log, stderr=subprocess.STDOUT)
        self.addCleanup(stop, weston, signal.SIGTERM)
        if wait_for(lambda: os.path.exists(os.path.join(runtime, SOCKET)) or weston.poll() is not None, 10) is None \
                or weston.poll() is not None:
            log.seek(0)
            self.skipTest("weston's headless backend did not start here:\n" + log.read()[-2000:])
        self.trap = XTrap()
        self.addCleanup(self.trap.close)
        return dict(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY=SOCKET, XDG_SESSION_TYPE="wayland",
                    QT_QPA_PLATFORM="wayland", DISPLAY=self.trap.display)

    def set_panel(self, dpms):
        replace(os.path.join(self.root, PANEL, "status"), b"connected\n")
        replace(os.path.join(self.root, PANEL, "dpms"), dpms.encode() + b"\n")

    def activity_reports(self):
        return len(self.session_bus.call(*SCREEN_SAVER, "org.freedesktop.DBus.Mock", "GetMethodCalls",
                                         "SimulateUserActivity"))

    def test_agent_registers_its_item_asks_no_x11_and_reads_the_panel_quietly(self):
        self.start_services()
        self.set_panel("Off")
        self.write_settings({"somnaramodeindex": 1, "enableinsomniaonlaunch": True, "blinkinterval": 1.0})
        agent = self.start("agent", [os.environ["SOMNARA_AGENT"]])
        service = self.wait_item(agent)
        self.assertIsNotNone(wait_for(lambda: "idle/block" in self.inhibitors(), 5),
                             "Insomnia on launch: %r\n%s" % (self.inhibitors(), self.log_of(agent)))
        started = time.monotonic()  # Insomnia's start, within a few hundredths of a second
        icon = self.item(service, "IconPixmap")
        self.assertIsNotNone(wait_for(lambda: self.item(service, "IconPixmap") != icon, 3), "the icon blinks")
        time.sleep(1)
        settled = self.log_of(agent)

        # The first keep-awake tick: the panel is off, so the user is away and,
        # with logind's veto in place, nothing is reported.
        time.sleep(started + KEEP_AWAKE_TICK + 2 - time.monotonic())
        self.assertEqual(self.activity_reports(), 0, "the panel is off: away\n" + self.log_of(agent))
        # The second: the panel is on, the user present.
        self.set_panel("On")
        self.assertIsNotNone(wait_for(lambda: self.activity_reports() == 1, KEEP_AWAKE_TICK + 3),
                             "the panel is on: present\n" + self.log_of(agent))
        self.assertGreater(time.monotonic() - started, 2 * KEEP_AWAKE_TICK - 1, "reported at the second tick")

        self.assertAlive(agent)
        self.assertEqual(self.trap.attempts, 0, "X11 asked:\n" + self.log_of(agent))
        log = self.log_of(agent)
        self.assertEqual(log[len(settled):], "", "nothing logged over the ticks and blinks")
        self.assertIsNone(X11_WORDS.search(log), log)
        stop(agent, signal.SIGTERM)
        self.assertEqual(agent.returncode, 0, self.log_of(agent))

    def test_preferences_window_runs_without_x11(self):
        self.assertTrue(os.path.isfile(APP), "missing program %r; run through ctest" % APP)
        self.start_services()
        app = self.start("app", [APP])
        time.sleep(4)
        self.assertIsNone(app.poll(), "ended with %s:\n%s" % (app.returncode, self.log_of(app)))
        log = self.log_of(app)
        self.assertIsNone(X11_WORDS.search(log), log)
        self.assertEqual(self.trap.attempts, 0, "X11 asked:\n" + log)
        stop(app, signal.SIGTERM)
        self.assertEqual(app.returncode, 0, self.log_of(app))


if __name__ == "__main__":
    main_in_own_pid_namespace()
