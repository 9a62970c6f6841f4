"""FLAC, Ogg Vorbis and Ogg Opus clips: encoded by flac, oggenc, opusenc and ffmpeg from a
sine, tagged with mutagen. Each file is checked after tagging for the shape its row relies
on (a comment packet over two pages, an ID3v2 tag before "fLaC", lower-case keys), so a
failing row is the reader's fault and not the corpus's."""
import os
import struct
import subprocess
import sys

try:
    import mutagen  # noqa: F401
except ImportError:
    # CMake may run a python3 that is not Debian's; mutagen is pure Python, so Debian's copy serves.
    sys.path.append("/usr/lib/python3/dist-packages")
from mutagen.flac import FLAC, Picture
from mutagen.id3 import ID3, TIT2, TPE1
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis

TURKISH = "Işık Şarkısı: Dağ, İğne, Ğ ve ş"
GREEK = "Ελληνική μουσική"
JAPANESE = "日本の歌手"

FULL = [("title", "Kırk Üç"), ("artist", "Barış Ünlü"), ("album", "Güz"),
        ("ALBUMARTIST", "Çeşitli Sanatçılar"), ("TRACKNUMBER", "3/12"),
        ("DISCNUMBER", "2/2"), ("DATE", "2019-05-04")]


def _run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _wav(out, tone, name, seconds, frequency):
    path = os.path.join(out, name + ".wav")
    tone(path, seconds, frequency)
    return path


def _image(out, name):
    path = os.path.join(out, name)
    _run("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v", "1", path)
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    assert data[:3] == b"\xff\xd8\xff" or data[:4] == b"\x89PNG", name
    return data


def _tag(audio, fields):
    """Writes the fields in the order given, keys spelled as given."""
    if audio.tags is None:
        audio.add_tags()
    audio.tags.clear()
    for key, value in fields:
        audio.tags.append((key, value))
    audio.save()


def _flac(out, tone, name, seconds, frequency, fields, pictures=()):
    wav = _wav(out, tone, name, seconds, frequency)
    path = os.path.join(out, name + ".flac")
    _run("flac", "-s", "-f", "-o", path, wav)
    os.remove(wav)
    audio = FLAC(path)
    _tag(audio, fields)
    for kind, mime, data in pictures:
        picture = Picture()
        picture.type, picture.mime, picture.data, picture.desc = kind, mime, data, "kapak"
        audio.add_picture(picture)
    audio.save()
    return path


def _ogg_pages(path):
    """(serial, granule, segment table) of every page, read as the format lays them out."""
    with open(path, "rb") as f:
        data = f.read()
    pages, at = [], 0
    while at + 27 <= len(data):
        assert data[at:at + 4] == b"OggS", path
        granule, serial = struct.unpack_from("<qI", data, at + 6)
        lacing = data[at + 27:at + 27 + data[at + 26]]
        pages.append((serial, granule, lacing))
        at += 27 + len(lacing) + sum(lacing)
    return pages


def _second_packet_pages(path):
    """On how many pages the second packet (the comments) lies."""
    packet, pages_seen = 0, set()
    for number, (_, _, lacing) in enumerate(_ogg_pages(path)):
        for value in lacing:
            if packet == 1:
                pages_seen.add(number)
            if value < 255:
                packet += 1
        if packet > 1:
            break
    return len(pages_seen)


