#!/usr/bin/python3
# Writes the seed corpus of the metadata-chunk fuzz target (run by hand): for
# each kind a reader's stream of well-formed items, paired with a RIFF, a
# 64-bit RIFF, an AIFF file or a sidecar, in the target's input layout.
import os
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus-chunks")
os.makedirs(here, exist_ok=True)


def guid(d1, d2, d3, d4):
    return struct.pack("<IHH", d1, d2, d3) + bytes(d4)


RIFF64 = guid(0x66666972, 0x912E, 0x11CF, [0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00])
WAVE64 = guid(0x65766177, 0xACF3, 0x11D3, [0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A])
FMT64 = guid(0x20746D66, 0xACF3, 0x11D3, [0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A])
DATA64 = guid(0x61746164, 0xACF3, 0x11D3, [0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A])
FMT = struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16)


def chunk(cid, data):
    return cid + struct.pack("<I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def riff(form, body):
    return b"RIFF" + struct.pack("<I", 4 + len(body)) + form + body


def wave():
    return riff(b"WAVE", chunk(b"fmt ", FMT) + chunk(b"data", b"\1\0" * 8) + chunk(b"cue ", struct.pack("<I", 0)))


def wave64():
    def c(g, data):
        data += b"\0" * ((8 - len(data) % 8) % 8)
        return g + struct.pack("<Q", 24 + len(data)) + data
    body = WAVE64 + c(FMT64, FMT) + c(DATA64, b"\1\0" * 8)
    return RIFF64 + struct.pack("<Q", 24 + len(body)) + body


def aiff():
    comm = struct.pack(">hIh", 1, 8, 16) + bytes.fromhex("400EAC44000000000000")
    body = b"AIFF" + b"COMM" + struct.pack(">I", len(comm)) + comm + b"SSND" + struct.pack(">I", 24) + bytes(24)
    return b"FORM" + struct.pack(">I", len(body)) + body


def sidecar():
    return riff(b"KVPL", chunk(b"KVPI", b"song.wav\0"))


def item(payload):
    return struct.pack("<II", 28, 100) + bytes(range(16)) + struct.pack("<I", len(payload)) + payload


def text(s):
    return (s + "\0").encode("utf-16-le")


def seed(name, kind, flags, count, media, stream):
    with open(os.path.join(here, name), "wb") as f:
        f.write(struct.pack("<BBHH", kind, flags, count, len(media)) + media + stream)


def marker(cue, pos, length, label):
    t = text(label)
    return item(struct.pack("<IIQQI", 0, cue, pos, length, len(t)) + t)


def sampler(loops, extra=b""):
    head = bytearray(36)
    head[12] = 60
    struct.pack_into("<II", head, 28, len(loops), len(extra))
    body = b"".join(struct.pack("<IIQQII", i, 0, s, l, 0, 0) for i, (s, l) in enumerate(loops))
    return item(bytes(head) + body + extra)


summary = item(struct.pack("<III", 0, 0x4D414E49, len(text("Night Train"))) + text("Night Train")) + \
    item(struct.pack("<III", 0, 0x54524149, len(text("Calbrey"))) + text("Calbrey"))
markers = marker(1, 100, 0, "Intro") + marker(2, 2000, 500, "Verse") + marker(3, 1 << 33, 10, "far")
playlist = item(struct.pack("<IIQII", 1, 0, 100, 2, 0)) + item(struct.pack("<IIQII", 2, 0, 1 << 40, 1, 0))
display = item(b"") + struct.pack("<III", 1, 1, 6) + b"hello\0"
raw = item(chunk(b"junk", b"abc")) + item(chunk(b"data", b"xx"))
kv04 = bytearray(62)
struct.pack_into("<II", kv04, 54, 3, 2)
kv04 = item(bytes(kv04) + b"abcde")

kinds = [
    ("summary", 0, 2, summary), ("markers", 1, 3, markers), ("playlist", 2, 2, playlist),
    ("display", 3, 1, display), ("sampler", 4, 1, sampler([(10, 100), (1 << 33, 5)], b"xyz")),
    ("raw", 5, 2, raw), ("scot", 6, 1, item(bytes(424))), ("tlst", 7, 2, item(bytes(24)) * 2),
    ("str2", 8, 1, item(bytes(20))), ("bmrk", 9, 1, item(bytes(52))), ("dtbt", 10, 1, item(bytes(12))),
    ("kv03", 11, 1, item(struct.pack("<II", 8, 4) + b"abcd")), ("kv04", 12, 1, kv04),
    ("bmpi", 13, 1, item(bytes(48))), ("bmpm", 14, 1, item(bytes(56))),
]
for name, kind, count, stream in kinds:
    seed(name + "-wave", kind, 0, count, wave(), stream)
    seed(name + "-wave64", kind, 1, count, wave64(), stream)
seed("sampler-aiff", 4, 2, 1, aiff(), sampler([(10, 100), (300, 50), (900, 1)]))
seed("summary-sidecar", 0, 0, 2, sidecar(), summary)

legacy_markers = struct.pack("<III", 12, 100, 2) + struct.pack("<IQQII", 0, 10000000, 0, 0, 4) + text("a") + \
    struct.pack("<IQQII", 0, 20000000, 5000000, 1, 6) + text("bc")
legacy_summary = struct.pack("<III", 12, 100, 2) + struct.pack("<III", 0, 0x4D414E49, 6) + text("ab") + \
    struct.pack("<III", 0, 0x54524149, 4) + text("c")
seed("legacy-markers-wave", 15, 0, 0, wave(), legacy_markers)
seed("legacy-markers-wave64", 15, 1, 0, wave64(), legacy_markers)
seed("legacy-summary-wave", 16, 0, 0, wave(), legacy_summary)
seed("legacy-summary-sidecar", 16, 0, 0, sidecar(), legacy_summary)
