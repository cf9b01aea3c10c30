#!/usr/bin/python3
"""The tray agent on real desktop panels, as a person meets it: Xvfb with
openbox, the real daemon on a fake laptop, and lxqt-panel with its Status
Notifier plugin or xfce4-panel with its systray plugin (which hosts
StatusNotifier items and XEmbed icons). Both panels run their own
StatusNotifierWatcher and draw the agent's menu themselves from dbusmenu.
The checks read the layout the panel draws, open the menu with a right click
(xdotool), start and stop Insomnia with the keyboard in the panel's menu, and
save agent-menu-lxqt.png and agent-menu-xfce.png (the open menu with its
length submenu) and agent-menu-inhibitors.png (lxqt-panel's menu with the
list of locks keeping the machine awake) into SOMNARA_SCREENSHOTS (default:
the current directory).
Run through ctest, which sets SOMNARA_AGENT, SOMNARA_DAEMON and
SOMNARA_FAKE_LAPTOP."""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

import dbus

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from agent_system_test import AGENT, DBUSMENU, STATUS_LINE, WATCHER, AgentTest  # noqa: E402
from somnara_system import wait_for  # noqa: E402

OUT = os.environ.get("SOMNARA_SCREENSHOTS", os.getcwd())
WIDTH, HEIGHT, PANEL = 800, 600, 32  # the screen (AgentTest's Xvfb) and the panel along its top
STRIP = "%dx%d+0+0" % (WIDTH, PANEL)
BELOW = "%dx%d+0+%d" % (WIDTH, HEIGHT - PANEL - 4, PANEL + 4)  # clear of the panel's border
XFCONFD = "/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"
TOOLS = {"openbox": "openbox", "xdotool": "xdotool", "xwd": "x11-apps", "convert": "imagemagick"}

LXQT_PANEL_CONF = """[General]
__userfile__=true

[panel1]
plugins=statusnotifier
position=Top
panelSize=%d
iconSize=22
alignment=-1
width=100
width-percent=true
background-color=#2e3440
font-color=#eceff4

[statusnotifier]
type=statusnotifier
""" % PANEL

XFCE_PANEL_XML = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="%d"/>
      <property name="icon-size" type="uint" value="22"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray"/>
  </property>
