#!/usr/bin/env python3
"""Makes the tag reader's corpus: short clips encoded by real encoders and tagged by a real
tagging library, one module per family of formats (corpus_*.py beside this file), each
returning the rows it expects the reader to find. Writes the files and expected.tsv into
OUT_DIR.

    make_corpus.py OUT_DIR

A row: file, format, title, artist, album, album artist, disc, track, year, duration ms,
tolerance ms, picture (1/0). Text is UTF-8; "-" in a number column means "not checked".
"""
import glob
import os
import runpy
import subprocess
import sys


def tone(path, seconds=2.0, frequency=440, extra=()):
    """Encodes a sine of the given length into path with ffmpeg, options extra before it."""
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    f"sine=frequency={frequency}:duration={seconds}:sample_rate=44100",
                    *extra, path], check=True)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    here = os.path.dirname(os.path.abspath(__file__))
    rows = []
    for module_path in sorted(glob.glob(os.path.join(here, "corpus_*.py"))):
        rows += runpy.run_path(module_path)["make"](out, tone)
    with open(os.path.join(out, "expected.tsv"), "w", encoding="utf-8", newline="\n") as f:
        for row in rows:
            cells = [str(c) for c in row]
            assert len(cells) == 12 and not any("\t" in c or "\n" in c for c in cells), row
            f.write("\t".join(cells) + "\n")


if __name__ == "__main__":
    main()
