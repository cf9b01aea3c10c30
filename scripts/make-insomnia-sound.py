#!/usr/bin/env python3
"""Writes the tray agent's "Insomnia" sound: a soft two-tone chime, rising a
fourth (E5 then A5), 0.85 s, 16-bit PCM, 44.1 kHz, mono.

Each tone is a sine with a quiet octave and a quieter inharmonic partial (the
"bell" colour), an 8 ms attack and an exponential decay; the second tone
starts 0.16 s after the first. The mix peaks at 45 % of full scale and fades
to silence over the last 40 ms, so it never ends on a click.

Usage: make-insomnia-sound.py [output.wav]   (default: the agent's Resources)
"""
import math
import os
import struct
import sys
import wave

RATE = 44100
LENGTH_S = 0.85
PEAK = 0.45
FADE_S = 0.040

# (start in s, fundamental in Hz, decay time constant in s, level)
TONES = [(0.00, 659.26, 0.20, 1.0),
         (0.16, 880.00, 0.26, 0.9)]
# (frequency ratio, relative level, decay speed-up)
PARTIALS = [(1.0, 1.0, 1.0), (2.0, 0.22, 1.8), (2.76, 0.08, 3.0)]
ATTACK_S = 0.008


def sample(t):
    value = 0.0
    for start, freq, tau, level in TONES:
        local = t - start
        if local < 0.0:
            continue
        attack = min(1.0, local / ATTACK_S)
        for ratio, part_level, speed in PARTIALS:
            decay = math.exp(-local * speed / tau)
            value += level * part_level * attack * decay * math.sin(2.0 * math.pi * freq * ratio * local)
    return value


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src", "menubar", "Resources", "Insomnia.wav")
    count = int(LENGTH_S * RATE)
    raw = [sample(i / RATE) for i in range(count)]
    scale = PEAK / max(abs(v) for v in raw)
    fade = int(FADE_S * RATE)
    frames = bytearray()
    for i, v in enumerate(raw):
        gain = min(1.0, (count - 1 - i) / fade)
        frames += struct.pack("<h", round(v * scale * gain * 32767))
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
