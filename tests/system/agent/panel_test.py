#!/usr/bin/python3
"""The tray agent on real panels under Xvfb with openbox and the real daemon:
lxqt-panel (Status Notifier plugin) and xfce4-panel (systray plugin), which run
their own StatusNotifierWatcher and draw the agent's menu from dbusmenu, and
Debian's trayer, an XEmbed tray. The icon shows in the panel, a right click
opens the menu, and the keyboard works Insomnia in it. ctest sets
SOMNARA_AGENT, SOMNARA_DAEMON and SOMNARA_FAKE_LAPTOP; docs/draw/panels takes
its pictures with PanelDesktop."""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from somnara_system import (WATCHER, FakeLaptop, LaptopTest, log_of,  # noqa: E402
                            main_in_own_pid_namespace, wait_for)

AGENT = os.environ.get("SOMNARA_AGENT", "")
DAEMON = os.environ.get("SOMNARA_DAEMON", "")
PANEL = 32  # the panel's height along the top of the screen
XFCONFD = "/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"
TOOLS = {"openbox": "openbox", "xdotool": "xdotool", "xwd": "x11-apps", "convert": "imagemagick",
         "lxqt-panel": "lxqt-panel", "xfce4-panel": "xfce4-panel", XFCONFD: "xfconf", "trayer": "trayer"}
LXQT_PANEL_CONF = "\n".join(["[General]", "__userfile__=true", "[panel1]", "plugins=statusnotifier", "position=Top",
                              "panelSize=%d" % PANEL, "iconSize=22", "alignment=-1", "width=100", "width-percent=true",
                              "background-color=#2e3440", "font-color=#eceff4", "[statusnotifier]",
                              "type=statusnotifier", ""])
XFCE_PANEL_XML = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0"><property name="configver" type="int" value="2"/>
  <property name="panels" type="array"><value type="int" value="1"/><property name="panel-1" type="empty">
    <property name="position" type="string" value="p=6;x=0;y=0"/><property name="length" type="uint" value="100"/>
    <property name="position-locked" type="bool" value="true"/><property name="size" type="uint" value="%d"/>
    <property name="icon-size" type="uint" value="22"/>
    <property name="plugin-ids" type="array"><value type="int" value="1"/><value type="int" value="2"/></property>
  </property></property>
  <property name="plugins" type="empty"><property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/><property name="style" type="uint" value="0"/></property>
    <property name="plugin-2" type="string" value="systray"/></property>
