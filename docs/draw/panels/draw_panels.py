#!/usr/bin/python3
"""Draws the README's pictures of the tray agent on panels into the folder
argv[1]: agent-tray-icon.png and agent-menu.png (trayer, an XEmbed tray, on a
white desktop), agent-menu-lxqt.png and agent-menu-xfce.png (the menu with its
length submenu open) and agent-menu-inhibitors.png (lxqt-panel's list of who
keeps the machine awake). Needs root and the environment of
tests/system/agent/panel_test.py (SOMNARA_AGENT, SOMNARA_DAEMON,
SOMNARA_FAKE_LAPTOP); a panel that is not installed is left out, with a line
saying so."""

import os
import subprocess
import sys
import time

TESTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tests", "system")
sys.path[:0] = [TESTS, os.path.join(TESTS, "agent")]
from panel_test import PANEL, PanelDesktop, missing  # noqa: E402
from somnara_system import FakeLaptop, main_in_own_pid_namespace, wait_for  # noqa: E402

OUT = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.getcwd()


def convert(picture, *args):
    subprocess.run(["convert", picture, *args], check=True)


def draw(panel, size, pictures, **options):
    if missing(panel):
        print("draw_panels: left out %s, not installed: %s" % (panel, " ".join(missing(panel))))
        return
    laptop = FakeLaptop(x_size="%dx%dx24" % size, x_extra=("-wr",) if panel == "trayer" else ())
    try:
        pictures(PanelDesktop(laptop, panel, *size, **options))
    finally:
        laptop.close()


def submenu_open(desktop, pattern, name):
    """The menu opened on the icon with the submenu of entry pattern open, cropped to the screen's top two thirds."""
    desktop.open_menu(desktop.icon_centre())
    desktop.choose(pattern, "Right")
    time.sleep(0.5)
    picture = desktop.screen("menu")
    desktop.expect(desktop.colours(desktop.below, picture) > 16, "the menu closed before its picture", desktop.agent)
    desktop.keys("Escape", "Escape")
    convert(picture, "-crop", "%dx%d+0+0" % (desktop.width, desktop.height * 2 // 3), "+repage",
            os.path.join(OUT, name))


def xembed(desktop):
    desktop.expect(wait_for(lambda: desktop.colours(desktop.strip) > 16, 10), "no icon in the tray", desktop.agent)
    tray = desktop.screen("tray")
    desktop.open_menu((desktop.width - PANEL // 2, PANEL // 2))
    convert(tray, "-crop", desktop.strip, "+repage", "-filter", "point", "-resize", "300%",
            os.path.join(OUT, "agent-tray-icon.png"))
    convert(desktop.screen("menu"), "-crop", "%dx%d+%d+0" % (desktop.width // 2 + 60, desktop.height,
                                                             desktop.width // 2 - 60),
            "+repage", os.path.join(OUT, "agent-menu.png"))


def inhibitors(desktop):
    desktop.laptop.tray.click(desktop.service, r"Start Insomnia")
    desktop.expect(wait_for(lambda: "idle/block" in desktop.laptop.inhibitors(), 5), "Insomnia did not start")
    submenu_open(desktop, r"Keeping the Machine Awake$", "agent-menu-inhibitors.png")


def main():
    if os.geteuid() != 0:
        raise SystemExit("draw_panels: run as root (the daemon's helper runs the power tool only for root)")
    os.makedirs(OUT, exist_ok=True)
    draw("trayer", (480, 360), xembed)
    for panel, name in (("lxqt-panel", "lxqt"), ("xfce4-panel", "xfce")):
        draw(panel, (800, 600), lambda d: submenu_open(d, r"Insomnia length \(forever\)$", "agent-menu-%s.png" % name))
    draw("lxqt-panel", (800, 600), inhibitors, logind_parameters='{"ForeignInhibitor": true}')


if __name__ == "__main__":
    main_in_own_pid_namespace(main)
