#!/usr/bin/env python3
"""Checks the committed artwork: every tray status image and application icon
exists as an SVG that parses and as PNGs of the promised pixel sizes; colour
images stand out on a light and on a dark panel at 16 px; single-colour
images are one colour, drawn only with elements a recolouring host restyles;
the Insomnia sound has the promised format and length."""
import configparser
import os
import struct
import unittest
import wave
import xml.etree.ElementTree as ET
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
STATUS = os.path.join(ROOT, "src", "menubar", "Resources", "icons", "hicolor")
APPS = os.path.join(ROOT, "packaging", "icons", "hicolor")
SOUND = os.path.join(ROOT, "src", "menubar", "Resources", "Insomnia.wav")

STATUS_NAMES = ["Somnara-Menu-Icon-" + n for n in ("Sleep", "Hibernate", "HibernateSleep", "Insomnia")]
STATUS_SIZES = [16, 22, 24, 32, 48, 64]
APP_NAME = "de.orvane.Somnara"
APP_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
SVG = "{http://www.w3.org/2000/svg}"

LIGHT_PANEL = (0xf2, 0xf2, 0xf2)
DARK_PANEL = (0x1e, 0x1f, 0x24)


def read_png(path):
    """Returns (width, height, rows of (r, g, b, a)) of an 8-bit RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(path + ": not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour_type, _, _, interlace = header
    if (depth, colour_type, interlace) != (8, 6, 0):
        raise ValueError(path + ": not 8-bit non-interlaced RGBA")
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xff
            elif kind == 2:
                line[i] = (line[i] + b) & 0xff
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xff
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xff
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        prev = line
    return width, height, rows


def luminance(rgb):
    return (0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]) / 255.0


def standing_out(rows, panel):
    """Pixels whose luminance over the panel differs from the panel's by more than 0.3."""
    count = 0
    for row in rows:
        for r, g, b, a in row:
            over = [(c * a + p * (255 - a)) / 255.0 for c, p in zip((r, g, b), panel)]
            if abs(luminance(over) - luminance(panel)) > 0.3:
                count += 1
    return count


class Artwork(unittest.TestCase):
    def check_svg(self, path):
        root = ET.parse(path).getroot()
        self.assertEqual(root.tag, SVG + "svg", path)
        self.assertTrue(root.get("viewBox"), path + ": no viewBox")
        return root

    def check_pngs(self, tree, context, name, sizes):
        for size in sizes:
            path = os.path.join(tree, "%dx%d" % (size, size), context, name + ".png")
            with self.subTest(png=path):
                width, height, rows = read_png(path)
                self.assertEqual((width, height), (size, size))
                self.assertTrue(any(px[3] for row in rows for px in row), "blank image")

    def test_status_images(self):
        for name in STATUS_NAMES:
            for variant in (name, name + "-symbolic"):
                with self.subTest(image=variant):
                    self.check_svg(os.path.join(STATUS, "scalable", "status", variant + ".svg"))
                    self.check_pngs(STATUS, "status", variant, STATUS_SIZES)

    def test_colour_images_stand_out_on_light_and_dark_panels(self):
        for name in STATUS_NAMES:
            _, _, rows = read_png(os.path.join(STATUS, "16x16", "status", name + ".png"))
            for panel in (LIGHT_PANEL, DARK_PANEL):
                with self.subTest(image=name, panel=panel):
                    self.assertGreaterEqual(standing_out(rows, panel), 25)

    def test_symbolic_images_are_one_recolourable_colour(self):
        drawing = {"path", "rect", "circle", "ellipse", "line", "polyline", "polygon", "text", "image"}
        for name in STATUS_NAMES:
            svg = os.path.join(STATUS, "scalable", "status", name + "-symbolic.svg")
            with self.subTest(image=svg):
                fills = set()
                for element in self.check_svg(svg).iter():
                    tag = element.tag.replace(SVG, "")
                    self.assertNotIn("stroke", element.attrib, tag)
                    self.assertNotIn("style", element.attrib, tag)
                    self.assertIn(tag, drawing | {"svg", "g", "defs", "use", "clipPath"})
                    # Hosts that recolour restyle only these three elements.
                    if tag in drawing:
                        self.assertIn(tag, {"path", "rect", "circle"})
                    if element.get("fill"):
                        fills.add(element.get("fill").lower())
                self.assertEqual(fills, {"#000000"})
            for size in STATUS_SIZES:
                png = os.path.join(STATUS, "%dx%d" % (size, size), "status", name + "-symbolic.png")
                with self.subTest(png=png):
                    _, _, rows = read_png(png)
                    colours = {px[:3] for row in rows for px in row if px[3]}
                    self.assertEqual(colours, {(0, 0, 0)})

    def test_theme_index_lists_every_status_folder(self):
        index = configparser.ConfigParser()
        index.read(os.path.join(STATUS, "index.theme"))
        listed = index["Icon Theme"]["Directories"].split(",")
        present = sorted(os.path.relpath(os.path.join(dirpath), STATUS)
                         for dirpath, _, files in os.walk(STATUS) if files and dirpath != STATUS)
        self.assertEqual(sorted(listed), present)
        for folder in listed:
            size = folder.split("x")[0]
            if size.isdigit():
                self.assertEqual(index[folder]["Size"], size, folder)

    def test_application_icon(self):
        self.check_svg(os.path.join(APPS, "scalable", "apps", APP_NAME + ".svg"))
        self.check_pngs(APPS, "apps", APP_NAME, APP_SIZES)

    def test_insomnia_sound(self):
        with wave.open(SOUND, "rb") as w:
            self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, 44100))
            self.assertLessEqual(w.getnframes(), 44100)
            samples = struct.unpack("<%dh" % w.getnframes(), w.readframes(w.getnframes()))
        self.assertGreater(max(abs(s) for s in samples), 3000, "inaudible")
        self.assertLess(abs(samples[-1]), 100, "ends on a click")
        self.assertLess(os.path.getsize(SOUND), 100 * 1024)


if __name__ == "__main__":
    unittest.main()
