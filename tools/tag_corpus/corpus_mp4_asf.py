"""MP4 (AAC in M4A) and ASF (WMA) clips: encoded by ffmpeg, tagged by mutagen. The expected
numbers are what the files hold, read back with mutagen before the row is written, so a
failing row is the reader's fault and not the tagger's."""
import os
import struct
import subprocess

from mutagen.asf import ASF, ASFByteArrayAttribute, ASFDWordAttribute, ASFUnicodeAttribute
from mutagen.mp4 import MP4, MP4Cover

# AAC's priming and the last frame's padding make an M4A's track (and the length mutagen
# reports from it) run about 23 ms past the tone, while the movie header, whose edit list
# cuts the priming, holds the tone's length exactly; a WMA's last packet runs up to about
# 45 ms past it. Either reading is within this of the expected length.
TOLERANCE_MS = 50


def image(path, size="48x32", colour="red", noise=False):
    """A small picture made by ffmpeg; with noise, one that does not compress (a big one)."""
    source = f"nullsrc=s={size},geq=random(1)*255:random(2)*255:random(3)*255" if noise \
        else f"color=c={colour}:s={size}"
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", source, "-frames:v", "1",
                    path], check=True)
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    return data


FFMPEG_TAGS = ["-metadata", "title=Çiçek Dağı", "-metadata", "artist=Zülfü", "-metadata", "album=Ölmez",
               "-metadata", "album_artist=Çeşitli", "-metadata", "track=5/9", "-metadata", "disc=2/3",
               "-metadata", "date=1999"]


def length_ms(audio, seconds):
    """The length the tagger reads from the file, checked against the tone that was encoded."""
    ms = round(audio.info.length * 1000)
    assert abs(ms - seconds * 1000) <= TOLERANCE_MS, (audio.filename, ms, seconds)
    return ms


# ~ MP4

def m4a(out_dir, tone, name, seconds, frequency, faststart, tags):
    path = os.path.join(out_dir, name)
    extra = ["-c:a", "aac", "-b:a", "64k"] + (["-movflags", "+faststart"] if faststart else [])
    tone(path, seconds, frequency, extra)
    audio = MP4(path)
    if audio.tags is None:
        audio.add_tags()
    for key, value in tags.items():
        audio.tags[key] = value
    audio.save()
    audio = MP4(path)
    length_ms(audio, seconds)
    with open(path, "rb") as f:
        data = f.read()
    moov, mdat = data.find(b"moov"), data.find(b"mdat")
    # The two layouts the reader must find its way through.
    assert (moov < mdat) == faststart, (name, moov, mdat)
    return audio, movie_ms(data, seconds)


def movie_ms(data, seconds):
    """The movie header's length (ffmpeg writes version 0), checked against the tone."""
    at = data.find(b"mvhd") + 4
    assert data[at] == 0
    timescale, duration = struct.unpack(">II", data[at + 12:at + 20])
    ms = duration * 1000 // timescale
    assert abs(ms - seconds * 1000) <= TOLERANCE_MS, (ms, seconds)
    return ms


