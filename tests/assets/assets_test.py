#!/usr/bin/env python3
"""The shipped artwork and sound: each tray status image and the application
icon as a parsing SVG and as PNGs of the promised sizes; colour
images stand out on light and dark panels at 16 px; symbolic images are one
colour drawn only with elements a recolouring host restyles; the Insomnia
sound's format and length."""
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
APP_SIZES = STATUS_SIZES + [128, 256]
SVG = "{http://www.w3.org/2000/svg}"


def read_png(path):
    """(width, height, rows of (r, g, b, a)) of an 8-bit non-interlaced RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path + ": not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        header = struct.unpack(">IIBBBBB", body) if kind == b"IHDR" else header
        idat += body if kind == b"IDAT" else b""
        pos += 12 + length
    width, height, depth, colour_type, _, _, interlace = header
    assert (depth, colour_type, interlace) == (8, 6, 0), path + ": not 8-bit non-interlaced RGBA"
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a, b, c = line[i - 4] if i >= 4 else 0, prev[i], prev[i - 4] if i >= 4 else 0
            p = a + b - c
            paeth = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth)[kind]) & 0xff
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        prev = line
    return width, height, rows


def standing_out(rows, panel):
    """Pixels whose luminance over the panel differs from the panel's by more than 0.3."""
    def luminance(rgb):
        return (0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]) / 255.0
    return sum(1 for row in rows for r, g, b, a in row
               if abs(luminance([(c * a + p * (255 - a)) / 255.0 for c, p in zip((r, g, b), panel)])
                      - luminance(panel)) > 0.3)


class Artwork(unittest.TestCase):
    def svg(self, path):
        root = ET.parse(path).getroot()
        self.assertEqual(root.tag, SVG + "svg", path)
        self.assertTrue(root.get("viewBox"), path + ": no viewBox")
        return root

    def test_every_image_as_svg_and_as_png_of_every_size(self):
        images = [(STATUS, "status", variant, STATUS_SIZES) for name in STATUS_NAMES
                  for variant in (name, name + "-symbolic")] + [(APPS, "apps", "de.orvane.Somnara", APP_SIZES)]
        for tree, context, name, sizes in images:
            self.svg(os.path.join(tree, "scalable", context, name + ".svg"))
            for size in sizes:
                with self.subTest(image=name, size=size):
                    width, height, rows = read_png(os.path.join(tree, "%dx%d" % (size, size), context, name + ".png"))
                    self.assertEqual((width, height), (size, size))
                    self.assertTrue(any(px[3] for row in rows for px in row), "blank image")

    def test_colour_images_stand_out_on_light_and_dark_panels(self):
        for name in STATUS_NAMES:
            _, _, rows = read_png(os.path.join(STATUS, "16x16", "status", name + ".png"))
            for panel in ((0xf2, 0xf2, 0xf2), (0x1e, 0x1f, 0x24)):
                with self.subTest(image=name, panel=panel):
                    self.assertGreaterEqual(standing_out(rows, panel), 25)

    def test_symbolic_images_are_one_recolourable_colour(self):
        for name in STATUS_NAMES:
            fills = set()
            for element in self.svg(os.path.join(STATUS, "scalable", "status", name + "-symbolic.svg")).iter():
                tag = element.tag.replace(SVG, "")
                with self.subTest(image=name, element=tag):
                    self.assertFalse({"stroke", "style"} & set(element.attrib))
                    # Hosts that recolour restyle only path, rect and circle.
                    self.assertIn(tag, {"svg", "g", "defs", "use", "clipPath", "path", "rect", "circle"})
                    fills |= {element.get("fill").lower()} if element.get("fill") else set()
            self.assertEqual(fills, {"#000000"}, name)
            for size in STATUS_SIZES:
                _, _, rows = read_png(os.path.join(STATUS, "%dx%d" % (size, size), "status", name + "-symbolic.png"))
                self.assertEqual({px[:3] for row in rows for px in row if px[3]}, {(0, 0, 0)}, (name, size))

    def test_theme_index_lists_every_status_folder_with_its_size(self):
        index = configparser.ConfigParser()
        index.read(os.path.join(STATUS, "index.theme"))
        listed = index["Icon Theme"]["Directories"].split(",")
        present = [os.path.relpath(top, STATUS) for top, _, files in os.walk(STATUS) if files and top != STATUS]
        self.assertEqual(sorted(listed), sorted(present))
        for folder in listed:
            if folder.split("x")[0].isdigit():
                self.assertEqual(index[folder]["Size"], folder.split("x")[0], folder)

    def test_insomnia_sound(self):
        with wave.open(SOUND, "rb") as w:
            self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, 44100))
            self.assertLessEqual(w.getnframes(), 44100)
            samples = struct.unpack("<%dh" % w.getnframes(), w.readframes(w.getnframes()))
        self.assertGreater(max(map(abs, samples)), 3000, "inaudible")
        self.assertLess(abs(samples[-1]), 100, "ends on a click")
        self.assertLess(os.path.getsize(SOUND), 100 * 1024)


if __name__ == "__main__":
    unittest.main()