def make(out, tone):
    rows = []
    jpeg = _image(out, "cover.jpg")
    png = _image(out, "cover.png")

    # Everything a FLAC tag usually holds, in mixed-case keys as taggers write them.
    _flac(out, tone, "flac-full", 2.0, 440, FULL)
    rows.append(["flac-full.flac", "flac", "Kırk Üç", "Barış Ünlü", "Güz", "Çeşitli Sanatçılar",
                 2, 3, 2019, 2000, 30, 0])

    # Lower-case keys only; the reader matches keys without regard to case.
    path = _flac(out, tone, "flac-lower", 1.0, 523, [
        ("title", TURKISH), ("artist", "Ağaç"), ("album", "İzmir"), ("albumartist", "Şebnem"),
        ("tracknumber", "07"), ("discnumber", "1"), ("date", "1987")])
    with open(path, "rb") as f:
        data = f.read()
    assert b"title=" in data and b"TITLE=" not in data, "keys kept in lower case"
    rows.append(["flac-lower.flac", "flac", TURKISH, "Ağaç", "İzmir", "Şebnem", 1, 7, 1987, 1000, 30, 0])

    # A back cover first, then the front: the front is the one to show.
    _flac(out, tone, "flac-covers", 1.5, 660, [("TITLE", GREEK), ("ARTIST", JAPANESE)],
          pictures=[(4, "image/png", png), (3, "image/jpeg", jpeg)])
    rows.append(["flac-covers.flac", "flac", GREEK, JAPANESE, "", "", 0, 0, 0, 1500, 30, 1])

    # Only a picture of another kind: it stands in for the cover.
    _flac(out, tone, "flac-other-picture", 1.0, 700, [("ALBUM", JAPANESE), ("ALBUM ARTIST", GREEK)],
          pictures=[(0, "image/png", png)])
    rows.append(["flac-other-picture.flac", "flac", "", "", JAPANESE, GREEK, 0, 0, 0, 1000, 30, 1])

    # No fields at all: the encoder writes only its vendor string.
    wav = _wav(out, tone, "flac-bare", 3.0, 330)
    _run("flac", "-s", "-f", "-o", os.path.join(out, "flac-bare.flac"), wav)
    os.remove(wav)
    rows.append(["flac-bare.flac", "flac", "", "", "", "", 0, 0, 0, 3000, 30, 0])

    # An ID3v2 tag put before "fLaC" by a tagger that knew only MP3; the FLAC's own comments
    # say the same title.
    path = _flac(out, tone, "flac-id3", 2.5, 880, [("TITLE", "Önce ID3"), ("ARTIST", "Gökçe"),
                                                   ("TRACKNUMBER", "11"), ("DATE", "2001")])
    id3_path = os.path.join(out, "id3.bin")
    open(id3_path, "wb").close()
    id3 = ID3()
    id3.add(TIT2(encoding=3, text="Önce ID3"))
    id3.add(TPE1(encoding=3, text="Gökçe"))
    id3.save(id3_path, v2_version=4)
    with open(id3_path, "rb") as f:
        head = f.read()
    os.remove(id3_path)
    size = 10 + (head[6] << 21 | head[7] << 14 | head[8] << 7 | head[9])
    assert head[:3] == b"ID3" and len(head) == size, "the ID3v2 tag is exactly its declared size"
    with open(path, "rb") as f:
        flac = f.read()
    with open(path, "wb") as f:
        f.write(head + flac)
    rows.append(["flac-id3.flac", "flac", "Önce ID3", "Gökçe", "", "", 0, 11, 2001, 2500, 30, 0])

    # Ogg Vorbis whose comment packet runs over two pages, the fields to read after the long one.
    wav = _wav(out, tone, "vorbis-long", 2.0, 440)
    path = os.path.join(out, "vorbis-long.ogg")
    _run("oggenc", "-Q", "-q", "2", "-o", path, wav)
    os.remove(wav)
    _tag(OggVorbis(path), [("DESCRIPTION", "uzun " * 1200), ("TITLE", "Uzun Yorum"),
                           ("ARTIST", TURKISH), ("ALBUM", GREEK), ("TRACKNUMBER", "3/12"),
                           ("DISCNUMBER", "1/3"), ("DATE", "2024-01-02")])
    assert _second_packet_pages(path) >= 2, "the comments span pages"
    rows.append(["vorbis-long.ogg", "ogg-vorbis", "Uzun Yorum", TURKISH, GREEK, "", 1, 3, 2024, 2000, 30, 0])

    # Ogg Vorbis from ffmpeg's muxer, short comments.
    path = os.path.join(out, "vorbis-ffmpeg.ogg")
    tone(path, 1.2, 550, ("-c:a", "libvorbis", "-q:a", "1"))
    _tag(OggVorbis(path), [("title", JAPANESE), ("Artist", "İlhan"), ("albumartist", "Ilgaz"),
                           ("date", "1999")])
    rows.append(["vorbis-ffmpeg.ogg", "ogg-vorbis", JAPANESE, "İlhan", "", "Ilgaz", 0, 0, 1999, 1200, 30, 0])

    # Opus from opusenc: its own pre-skip, 48 kHz whatever the input was.
    wav = _wav(out, tone, "opus-tags", 2.0, 440)
    path = os.path.join(out, "opus-tags.opus")
    _run("opusenc", "--quiet", "--bitrate", "32", wav, path)
    os.remove(wav)
    _tag(OggOpus(path), [("TITLE", GREEK), ("ARTIST", JAPANESE), ("ALBUM", TURKISH),
                         ("ALBUMARTIST", "Ş Ğ İ ı"), ("TRACKNUMBER", "5"), ("DISCNUMBER", "1"),
                         ("DATE", "2020")])
    rows.append(["opus-tags.opus", "ogg-opus", GREEK, JAPANESE, TURKISH, "Ş Ğ İ ı", 1, 5, 2020, 2000, 30, 0])

    # Opus from ffmpeg with a comment packet over two pages.
    path = os.path.join(out, "opus-long.opus")
    tone(path, 2.7, 600, ("-c:a", "libopus", "-b:a", "32k"))
    _tag(OggOpus(path), [("COMMENT", "ğ" * 4000), ("title", "Çok Uzun"), ("artist", "Ğ"),
                         ("tracknumber", "12/12")])
    assert _second_packet_pages(path) >= 2, "the comments span pages"
    rows.append(["opus-long.opus", "ogg-opus", "Çok Uzun", "Ğ", "", "", 0, 12, 0, 2700, 30, 0])

    # Opus without any field.
    wav = _wav(out, tone, "opus-bare", 1.0, 300)
    path = os.path.join(out, "opus-bare.opus")
    _run("opusenc", "--quiet", wav, path)
    os.remove(wav)
    _tag(OggOpus(path), [])
    rows.append(["opus-bare.opus", "ogg-opus", "", "", "", "", 0, 0, 0, 1000, 30, 0])

    # Downloads cut short: the tags before the cut are still there. A FLAC still says its
    # length in STREAMINFO; a cut Ogg file's last page is gone, so its length is not checked.
    _cut(out, "flac-full.flac", "flac-cut.flac")
    rows.append(["flac-cut.flac", "flac", "Kırk Üç", "Barış Ünlü", "Güz", "Çeşitli Sanatçılar",
                 2, 3, 2019, 2000, 30, 0])
    _cut(out, "vorbis-long.ogg", "vorbis-cut.ogg")
    rows.append(["vorbis-cut.ogg", "ogg-vorbis", "Uzun Yorum", TURKISH, GREEK, "", 1, 3, 2024, "-", 0, 0])
    return rows


def _cut(out, name, cut_name):
    """Writes the first 60 % of a file, cut in the middle of a page or frame."""
    with open(os.path.join(out, name), "rb") as f:
        data = f.read()
    with open(os.path.join(out, cut_name), "wb") as f:
        f.write(data[:len(data) * 6 // 10 + 7])