</channel>
""" % PANEL


class Panels(AgentTest):

    # --- the desktop ----------------------------------------------------------------------

    def need(self, programs):
        """Skips when a program the test runs is not installed, naming its Debian package."""
        missing = sorted({package for program, package in programs.items() if not shutil.which(program)})
        if missing:
            self.skipTest("not installed: " + " ".join(missing))

    def start_lxqt_panel(self):
        self.write_config("lxqt/panel.conf", LXQT_PANEL_CONF)
        return self.start("lxqt-panel", ["lxqt-panel"])

    def start_xfce4_panel(self):
        # The settings service is started here, not by the bus, so that it reads this test's settings.
        self.write_config("xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml", XFCE_PANEL_XML)
        self.start("xfconfd", [XFCONFD])
        self.assertIsNotNone(wait_for(lambda: self.session_bus.connection.name_has_owner("org.xfce.Xfconf"), 10))
        return self.start("xfce4-panel", ["xfce4-panel", "--sm-client-disable"])

    def write_config(self, relative, text):
        path = os.path.join(self.env["XDG_CONFIG_HOME"], relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def desktop(self, start_panel, **services):
        """Services, daemon, window manager, panel and agent; the agent's bus name."""
        self.env["HOME"] = self.tmp
        self.start_services(watcher=False, **services)
        self.start_daemon(0)  # adaptive at 50 %: sleep
        self.start("openbox", ["openbox"])
        panel = start_panel()
        self.assertIsNotNone(wait_for(lambda: self.session_bus.connection.name_has_owner(WATCHER[0]), 15),
                             "the panel ran no StatusNotifierWatcher:\n%s" % self.log_of(panel))
        agent = self.start("agent", [AGENT])
        service = self.wait_item(agent, 15)
        self.agent, self.panel = agent, panel
        return service

    # --- the menu as the panel draws it ---------------------------------------------------

    def top_level(self, service):
        """The menu's own items (no submenu's) as [(label, enabled)], separators left out."""
        path = self.item(service, "Menu")
        _, (_, _, children) = self.session_bus.call(service, path, DBUSMENU, "GetLayout", 0, 1,
                                                     dbus.Array([], "s"))
        return [(str(props.get("label", "")).replace("_", ""), bool(props.get("enabled", True)))
                for _, props, _ in children if props.get("type", "") != "separator"]

    def steps_to(self, service, pattern):
        """Down-arrow presses that select the item matching pattern in the open menu: the
        panels' menus skip items that are not enabled."""
        enabled = [label for label, on in self.top_level(service) if on]
        for steps, label in enumerate(enabled, 1):
            if re.match(pattern, label):
                return steps
        self.fail("no enabled item %r in %r" % (pattern, self.top_level(service)))

    # --- the screen -----------------------------------------------------------------------

    def screen(self, name):
        path = os.path.join(self.tmp, name + ".png")
        xwd = subprocess.run(["xwd", "-root", "-silent", "-display", self.xvfb.display], check=True,
                             capture_output=True).stdout
        subprocess.run(["convert", "xwd:-", path], input=xwd, check=True)
        return path

    def magick(self, path, *args):
        return subprocess.run(["convert", path, *args, "info:"], check=True, capture_output=True,
                              text=True).stdout.strip()

    def icon_centre(self):
        """Where the agent's icon is: the middle of what stands out of the panel's plain strip."""
        def box():
            found = re.match(r"(\d+)x(\d+)\+(\d+)\+(\d+)$", self.magick(
                self.screen("panel"), "-crop", STRIP, "+repage", "-fuzz", "15%", "-format", "%@"))
            return found and int(found[1]) > 4 and tuple(int(v) for v in found.groups())
        self.assertIsNotNone(wait_for(box, 10), "no icon in the panel:\n%s" % self.log_of(self.panel))
        width, height, x, y = box()
        return x + width // 2, y + height // 2

    def open_menu(self, centre):
        desktop = int(self.magick(self.screen("closed"), "-crop", BELOW, "+repage", "-format", "%k"))
        self.xdotool("mousemove", *map(str, centre), "click", "3")
        opened = lambda: int(self.magick(self.screen("open"), "-crop", BELOW, "+repage", "-format", "%k")) > desktop
        self.assertIsNotNone(wait_for(opened, 5), "no menu opened:\n%s" % self.log_of(self.panel))
        time.sleep(0.3)  # the menu takes the keyboard once it is mapped

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True)

    def keys(self, *names):
        for name in names:
            self.xdotool("key", name)
            time.sleep(0.1)

    # --- the checks -----------------------------------------------------------------------

    def check_panel(self, name, start_panel):
        service = self.desktop(start_panel)
        self.assertIsNotNone(wait_for(lambda: self.entry(service, STATUS_LINE.pattern)[1] ==
                                      "Machine will sleep on sleep", 5), self.menu(service))
        self.assertFalse(self.entry(service, STATUS_LINE.pattern)[2], "the status line is never enabled")
        labels = [label for _, label, _ in self.menu(service)]
        self.assertNotIn("Insomnia Length Slider", labels)
        self.assertIn("Choose Length\u2026", labels)

        centre = self.icon_centre()
        # The open menu with its length submenu, for the pictures.
        self.open_menu(centre)
        self.keys(*["Down"] * self.steps_to(service, r"Insomnia length \(forever\)$"), "Right")
        time.sleep(0.5)
        picture = self.screen("menu")
        self.assertGreater(int(self.magick(picture, "-crop", BELOW, "+repage", "-format", "%k")), 16,
                           "the menu closed before its picture:\n%s" % self.log_of(self.agent))
        self.keys("Escape", "Escape")
        self.save(picture, "agent-menu-%s.png" % name)

        # Insomnia started and stopped in the panel's menu.
        for pattern, locks in ((r"Start Insomnia", ["handle-lid-switch/block", "idle/block"]),
                               (r"Stop Insomnia", [])):
            # Away from the icon, whose tooltip would stand below the panel too.
            self.xdotool("mousemove", "0", str(HEIGHT - 1))
            self.assertIsNotNone(wait_for(lambda: not self.screen_has_menu(), 5), "the menu stayed open")
            self.open_menu(centre)
            self.keys(*["Down"] * self.steps_to(service, pattern), "Return")
            self.assertIsNotNone(wait_for(lambda: self.inhibitors() == locks, 5),
                                 "%s: %r\n%s" % (pattern, self.inhibitors(), self.log_of(self.agent)))
        self.assertAlive(self.agent)
        self.assertAlive(self.panel)

    def save(self, picture, name):
        os.makedirs(OUT, exist_ok=True)
        subprocess.run(["convert", picture, "-crop", "%dx%d+0+0" % (WIDTH, HEIGHT * 2 // 3), "+repage",
                        os.path.join(OUT, name)], check=True)

    def screen_has_menu(self):
        """Anything on the plain desktop below the panel."""
        return int(self.magick(self.screen("now"), "-crop", BELOW, "+repage", "-format", "%k")) > 1

    def test_lxqt_panel_status_notifier(self):
        self.need(dict(TOOLS, **{"lxqt-panel": "lxqt-panel"}))
        self.check_panel("lxqt", self.start_lxqt_panel)

    def test_lxqt_panel_shows_who_keeps_the_machine_awake(self):
        self.need(dict(TOOLS, **{"lxqt-panel": "lxqt-panel"}))
        service = self.desktop(self.start_lxqt_panel, logind_parameters='{"ForeignInhibitor": true}')
        self.click(service, r"Start Insomnia")
        self.assertIsNotNone(wait_for(lambda: "idle/block" in self.inhibitors(), 5), self.inhibitors())
        self.open_menu(self.icon_centre())
        self.keys(*["Down"] * self.steps_to(service, r"Keeping the Machine Awake$"), "Right")
        time.sleep(0.5)
        picture = self.screen("inhibitors")
        lines = self.submenu(service, "Keeping the Machine Awake")
        self.assertEqual(lines[0], "Backup Tool: Copying files (sleep, block, pid 4242)")
        self.assertRegex(lines[1], r"^Somnara MenuBar: Insomnia keeps the machine awake \(idle, block, pid \d+\) "
                                   r"\u2014 Somnara's own$")
        self.keys("Escape", "Escape")
        self.save(picture, "agent-menu-inhibitors.png")
        self.assertAlive(self.agent)

    def test_xfce4_panel_systray(self):
        self.need(dict(TOOLS, **{"xfce4-panel": "xfce4-panel", XFCONFD: "xfconf"}))
        self.check_panel("xfce", self.start_xfce4_panel)


if __name__ == "__main__":
    unittest.main()
