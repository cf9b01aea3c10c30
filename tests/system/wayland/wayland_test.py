#!/usr/bin/python3
"""The tray agent and the preferences window in a Wayland session: weston's
headless backend, Qt's wayland platform, the fake laptop's buses and
stand-ins. DISPLAY names a trap display that counts connection attempts, as
an Xwayland display would stand in a real Wayland session: nothing may ask
X11 there. Skipped, with the reason, only where weston or Qt's wayland
platform is missing or weston cannot start. ctest sets SOMNARA_AGENT,
SOMNARA_APP and SOMNARA_FAKE_LAPTOP."""

import glob
import os
import re
import shutil
import signal
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import (MOCK, LaptopTest, log_of, main_in_own_pid_namespace, replace,  # noqa: E402
                            wait_for)

SOCKET = "somnara-wayland"
PANEL = "sys/class/drm/card0-eDP-1"
KEEP_AWAKE_TICK = 29.0  # seconds from Insomnia's start to its first tick, and between ticks
X11_WORDS = re.compile(r"(?i)\bx11\b|\bxcb\b|\bxlib\b|\bdisplay\b|qt\.qpa")  # talk of X11 or the platform


class XTrap:
    """A listening X11 display socket (the abstract one, which libxcb and Xlib
    try first) on a free display number: counts connection attempts and
    closes each at once."""

    def __init__(self):
        self.attempts, self.running = 0, True
        for number in range(700, 800):
            self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                self.sock.bind("\0/tmp/.X11-unix/X%d" % number)
            except OSError:
                self.sock.close()
                continue
            if not os.path.exists("/tmp/.X11-unix/X%d" % number):
                self.display = ":%d" % number
                break
            self.sock.close()
        else:
            raise RuntimeError("no free X display number for the trap")
        self.sock.listen(8)
        self.sock.settimeout(0.1)
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while self.running:
            try:
                self.sock.accept()[0].close()
                self.attempts += 1
            except OSError:  # socket.timeout too
                pass

    def close(self):
        self.running = False
        self.thread.join()
        self.sock.close()


class WaylandSession(LaptopTest):
    LAPTOP = dict(display=None)

    def setUp(self):
        if not shutil.which("weston") or not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so"):
            self.skipTest("not installed: weston or Qt's wayland platform (qt6-wayland)")
        super().setUp()
        runtime = os.path.join(self.laptop.tmp, "runtime")
        os.mkdir(runtime, 0o700)
        weston = self.laptop.launch("weston", ["weston", "--backend=headless-backend.so", "--socket=" + SOCKET,
                                               "--idle-time=0", "--no-config"],
                                    env=dict(os.environ, XDG_RUNTIME_DIR=runtime))
        if wait_for(lambda: os.path.exists(os.path.join(runtime, SOCKET)) or weston.poll() is not None, 10) is None \
                or weston.poll() is not None:
            self.skipTest("weston's headless backend did not start here:\n" + log_of(weston)[-2000:])
        self.trap = XTrap()
        self.addCleanup(self.trap.close)
        self.laptop.env.update(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY=SOCKET, XDG_SESSION_TYPE="wayland",
                               QT_QPA_PLATFORM="wayland", DISPLAY=self.trap.display)
        self.laptop.start_services()

    def assertQuietAboutX11(self, proc):
        self.assertAlive(proc)
        self.assertEqual(self.trap.attempts, 0, "X11 asked:\n" + log_of(proc))
        self.assertIsNone(X11_WORDS.search(log_of(proc)), log_of(proc))
        self.assertEnds(proc, 0, signal.SIGTERM)

    def set_panel(self, dpms):
        replace(os.path.join(self.laptop.root, PANEL, "status"), b"connected\n")
        replace(os.path.join(self.laptop.root, PANEL, "dpms"), dpms.encode() + b"\n")

    def activity_reports(self):
        return len(self.laptop.session_bus.call("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", MOCK,
                                                "GetMethodCalls", "SimulateUserActivity"))

    def test_agent_registers_its_item_asks_no_x11_and_reads_the_panel_quietly(self):
        self.set_panel("Off")
        self.laptop.write_settings({"somnaramodeindex": 1, "enableinsomniaonlaunch": True, "blinkinterval": 1.0})
        agent = self.laptop.launch("agent", [os.environ["SOMNARA_AGENT"]])
        self.assertWithin(10, self.laptop.tray.services, "no item registered", lambda: log_of(agent))
        service = self.laptop.tray.services()[0]
        self.assertWithin(5, lambda: "idle/block" in self.laptop.inhibitors(), "Insomnia on launch",
                          lambda: log_of(agent))
        started = time.monotonic()  # Insomnia's start, within a few hundredths of a second
        icon = self.laptop.tray.property(service, "IconPixmap")
        self.assertWithin(3, lambda: self.laptop.tray.property(service, "IconPixmap") != icon, "the icon blinks")
        time.sleep(1)
        settled = log_of(agent)
        # The first keep-awake tick: the panel is off, so the user is away and,
        # with logind's veto in place, nothing is reported.
        time.sleep(started + KEEP_AWAKE_TICK + 2 - time.monotonic())
        self.assertEqual(self.activity_reports(), 0, "the panel is off: away\n" + log_of(agent))
        # The second: the panel is on, the user present.
        self.set_panel("On")
        self.assertWithin(KEEP_AWAKE_TICK + 3, lambda: self.activity_reports() == 1, "the panel is on: present",
                          lambda: log_of(agent))
        self.assertGreater(time.monotonic() - started, 2 * KEEP_AWAKE_TICK - 1, "reported at the second tick")
        self.assertEqual(log_of(agent)[len(settled):], "", "nothing logged over the ticks and blinks")
        self.assertQuietAboutX11(agent)

    def test_preferences_window_runs_without_x11(self):
        app = self.laptop.launch("app", [os.environ["SOMNARA_APP"]])
        time.sleep(4)
        self.assertQuietAboutX11(app)


if __name__ == "__main__":
    main_in_own_pid_namespace()
