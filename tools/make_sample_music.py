#!/usr/bin/env python3
"""Writes a few short tones with realistic downloaded-style names into a folder, so that a
new user of the run command sees a working list. Standard library only.
    make_sample_music.py FOLDER"""
import math
import os
import struct
import sys
import wave

SAMPLES = [
    ("mp3indirdur-tarkan-kuzu-kuzu.wav", 440.0),
    ("Sezen Aksu - Gidiyorum (Official Video) [Xk2Lm9Pq0Rs].wav", 523.25),
    ("Duman - Senden Daha G\u00fczel (Official Audio) [aB3dE5fG7hJ].wav", 587.33),
    ("\u0131\u015f\u0131k - istanbul.wav", 659.25),
    ("mp3indirdur-gripin-aci-veriyor-2019.wav", 698.46),
    ("Manga - Cevaps\u0131z Sorular #shorts #rock.wav", 783.99),
    ("sarkiindir-mor-ve-otesi-bir-derdim-var.wav", 880.0),
]

RATE = 44100
SECONDS = 4


def write_tone(path, freq):
    frames = bytearray()
    for i in range(RATE * SECONDS):
        t = i / RATE
        fade = min(1.0, t * 20, (SECONDS - t) * 20)
        frames += struct.pack('<h', int(12000 * fade * math.sin(2 * math.pi * freq * t)))
    with wave.open(path, 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, freq in SAMPLES:
        write_tone(os.path.join(folder, name), freq)


if __name__ == '__main__':
    main()
