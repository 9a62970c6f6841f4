"""MP3 and WAV clips for the tag reader's corpus: real MP3s from lame and ffmpeg (constant
bitrate with an Info frame, variable with a Xing frame, one with no such frame at all), tagged
by mutagen in each ID3v2 version and text encoding; the tag layouts mutagen does not write
(ID3v2.2, unsynchronisation, extended headers, ID3v1 alone) built here byte by byte and put
before or after the same real audio; WAV from ffmpeg with LIST/INFO and one with an id3 chunk.
"""
import os
import subprocess
import struct
import sys

try:
    import mutagen  # noqa: F401
except ImportError:
    # The build may run another Python than the system's, which is where mutagen is installed.
    sys.path.append("/usr/lib/python3/dist-packages")
from mutagen import id3  # noqa: E402
from mutagen.wave import WAVE  # noqa: E402

TURKISH = "Işık Şarkısı ğüş İŞĞ"
GREEK = "Καλημέρα κόσμε"
JAPANESE = "こんにちは世界"


def run(*args):
    subprocess.run(list(args), check=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def without_id3v2(data):
    """The audio of an MP3 without the ID3v2 tag an encoder may have put before it."""
    if data[:3] == b"ID3":
        size = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9])
        return data[size:]
    return data


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def unsynchronise(data):
    """0xFF followed by a byte that could start a frame sync (or by zero) gets a zero between."""
    out = bytearray()
    for i, b in enumerate(data):
        out.append(b)
        if b == 0xFF and (i + 1 == len(data) or data[i + 1] >= 0xE0 or data[i + 1] == 0):
            out.append(0)
    return bytes(out)


def frame23(frame_id, payload, flags=0):
    return frame_id.encode() + struct.pack(">IH", len(payload), flags) + payload


def frame24(frame_id, payload, flags=0):
    return frame_id.encode() + syncsafe(len(payload)) + struct.pack(">H", flags) + payload


def frame22(frame_id, payload):
    return frame_id.encode() + struct.pack(">I", len(payload))[1:] + payload


def id3_header(version, flags, body):
    return b"ID3" + bytes([version, 0, flags]) + syncsafe(len(body)) + body


def latin1_text(text):
    return b"\x00" + text.encode("latin-1")


def utf16_text(text):
    return b"\x01" + text.encode("utf-16")


def tag(path, version, encoding, fields, pictures=()):
    """Tags path with mutagen: fields maps frame names to text, pictures are (type, mime, data)."""
    tags = id3.ID3()
    for name, value in fields.items():
        tags.add(getattr(id3, name)(encoding=encoding, text=[value]))
    for kind, mime, data in pictures:
        tags.add(id3.APIC(encoding=encoding, mime=mime, type=kind, desc="kapak %d" % kind, data=data))
    tags.save(path, v2_version=version, v1=0, padding=lambda info: 64)


