#!/usr/bin/python3
"""The tray agent as a person sees it on an XEmbed tray host: Xvfb, Debian's
`trayer` panel at the top right, no StatusNotifierWatcher (so Qt embeds an
icon window), a right click on the icon (xdotool) to open the menu. Saves
agent-tray-icon.png (the panel's corner, enlarged) and agent-menu.png (the
open menu) into SOMNARA_SCREENSHOTS (default: the current directory), and
checks that the icon and the menu were drawn at all."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import PrivateBus, Xvfb, replace, stop, wait_for  # noqa: E402

AGENT = os.environ.get("SOMNARA_AGENT", "")
FAKE_LAPTOP = os.environ.get("SOMNARA_FAKE_LAPTOP", "")
OUT = os.environ.get("SOMNARA_SCREENSHOTS", os.getcwd())
WIDTH, HEIGHT, PANEL = 480, 360, 32
TOOLS = ("Xvfb", "trayer", "xwd", "convert", "xdotool")


class Screenshots(unittest.TestCase):

    def setUp(self):
        missing = [tool for tool in TOOLS if not shutil.which(tool)]
        if missing:
            self.skipTest("not installed: " + " ".join(missing))
        self.assertTrue(os.path.isfile(AGENT) and os.path.isfile(FAKE_LAPTOP), "run through ctest")
        self.tmp = tempfile.mkdtemp(prefix="somnara-screenshots-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        root = os.path.join(self.tmp, "root")
        subprocess.run([FAKE_LAPTOP, "init", root, "0"], check=True)
        replace(os.path.join(root, "run/somnara/hibernatemode"), b"0\n")
        self.procs = []
        self.addCleanup(lambda: [stop(p) for p in reversed(self.procs)])
        session, system = PrivateBus(), PrivateBus()
        self.addCleanup(session.close)
        self.addCleanup(system.close)
        xvfb = Xvfb("%dx%dx24" % (WIDTH, HEIGHT), extra=("-wr",))  # a white desktop
        self.addCleanup(xvfb.close)
        self.display = xvfb.display
        self.env = dict(os.environ, SOMNARA_ROOT=root, XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                        XDG_STATE_HOME=os.path.join(self.tmp, "state"), XDG_RUNTIME_DIR=self.tmp,
                        DBUS_SESSION_BUS_ADDRESS=session.address, DBUS_SYSTEM_BUS_ADDRESS=system.address,
                        DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        self.env.pop("XDG_CURRENT_DESKTOP", None)

    def run_quietly(self, argv):
        proc = subprocess.Popen(argv, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(proc)
        return proc

    def screen(self, name):
        path = os.path.join(self.tmp, name + ".png")
        xwd = subprocess.run(["xwd", "-root", "-silent", "-display", self.display], check=True,
                             capture_output=True).stdout
        subprocess.run(["convert", "xwd:-", path], input=xwd, check=True)
        return path

    def colours(self, path, crop):
        out = subprocess.run(["convert", path, "-crop", crop, "+repage", "-format", "%k", "info:"],
                             check=True, capture_output=True, text=True).stdout
        return int(out.strip())

    def test_tray_icon_and_open_menu(self):
        self.run_quietly(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                          "--height", str(PANEL), "--iconspacing", "4", "--tint", "0x2e3440",
                          "--transparent", "true", "--alpha", "0", "--SetDockType", "true"])
        agent = self.run_quietly([AGENT])
        corner = "%dx%d+%d+0" % (3 * PANEL, PANEL, WIDTH - 3 * PANEL)
        empty = self.screen("empty")
        # The icon is drawn once the panel embedded it: more colours than the bare panel.
        bare = self.colours(empty, corner)
        drawn = wait_for(lambda: self.colours(self.screen("tray"), corner) > bare + 8, 15)
        self.assertIsNotNone(drawn, "no icon appeared in the panel")
        self.assertIsNone(agent.poll())
        tray = self.screen("tray")

        subprocess.run(["xdotool", "mousemove", str(WIDTH - PANEL // 2 - 2), str(PANEL // 2), "click", "3"],
                       env=self.env, check=True)
        below = "%dx%d+0+%d" % (WIDTH, HEIGHT - PANEL, PANEL)
        desktop = self.colours(tray, below)
        self.assertIsNotNone(wait_for(lambda: self.colours(self.screen("menu"), below) > desktop + 8, 10),
                             "no menu opened")
        time.sleep(0.5)  # the menu's fade-in, where a style has one
        menu = self.screen("menu")

        os.makedirs(OUT, exist_ok=True)
        subprocess.run(["convert", tray, "-crop", corner, "+repage", "-filter", "point", "-resize", "300%",
                        os.path.join(OUT, "agent-tray-icon.png")], check=True)
        subprocess.run(["convert", menu, "-crop", "%dx%d+%d+0" % (WIDTH // 2 + 60, HEIGHT, WIDTH // 2 - 60),
                        "+repage", os.path.join(OUT, "agent-menu.png")], check=True)
        stop(agent, signal.SIGTERM)


if __name__ == "__main__":
    unittest.main()