def mp4_rows(out_dir, tone):
    rows = []
    jpeg = image(os.path.join(out_dir, "cover.jpg"))
    png = image(os.path.join(out_dir, "cover.png"), colour="blue")

    # The movie box after the media data, as ffmpeg writes it by default; two covers, the
    # first of them a JPEG.
    audio, ms = m4a(out_dir, tone, "mp4-moov-last.m4a", 2.0, 440, False, {
        "\xa9nam": ["Evening Song"], "\xa9ART": ["The Lamplighters"], "aART": ["Various Artists"],
        "\xa9alb": ["Night Roads"], "trkn": [(3, 12)], "disk": [(1, 2)], "\xa9day": ["2019"],
        "covr": [MP4Cover(jpeg, MP4Cover.FORMAT_JPEG), MP4Cover(png, MP4Cover.FORMAT_PNG)],
    })
    assert audio.tags["trkn"] == [(3, 12)] and audio.tags["disk"] == [(1, 2)]
    rows.append(["mp4-moov-last.m4a", "mp4", "Evening Song", "The Lamplighters", "Night Roads",
                 "Various Artists", 1, 3, 2019, ms, TOLERANCE_MS, 1])

    # The movie box first, and Turkish in every field.
    audio, ms = m4a(out_dir, tone, "mp4-faststart-turkish.m4a", 1.5, 523, True, {
        "\xa9nam": ["Işıklar Sönerken"], "\xa9ART": ["Barış Ağaoğlu"], "aART": ["İstanbul Şehir Korosu"],
        "\xa9alb": ["Şarkılar ve Ğ"], "trkn": [(11, 14)], "disk": [(2, 2)], "\xa9day": ["1975-06-01"],
        "covr": [MP4Cover(png, MP4Cover.FORMAT_PNG)],
    })
    rows.append(["mp4-faststart-turkish.m4a", "mp4", "Işıklar Sönerken", "Barış Ağaoğlu",
                 "Şarkılar ve Ğ", "İstanbul Şehir Korosu", 2, 11, 1975, ms, TOLERANCE_MS, 1])

    # Other scripts, characters outside the basic plane, a track without a total, no disc,
    # no cover.
    audio, ms = m4a(out_dir, tone, "mp4-scripts.m4a", 3.0, 660, False, {
        "\xa9nam": ["夜の歌 🎵"], "\xa9ART": ["Αλέξης Βαμβακάρης"], "\xa9alb": ["Песни"],
        "trkn": [(7, 0)], "\xa9day": ["2001-05-04T00:00:00Z"],
    })
    rows.append(["mp4-scripts.m4a", "mp4", "夜の歌 🎵", "Αλέξης Βαμβακάρης", "Песни", "",
                 0, 7, 2001, ms, TOLERANCE_MS, 0])

    # Tagged by ffmpeg's own muxer rather than by mutagen.
    path = os.path.join(out_dir, "mp4-ffmpeg-tags.m4a")
    tone(path, 1.2, 392, ["-c:a", "aac", "-b:a", "64k", *FFMPEG_TAGS])
    audio = MP4(path)
    assert audio.tags["\xa9nam"] == ["Çiçek Dağı"] and audio.tags["trkn"] == [(5, 9)], audio.tags
    assert audio.tags["disk"] == [(2, 3)] and audio.tags["aART"] == ["Çeşitli"], audio.tags
    length_ms(audio, 1.2)
    with open(path, "rb") as f:
        ms = movie_ms(f.read(), 1.2)
    rows.append(["mp4-ffmpeg-tags.m4a", "mp4", "Çiçek Dağı", "Zülfü", "Ölmez", "Çeşitli", 2, 5, 1999,
                 ms, TOLERANCE_MS, 0])

    # Nothing but what ffmpeg writes itself.
    path = os.path.join(out_dir, "mp4-untagged.m4a")
    tone(path, 1.0, 330, ["-c:a", "aac", "-b:a", "64k", "-movflags", "+faststart"])
    length_ms(MP4(path), 1.0)
    with open(path, "rb") as f:
        ms = movie_ms(f.read(), 1.0)
    rows.append(["mp4-untagged.m4a", "mp4", "", "", "", "", 0, 0, 0, ms, TOLERANCE_MS, 0])
    return rows


# ~ ASF

def wm_picture(data, mime, kind=3, description=""):
    """A WM/Picture value: picture type, data length, MIME and description (UTF-16LE, each
    ended by a NUL), then the picture."""
    return (struct.pack("<BI", kind, len(data)) + (mime + "\0").encode("utf-16-le")
            + (description + "\0").encode("utf-16-le") + data)


def wma(out_dir, tone, name, seconds, frequency, tags):
    path = os.path.join(out_dir, name)
    tone(path, seconds, frequency, ["-c:a", "wmav2", "-b:a", "64k"])
    audio = ASF(path)
    for key, value in tags.items():
        audio[key] = value
    audio.save()
    return length_ms(ASF(path), seconds)