def make(out_dir, tone):
    work = os.path.join(out_dir, "mp3-wav-work")
    os.makedirs(work, exist_ok=True)
    source = os.path.join(work, "tone.wav")
    tone(source, 2.0, 523)
    long_source = os.path.join(work, "tone3.wav")
    tone(long_source, 3.0, 659)
    cbr = os.path.join(work, "cbr.mp3")
    vbr = os.path.join(work, "vbr.mp3")
    low = os.path.join(work, "low.mp3")
    bare = os.path.join(work, "bare.mp3")
    run("lame", "--quiet", "-b", "128", source, cbr)
    run("lame", "--quiet", "-V", "4", source, vbr)
    # MPEG-2 layer III, mono: the other table of rates and the shorter side information.
    run("lame", "--quiet", "-m", "m", "--resample", "22.05", "-V", "6", source, low)
    run("ffmpeg", "-v", "error", "-y", "-i", long_source, "-c:a", "libmp3lame", "-b:a", "256k",
        "-write_xing", "0", "-id3v2_version", "0", bare)
    jpeg = os.path.join(work, "cover.jpg")
    png = os.path.join(work, "cover.png")
    run("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=red:s=16x16", "-frames:v", "1", jpeg)
    run("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=blue:s=16x16", "-frames:v", "1", png)
    jpeg_bytes, png_bytes = read(jpeg), read(png)
    cbr_audio, vbr_audio, bare_audio = read(cbr), read(vbr), read(bare)

    rows = []

    def mp3(name, audio, title, artist, album, album_artist, disc, track, year, picture,
            duration=2000, tolerance=60):
        rows.append([name, "mp3", title, artist, album, album_artist, disc, track, year,
                     duration, tolerance, picture])

    def tagged(name, audio, version, encoding, fields, pictures=()):
        path = os.path.join(out_dir, name)
        write(path, audio)
        tag(path, version, encoding, fields, pictures)

    full = {"TIT2": "Gece Yolculuğu", "TPE1": "Kara Kedi", "TALB": "Yollar", "TPE2": "Çeşitli",
            "TPOS": "1/2", "TRCK": "3/12", "TDRC": "1979-11-30"}
    latin = {"TIT2": "Café Müller", "TPE1": "Zoë Ådne", "TALB": "Øresund", "TPE2": "Åse",
             "TPOS": "1/2", "TRCK": "3/12", "TDRC": "1979-11-30"}

    # Each version in each encoding it allows, over the constant-bitrate file's Info frame.
    tagged("v23-latin1.mp3", cbr_audio, 3, 0, latin)
    mp3("v23-latin1.mp3", cbr_audio, "Café Müller", "Zoë Ådne", "Øresund", "Åse", 1, 3, 1979, 0)
    tagged("v23-utf16.mp3", cbr_audio, 3, 1, full)
    mp3("v23-utf16.mp3", cbr_audio, "Gece Yolculuğu", "Kara Kedi", "Yollar", "Çeşitli", 1, 3, 1979, 0)
    tagged("v24-latin1.mp3", vbr_audio, 4, 0, latin)
    mp3("v24-latin1.mp3", vbr_audio, "Café Müller", "Zoë Ådne", "Øresund", "Åse", 1, 3, 1979, 0)
    tagged("v24-utf16.mp3", vbr_audio, 4, 1, dict(full, TIT2=TURKISH))
    mp3("v24-utf16.mp3", vbr_audio, TURKISH, "Kara Kedi", "Yollar", "Çeşitli", 1, 3, 1979, 0)
    tagged("v24-utf16be.mp3", vbr_audio, 4, 2, dict(full, TIT2=GREEK))
    mp3("v24-utf16be.mp3", vbr_audio, GREEK, "Kara Kedi", "Yollar", "Çeşitli", 1, 3, 1979, 0)
    tagged("v24-utf8.mp3", vbr_audio, 4, 3, dict(full, TIT2=JAPANESE, TPE1=GREEK))
    mp3("v24-utf8.mp3", vbr_audio, JAPANESE, GREEK, "Yollar", "Çeşitli", 1, 3, 1979, 0)

    # Several values in one frame: the first is the one shown.
    path = os.path.join(out_dir, "v24-two-artists.mp3")
    write(path, vbr_audio)
    tags = id3.ID3()
    tags.add(id3.TIT2(encoding=3, text=["İki Ses"]))
    tags.add(id3.TPE1(encoding=3, text=["Birinci", "İkinci"]))
    tags.save(path, v2_version=4, v1=0)
    mp3("v24-two-artists.mp3", vbr_audio, "İki Ses", "Birinci", "", "", "-", "-", "-", 0)

    # A field marked Latin-1 that an old Turkish program filled with Windows-1254 bytes.
    tagged("v23-cp1254.mp3", cbr_audio, 3, 0,
           {"TIT2": "Barýþ Manço", "TPE1": "Ýþte Böyle", "TALB": "Daðlar"})
    mp3("v23-cp1254.mp3", cbr_audio, "Barış Manço", "İşte Böyle", "Dağlar", "", "-", "-", "-", 0)

    # Pictures: a front cover, and a cover after another picture (the front one is chosen).
    tagged("v23-jpeg.mp3", cbr_audio, 3, 1, {"TIT2": "Kapaklı"}, [(3, "image/jpeg", jpeg_bytes)])
    mp3("v23-jpeg.mp3", cbr_audio, "Kapaklı", "", "", "", "-", "-", "-", 1)
    tagged("v24-two-pictures.mp3", vbr_audio, 4, 3, {"TIT2": "İki Resim"},
           [(0, "image/png", png_bytes), (3, "image/jpeg", jpeg_bytes)])
    mp3("v24-two-pictures.mp3", vbr_audio, "İki Resim", "", "", "", "-", "-", "-", 1)
    tagged("v24-png.mp3", read(low), 4, 0, {"TIT2": "Mono"}, [(4, "image/png", png_bytes)])
    mp3("v24-png.mp3", None, "Mono", "", "", "", "-", "-", "-", 1)

    # A cover larger than the reader reads of a tag at once (20 MB of noise as PNG): its
    # place is still known, from the start of its frame.
    big = os.path.join(work, "big.png")
    run("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=gray:s=2600x2600,noise=alls=100:allf=u",
        "-frames:v", "1", "-pix_fmt", "rgb24", big)
    assert os.path.getsize(big) > 17 << 20
    tagged("v24-big-cover.mp3", vbr_audio, 4, 3, {"TIT2": "Büyük Kapak", "TPE1": "Kara Kedi"},
           [(3, "image/png", read(big))])
    mp3("v24-big-cover.mp3", None, "Büyük Kapak", "Kara Kedi", "", "", "-", "-", "-", 1)

    # No Xing frame: the duration is estimated from the bitrate (3 s of audio, 3 %).
    tagged("cbr-estimate.mp3", bare_audio, 4, 3, {"TIT2": "Tahmin", "TRCK": "9"})
    mp3("cbr-estimate.mp3", bare_audio, "Tahmin", "", "", "", "-", 9, "-", 0, 3000, 90)

    # ID3v2.2, as old iTunes wrote it, with a PIC frame.
    pic = b"\x00JPG\x03" + b"\x00" + jpeg_bytes
    body = (frame22("TT2", latin1_text("Eski Sürüm")) + frame22("TP1", utf16_text(TURKISH)) +
            frame22("TAL", latin1_text("Plak")) + frame22("TRK", latin1_text("5/10")) +
            frame22("TPA", latin1_text("2/2")) + frame22("TYE", latin1_text("1984")) + frame22("PIC", pic) +
            b"\x00" * 32)
    write(os.path.join(out_dir, "v22.mp3"), id3_header(2, 0, body) + without_id3v2(vbr_audio))
    mp3("v22.mp3", None, "Eski Sürüm", TURKISH, "Plak", "", 2, 5, 1984, 1)

    # ID3v2.3 unsynchronised over the whole tag: the 0xFF bytes of "ÿ" and of a UTF-16 mark
    # are followed by inserted zeros that the reader must take out again.
    frames = (frame23("TIT2", latin1_text("Çÿé Sarki")) +
              frame23("TPE1", utf16_text("ÿİş")) + frame23("TALB", latin1_text("ÿÿ")) +
              frame23("TRCK", latin1_text("7")))
    body = unsynchronise(frames + b"\x00" * 16)
    assert len(body) > len(frames) + 16
    write(os.path.join(out_dir, "v23-unsync.mp3"), id3_header(3, 0x80, body) + without_id3v2(cbr_audio))
    mp3("v23-unsync.mp3", None, "Çÿé Sarki", "ÿİş", "ÿÿ", "", "-", 7, "-", 0)

    # ID3v2.3 with an extended header (its size does not count its own four bytes), with a
    # picture after it.
    extended = struct.pack(">IHI", 6, 0, 0)
    apic = b"\x00image/jpeg\x00\x03\x00" + jpeg_bytes
    body = extended + frame23("TIT2", latin1_text("Uzun Baslik")) + \
        frame23("TPE1", utf16_text("Şebnem")) + frame23("TYER", latin1_text("2001")) + \
        frame23("APIC", apic) + b"\x00" * 20
    write(os.path.join(out_dir, "v23-extended.mp3"), id3_header(3, 0x40, body) + without_id3v2(cbr_audio))
    mp3("v23-extended.mp3", None, "Uzun Baslik", "Şebnem", "", "", "-", "-", 2001, 1)

    # ID3v2.4 with an extended header (syncsafe, counting itself) and frames unsynchronised
    # one by one with a data-length indicator, beside a frame left plain.
    extended = syncsafe(6) + b"\x01\x00"
    raw_title = utf16_text("ÿÿ Dört")
    title = syncsafe(len(raw_title)) + unsynchronise(raw_title)
    body = extended + frame24("TIT2", title, 0x0003) + frame24("TPE1", b"\x03" + "Dördüncü".encode()) + \
        frame24("TPOS", b"\x00" + b"2") + b"\x00" * 10
    write(os.path.join(out_dir, "v24-extended-unsync.mp3"), id3_header(4, 0x40, body) + without_id3v2(vbr_audio))
    mp3("v24-extended-unsync.mp3", None, "ÿÿ Dört", "Dördüncü", "", "", 2, "-", "-", 0)

    # Junk between the tag and the audio that begins like a frame header (MPEG-1 layer III,
    # 32 kbit/s) with no frame where its length points: taken for audio, it would hide the
    # Xing frame and give a duration four times too long.
    path = os.path.join(out_dir, "junk-before-audio.mp3")
    junk = b"\xff\xfb\x10\x00" + b"\x55" * 300
    tags = id3.ID3()
    tags.add(id3.TIT2(encoding=3, text=["Çöp"]))
    write(path, vbr_audio)
    tags.save(path, v2_version=4, v1=0, padding=lambda info: 0)
    data = read(path)
    tag_size = 10 + ((data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9])
    write(path, data[:tag_size] + junk + without_id3v2(vbr_audio))
    mp3("junk-before-audio.mp3", None, "Çöp", "", "", "", "-", "-", "-", 0)

    # A VBRI header, as Fraunhofer's encoder writes one, in place of lame's Xing header: the
    # same real frames, counted where VBRI keeps the count (32 bytes after the header). The
    # first frame's bitrate alone would give less than a third of the length.
    audio = bytearray(without_id3v2(vbr_audio))
    xing = audio.index(b"Xing")
    frames = struct.unpack(">I", audio[xing + 8:xing + 12])[0]
    audio[xing:xing + 4] = b"\x00" * 4
    audio[36:36 + 26] = b"VBRI" + struct.pack(">HHHII", 1, 0, 75, len(audio), frames) + \
        struct.pack(">HHHH", 0, 1, 2, 1)
    path = os.path.join(out_dir, "vbri.mp3")
    write(path, bytes(audio))
    tag(path, 3, 1, {"TIT2": "Fraunhofer"})
    mp3("vbri.mp3", None, "Fraunhofer", "", "", "", "-", "-", "-", 0)

    # ID3v1.1 alone, in Windows-1254 as a Turkish program of its day wrote it.
    v1 = (b"TAG" + b"Bar\xfd\xfe Man\xe7o".ljust(30, b"\x00") + b"Kurtalan Ekspres".ljust(30, b"\x00") +
          b"Da\xf0lar".ljust(30, b"\x00") + b"1975" + b"".ljust(28, b"\x00") + b"\x00\x07" + b"\x0c")
    assert len(v1) == 128
    write(os.path.join(out_dir, "v1-only.mp3"), without_id3v2(cbr_audio) + v1)
    mp3("v1-only.mp3", None, "Barış Manço", "Kurtalan Ekspres", "Dağlar", "", "-", 7, 1975, 0)

    # ID3v2 and ID3v1 together: the v1 tag only fills what v2 left empty.
    path = os.path.join(out_dir, "v24-and-v1.mp3")
    write(path, bare_audio)
    tags = id3.ID3()
    tags.add(id3.TIT2(encoding=3, text=["Yeni Başlık"]))
    tags.save(path, v2_version=4, v1=0)
    write(path, read(path) + v1)
    mp3("v24-and-v1.mp3", None, "Yeni Başlık", "Kurtalan Ekspres", "Dağlar", "", "-", 7, 1975, 0, 3000, 90)

    # WAV: LIST/INFO as ffmpeg writes it (UTF-8), and an id3 chunk as mutagen adds it.
    path = os.path.join(out_dir, "info.wav")
    run("ffmpeg", "-v", "error", "-y", "-i", source, "-metadata", "title=" + TURKISH, "-metadata",
        "artist=Kara Kedi", "-metadata", "album=Yollar", "-metadata", "track=4", "-metadata",
        "date=1980", path)
    rows.append(["info.wav", "wav", TURKISH, "Kara Kedi", "Yollar", "", "-", 4, 1980, 2000, 60, 0])
    path = os.path.join(out_dir, "plain.wav")
    run("ffmpeg", "-v", "error", "-y", "-i", long_source, "-ac", "2", "-fflags", "+bitexact", path)
    rows.append(["plain.wav", "wav", "", "", "", "", "-", "-", "-", 3000, 60, 0])
    path = os.path.join(out_dir, "id3-chunk.wav")
    run("ffmpeg", "-v", "error", "-y", "-i", source, "-fflags", "+bitexact", path)
    wave = WAVE(path)
    wave.add_tags()
    wave.tags.add(id3.TIT2(encoding=1, text=[GREEK]))
    wave.tags.add(id3.TPE1(encoding=3, text=["Şebnem Ferah"]))
    wave.tags.add(id3.TPE2(encoding=3, text=["Çeşitli"]))
    wave.tags.add(id3.TRCK(encoding=3, text=["3/12"]))
    wave.tags.add(id3.APIC(encoding=3, mime="image/png", type=3, desc="", data=png_bytes))
    wave.save()
    rows.append(["id3-chunk.wav", "wav", GREEK, "Şebnem Ferah", "", "Çeşitli", "-", 3, "-", 2000, 60, 1])

    for name in os.listdir(work):
        os.remove(os.path.join(work, name))
    os.rmdir(work)
    return rows
