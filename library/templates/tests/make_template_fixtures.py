#!/usr/bin/python3
"""Template files built byte by byte with struct, and their expected identities
(zlib.crc32 and the MD5 name-based GUID from hashlib), for the template tests.

Writes into <out>/templates/: one .bin per case and manifest.tsv with the
columns: file, expected load result (hex), CRC without strings, CRC with
strings, MD5 GUID without strings, MD5 GUID with strings (GUIDs as 32 hex
digits in memory order; '-' where the file is not a valid template).
"""
import hashlib
import os
import random
import struct
import sys
import zlib

OK = 0x00000000
BAD = 0x8004E00B
PREFIX = b"Viruvu2007 V2 Template Data\0"


def round4(x):
    return (x + 3) & ~3


def v2(block=b"", name=None, desc=None, seed=1, version=0x2000000, audio_part=200, video_part=0,
       total=None, block_size=None, chars=None, pad=0):
    """A V2 record with a random body; name/desc None means no string area."""
    rnd = random.Random(seed)
    strings = b""
    n_chars = 0
    if name is not None or desc is not None:
        n = (name or "").encode("utf-16-le")
        d = (desc or "").encode("utf-16-le")
        strings = n + b"\0\0" + d + b"\0\0"
        n_chars = len(strings) // 2
    size = max(540, 536 + round4(len(block)) + len(strings))
    rec = bytearray(size)
    rec[8:528] = bytes(rnd.getrandbits(8) for _ in range(520))
    struct.pack_into("<II", rec, 0, size if total is None else total, version)
    struct.pack_into("<I", rec, 56, audio_part)
    struct.pack_into("<I", rec, 256, video_part)
    struct.pack_into("<II", rec, 528, n_chars if chars is None else chars,
                     len(block) if block_size is None else block_size)
    rec[536:536 + len(block)] = block
    off = 536 + round4(len(block))
    rec[off:off + len(strings)] = strings
    return bytes(rec) + bytes(pad), block, name or "", desc or ""


def identities(rec, block, name, desc):
    body = rec[56:528]
    strs = name.encode("utf-16-le") + desc.encode("utf-16-le")
    crc0 = zlib.crc32(body + block)
    crc1 = zlib.crc32(body + block + strs)

    def guid(data):
        d = bytearray(hashlib.md5(PREFIX + data).digest())
        d[7] = (d[7] & 0x0F) | 0x30
        d[8] = (d[8] & 0x3F) | 0x80
        return d.hex()

    return "%08x" % crc0, "%08x" % crc1, guid(body + block), guid(body + block + strs)


def main():
    out = os.path.join(sys.argv[1], "templates")
    os.makedirs(out, exist_ok=True)
    rows = []

    def add(fname, data, expected, ident=None):
        with open(os.path.join(out, fname), "wb") as f:
            f.write(data)
        ids = ident if ident else ("-", "-", "-", "-")
        rows.append("\t".join([fname, "%08x" % expected] + list(ids)))

    def good(fname, made):
        rec, block, name, desc = made
        add(fname, rec, OK, identities(rec, block, name, desc))

    # Valid records and their identities.
    good("basic540.bin", v2(seed=1))
    good("block_only.bin", v2(block=bytes(range(44)), seed=2))
    good("odd_block.bin", v2(block=b"\x01\x02\x03\x04\x05", name="Odd", desc="", seed=3))
    good("named.bin", v2(block=bytes(range(200, 244)), name="AAC 128 Kbps", desc="44,100 Hz, Stereo", seed=4))
    good("renamed.bin", v2(block=bytes(range(200, 244)), name="Another name", desc="Other text", seed=4))
    good("unicode.bin", v2(name="Gr\u00fc\u00dfe \u65e5\u672c", desc="\u00e9t\u00e9", seed=5))
    good("empty_name.bin", v2(block=b"xyz!", name="", desc="only a description", seed=6))
    good("video_part.bin", v2(seed=7, video_part=200, audio_part=0))
    good("minor_version.bin", v2(seed=8, version=0x2020000, block=bytes(44)))
    # A record shorter than the file that holds it.
    rec, block, name, desc = v2(block=bytes(8), name="N", desc="D", seed=9, pad=60)
    add("trailing_bytes.bin", rec, OK, identities(rec, block, name, desc))
    # V1 and later major versions: the file loader accepts them as read.
    v1 = bytearray(1100)
    struct.pack_into("<II", v1, 0, 1100, 0x1000000)
    add("v1_as_read.bin", bytes(v1), OK)
    add("major3.bin", v2(seed=10, version=0x3000000)[0], OK)

    # Malformed records: refused with 0x8004E00B.
    add("bad_empty.bin", b"", BAD)
    add("bad_short539.bin", v2(seed=11)[0][:539], BAD)
    add("bad_total_over_file.bin", v2(seed=12, total=541)[0], BAD)
    add("bad_version_low.bin", v2(seed=13, version=0x0FFFFFF)[0], BAD)
    add("bad_total_under_540.bin", v2(seed=14, total=539)[0], BAD)
    add("bad_block_over_file.bin", v2(seed=15, block_size=600)[0], BAD)
    add("bad_chars_wrap.bin", v2(seed=16, chars=0x80000000)[0], BAD)
    add("bad_block_wrap.bin", v2(seed=17, block_size=0xFFFFFFFD)[0], BAD)
    # 549-byte record whose layout needs 550 bytes (one more than the file).
    rec = bytearray(v2(block=b"\x01", seed=18)[0]) + bytes(9)
    struct.pack_into("<I", rec, 0, 549)
    struct.pack_into("<I", rec, 528, 5)
    add("bad_layout_one_over.bin", bytes(rec), BAD)
    # Layout inside the file but beyond the record's own total size.
    rec = bytearray(v2(seed=19, pad=60)[0])
    struct.pack_into("<I", rec, 532, 40)
    add("bad_layout_over_total.bin", bytes(rec), BAD)
    add("bad_audio_part.bin", v2(seed=20, audio_part=100)[0], BAD)
    add("bad_video_part.bin", v2(seed=21, video_part=201)[0], BAD)

    with open(os.path.join(out, "manifest.tsv"), "w") as f:
        f.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