def asf_rows(out_dir, tone):
    rows = []
    jpeg = image(os.path.join(out_dir, "cover.jpg"), colour="green")
    png = image(os.path.join(out_dir, "cover.png"), colour="yellow")
    # Past 64 KB a value no longer fits the extended content description's 16-bit length;
    # the tagger puts it in the header extension's metadata library.
    big = image(os.path.join(out_dir, "big.png"), size="256x256", noise=True)
    assert len(big) > 0x10000, len(big)

    # Every field as text, and a zero-based WM/Track that the one-based WM/TrackNumber beats.
    ms = wma(out_dir, tone, "asf-text.wma", 2.0, 440, {
        "Title": "Evening Song", "Author": "The Lamplighters",
        "WM/AlbumTitle": "Night Roads", "WM/AlbumArtist": "Various Artists",
        "WM/TrackNumber": "3", "WM/Track": ASFDWordAttribute(8), "WM/PartOfSet": "1/2",
        "WM/Year": "2019", "WM/Picture": ASFByteArrayAttribute(wm_picture(jpeg, "image/jpeg")),
    })
    rows.append(["asf-text.wma", "asf", "Evening Song", "The Lamplighters", "Night Roads",
                 "Various Artists", 1, 3, 2019, ms, TOLERANCE_MS, 1])

    # Turkish, the track as a number, a PNG with a description.
    ms = wma(out_dir, tone, "asf-turkish.wma", 1.5, 523, {
        "Title": "Işıklar Sönerken", "Author": "Barış Ağaoğlu",
        "WM/AlbumTitle": "Şarkılar ve Ğ", "WM/AlbumArtist": "İstanbul Şehir Korosu",
        "WM/TrackNumber": ASFDWordAttribute(11), "WM/PartOfSet": "2",
        "WM/Year": "1975",
        "WM/Picture": ASFByteArrayAttribute(wm_picture(png, "image/png", 3, "Ön kapak")),
    })
    rows.append(["asf-turkish.wma", "asf", "Işıklar Sönerken", "Barış Ağaoğlu", "Şarkılar ve Ğ",
                 "İstanbul Şehir Korosu", 2, 11, 1975, ms, TOLERANCE_MS, 1])

    # Only the zero-based track; other scripts.
    ms = wma(out_dir, tone, "asf-zero-based.wma", 3.0, 660, {
        "Title": "夜の歌 🎵", "Author": "Αλέξης Βαμβακάρης", "WM/AlbumTitle": "Песни",
        "WM/Track": ASFDWordAttribute(6), "WM/Year": "2001",
    })
    rows.append(["asf-zero-based.wma", "asf", "夜の歌 🎵", "Αλέξης Βαμβακάρης", "Песни", "",
                 0, 7, 2001, ms, TOLERANCE_MS, 0])

    # A picture too big for the extended content description.
    ms = wma(out_dir, tone, "asf-big-picture.wma", 1.0, 330, {
        "Title": "Büyük Kapak", "WM/TrackNumber": "1",
        "WM/Picture": ASFByteArrayAttribute(wm_picture(big, "image/png")),
    })
    rows.append(["asf-big-picture.wma", "asf", "Büyük Kapak", "", "", "", 0, 1, 0, ms,
                 TOLERANCE_MS, 1])

    # Tagged by ffmpeg's own muxer: the track and disc as "5/9" and "2/3" text, and the year
    # under a name of its own ("date") rather than WM/Year, so the year is left unchecked.
    path = os.path.join(out_dir, "asf-ffmpeg-tags.wma")
    tone(path, 1.2, 392, ["-c:a", "wmav2", "-b:a", "64k", *FFMPEG_TAGS])
    audio = ASF(path)
    assert str(audio["WM/TrackNumber"][0]) == "5/9" and str(audio["WM/PartOfSet"][0]) == "2/3", audio
    assert "WM/Year" not in audio, audio
    rows.append(["asf-ffmpeg-tags.wma", "asf", "Çiçek Dağı", "Zülfü", "Ölmez", "Çeşitli", 2, 5, "-",
                 length_ms(audio, 1.2), TOLERANCE_MS, 0])

    # Nothing but what ffmpeg writes itself.
    path = os.path.join(out_dir, "asf-untagged.wma")
    tone(path, 1.0, 330, ["-c:a", "wmav2", "-b:a", "64k"])
    rows.append(["asf-untagged.wma", "asf", "", "", "", "", 0, 0, 0,
                 length_ms(ASF(path), 1.0), TOLERANCE_MS, 0])
    return rows


def make(out_dir, tone):
    return mp4_rows(out_dir, tone) + asf_rows(out_dir, tone)