</channel>
""" % PANEL


def missing(panel):
    """The Debian packages a desktop with panel needs that are not installed."""
    return sorted({package for program, package in TOOLS.items() if not shutil.which(program)
                   and program in ("xwd", "convert", "xdotool", "openbox", panel,
                                   XFCONFD if panel == "xfce4-panel" else "")})


class PanelDesktop:
    """On laptop (display "x", of width x height): services, daemon, openbox,
    panel ("lxqt-panel", "xfce4-panel" or "trayer") and the agent. service:
    the agent's bus name where the panel runs a watcher. Failures raise
    AssertionError with the programs' output."""

    def __init__(self, laptop, panel, width=800, height=600, logind_parameters=None):
        self.laptop, self.width, self.height = laptop, width, height
        self.below = "%dx%d+0+%d" % (width, height - PANEL - 4, PANEL + 4)  # clear of the panel's border
        laptop.env["HOME"] = laptop.tmp
        laptop.start_services(watcher=False, logind_parameters=logind_parameters)
        daemon = laptop.launch("daemon", [DAEMON])
        self.expect(wait_for(lambda: laptop.mode() == 0, 5), "the daemon applied nothing", daemon)
        if panel == "trayer":  # at the top right, no watcher: Qt embeds an icon window once trayer is mapped
            self.strip = "%dx%d+%d+0" % (3 * PANEL, PANEL, width - 3 * PANEL)
            self.panel = laptop.launch("trayer", ["trayer", "--edge", "top", "--align", "right", "--widthtype",
                                                  "pixel", "--width", str(PANEL), "--height", str(PANEL), "--tint",
                                                  "0x2e3440", "--transparent", "true", "--alpha", "0",
                                                  "--SetDockType", "true"])
            self.expect(wait_for(lambda: subprocess.run(["xdotool", "search", "--class", "trayer"], env=laptop.env,
                                                        capture_output=True).returncode == 0, 10), "no trayer")
        else:
            self.strip = "%dx%d+0+0" % (width, PANEL)
            laptop.launch("openbox", ["openbox"])
            if panel == "lxqt-panel":
                self.write_config("lxqt/panel.conf", LXQT_PANEL_CONF)
            else:  # xfconfd started here, not by the bus, so that it reads this configuration
                self.write_config("xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml", XFCE_PANEL_XML)
                laptop.launch("xfconfd", [XFCONFD])
                self.expect(wait_for(lambda: laptop.session_bus.connection.name_has_owner("org.xfce.Xfconf"), 10),
                            "no xfconfd")
            self.panel = laptop.launch("panel", [panel] + (["--sm-client-disable"] if panel == "xfce4-panel" else []))
            self.expect(wait_for(lambda: laptop.session_bus.connection.name_has_owner(WATCHER[0]), 15),
                        "the panel ran no StatusNotifierWatcher", self.panel)
        self.agent = laptop.launch("agent", [AGENT])
        if panel != "trayer":
            self.expect(wait_for(laptop.tray.services, 15), "no item registered", self.agent)
            self.service = laptop.tray.services()[0]

    def expect(self, outcome, what, *programs):
        if outcome is None or outcome is False:
            raise AssertionError("\n".join([what] + [log_of(p) for p in programs]))

    def write_config(self, relative, text):
        path = os.path.join(self.laptop.env["XDG_CONFIG_HOME"], relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def screen(self, name="screen"):
        """The whole screen as <tmp>/<name>.png."""
        path = os.path.join(self.laptop.tmp, name + ".png")
        xwd = subprocess.run(["xwd", "-root", "-silent", "-display", self.laptop.xvfb.display], check=True,
                             capture_output=True).stdout
        subprocess.run(["convert", "xwd:-", path], input=xwd, check=True)
        return path

    def magick(self, path, crop, *args):
        return subprocess.run(["convert", path, "-crop", crop, "+repage", *args, "info:"], check=True,
                              capture_output=True, text=True).stdout.strip()

    def colours(self, crop, path=None):
        return int(self.magick(path or self.screen(), crop, "-format", "%k"))

    def icon_centre(self):
        """Where the agent's icon is: the middle of what stands out of the panel's plain strip."""
        def box():
            found = re.match(r"(\d+)x(\d+)\+(\d+)\+(\d+)$", self.magick(self.screen(), self.strip, "-fuzz", "15%",
                                                                        "-format", "%@"))
            return found and int(found[1]) > 4 and tuple(int(v) for v in found.groups())
        self.expect(wait_for(box, 10), "no icon in the panel", self.panel, self.agent)
        width, height, x, y = box()
        x0, y0 = (int(v) for v in self.strip.split("+")[1:])
        return x0 + x + width // 2, y0 + y + height // 2

    def open_menu(self, centre):
        """A right click on the icon, once the mouse left it and no menu shows."""
        self.xdotool("mousemove", "0", str(self.height - 1))  # away from the tooltip's place
        self.expect(wait_for(lambda: self.colours(self.below) <= 1, 5), "a menu stayed open")
        self.xdotool("mousemove", *map(str, centre), "click", "3")
        self.expect(wait_for(lambda: self.colours(self.below) > 8, 5), "no menu opened", self.panel, self.agent)
        time.sleep(0.5)  # the menu takes the keyboard once it is mapped, and fades in where a style has it

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.laptop.env, check=True)

    def keys(self, *names):
        for name in names:
            self.xdotool("key", name)
            time.sleep(0.1)

    def choose(self, pattern, key="Return"):
        """Selects the menu's top-level entry matching pattern with the keyboard: the panels'
        menus skip entries that are not enabled."""
        enabled = [label for _, label, on in self.laptop.tray.menu(self.service, 1) if on]
        steps = next((n for n, label in enumerate(enabled, 1) if re.match(pattern, label)), None)
        self.expect(steps, "no enabled entry %r in %r" % (pattern, enabled))
        self.keys(*["Down"] * steps, key)


class Panels(LaptopTest):
    LAPTOP = dict(settings={"somnaramodeindex": 1})

    def desktop(self, panel, **options):
        if missing(panel):
            self.skipTest("not installed: " + " ".join(missing(panel)))
        return PanelDesktop(self.laptop, panel, **options)

    def test_sni_panels_show_the_icon_and_draw_the_menu_that_works_insomnia(self):
        for panel in ("lxqt-panel", "xfce4-panel"):
            with self.subTest(panel):
                self.laptop.close()
                self.laptop = FakeLaptop(**self.LAPTOP)
                desktop = self.desktop(panel)
                centre = desktop.icon_centre()
                for pattern, locks in ((r"Start Insomnia", ["handle-lid-switch/block", "idle/block"]),
                                       (r"Stop Insomnia", [])):
                    desktop.open_menu(centre)
                    desktop.choose(pattern)
                    self.assertWithin(5, lambda: self.laptop.inhibitors() == locks, pattern,
                                      lambda: self.laptop.inhibitors(), lambda: log_of(desktop.agent))
                self.assertAlive(desktop.agent)
                self.assertAlive(desktop.panel)

    def test_an_xembed_tray_shows_the_icon_and_its_menu(self):
        desktop = self.desktop("trayer")
        desktop.expect(wait_for(lambda: desktop.colours(desktop.strip) > 16, 10), "no icon in the tray",
                       desktop.agent)
        desktop.open_menu((desktop.width - PANEL // 2, PANEL // 2))
        self.assertAlive(desktop.agent)


if __name__ == "__main__":
    main_in_own_pid_namespace()
