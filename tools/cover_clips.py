#!/usr/bin/env python3
"""Tracks with pictures for the window test of the player card's cover, made by a real
encoder (ffmpeg) and tagged by a real tagging library (Debian's python3-mutagen):

    beside/Kapak.flac  a blue PNG inside it, and a large red Folder.JPG beside it
    inside/Kapak.flac  the blue PNG inside it, and a cover.jpg beside it that is no picture
    broken/Kapak.flac  a PNG cut short inside it

    cover_clips.py OUT_DIR
"""
import os
import subprocess
import sys

try:
    import mutagen  # noqa: F401
except ImportError:
    # The build may run another Python than the system's, which is where mutagen is installed.
    sys.path.append("/usr/lib/python3/dist-packages")
from mutagen.flac import FLAC, Picture  # noqa: E402

# The colours the test looks for, as ffmpeg spells them (0xRRGGBB).
FOLDER_RED = "0xDC3C28"
TAG_BLUE = "0x28AAE6"


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *args], check=True)


def picture(path, colour, size="96x64"):
    """A picture of one colour; not square, so that the card shows its middle. Made in RGB, so
    that a PNG holds the colour exactly (a JPEG holds it within a step or two)."""
    ffmpeg("-f", "lavfi", "-i", f"color=c={colour}:s={size},format=rgb24", "-frames:v", "1", path)
    with open(path, "rb") as f:
        return f.read()


def track(folder, png):
    """A second of a tone in folder/Kapak.flac with png as its front cover."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "Kapak.flac")
    ffmpeg("-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=44100", path)
    audio = FLAC(path)
    front = Picture()
    front.type = 3
    front.mime = "image/png"
    front.width, front.height, front.depth = 96, 64, 24
    front.data = png
    audio.add_picture(front)
    audio.save()


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    blue = os.path.join(out, "blue.png")
    png = picture(blue, TAG_BLUE)
    os.remove(blue)
    assert png[:8] == b"\x89PNG\r\n\x1a\n"

    track(os.path.join(out, "beside"), png)
    # Larger than the card keeps: scaled down as it is decoded.
    picture(os.path.join(out, "beside", "Folder.JPG"), FOLDER_RED, "640x400")

    track(os.path.join(out, "inside"), png)
    with open(os.path.join(out, "inside", "cover.jpg"), "wb") as f:
        f.write(b"\xff\xd8\xff\xe0 not a picture after all")

    # The header and the start of the pixels, as a download cut off would leave it.
    track(os.path.join(out, "broken"), png[:len(png) // 2])


if __name__ == "__main__":
    main()
