#!/usr/bin/python3
"""Independent views of ID3v2 tags and iTunes items for the oracle checks.

  expect FILE          what mutagen reads from the ID3v2 tag of FILE, in the
                       form `metatag id3read` prints (sorted lines)
  frames FILE          every frame mutagen reads: id, encoding and value (sorted)
  extract MP4 OUT      writes the tag of the 'ID32' box of MP4 to OUT; prints
                       the handler type of the 'meta' box that holds it
  atomicparsley TEXT   the items of `AtomicParsley FILE -t` output (file TEXT)
                       in the form `metatag readall` prints (sorted, texts only)
  fnv FILE             the FNV-1a sum metatag prints for a file's bytes
"""
import re
import struct
import sys

import mp4walk  # tests/support, on PYTHONPATH

# Frame id -> summary id, as the tag model maps them (the first one found wins).
FRAME_IDS = {
    "TIT2": "INAM", "TIT1": "ISBJ", "TOPE": "IART", "TPE1": "IART", "TPE2": "IAAT", "TALB": "ISRC",
    "TRCK": "TRCK", "TIT3": "TIT2", "TCOP": "ICOP", "TCOM": "TCOM", "TLEN": "TLEN",
}
YEAR_IDS = {3: ["TYER"], 4: ["TDTG", "TDRC"]}


def fnv(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return "%08x" % h


def expect(path):
    from mutagen.id3 import ID3
    tag = ID3(path, translate=False)
    version = tag.version[1]
    ids = dict(FRAME_IDS)
    for y in YEAR_IDS[version]:
        ids[y] = "ICRD"
    texts = {}
    pictures = {}
    lines = []
    for frame in tag.values():  # file order
        fid = frame.FrameID
        if fid in ids and ids[fid] not in texts:
            value = str(frame.text[0]) if frame.text else ""
            if value:
                texts[ids[fid]] = value
        elif fid == "APIC" and frame.type not in pictures:
            pictures[frame.type] = frame
        elif fid == "GEOB":
            lines.append('object %s "%s" "%s" %d %s' % (frame.mime, frame.filename, frame.desc, len(frame.data),
                                                        fnv(frame.data)))
    lines += ['%s = "%s"' % (k, v) for k, v in texts.items()]
    lines += ['picture %d %s %d %s "%s"' % (t, p.mime, len(p.data), fnv(p.data), p.desc) for t, p in pictures.items()]
    print("version ID3v2.%d" % version)
    for line in sorted(lines):
        print(line)


def frames(path):
    from mutagen.id3 import ID3
    tag = ID3(path, translate=False)
    out = []
    for frame in tag.values():
        fid = frame.FrameID
        enc = getattr(frame, "encoding", None)
        enc = "-" if enc is None else int(enc)
        if fid == "APIC":
            # mutagen appends blanks to repeated descriptions to keep its keys apart.
            value = "%s type=%d desc=%s %s" % (frame.mime, frame.type, frame.desc.rstrip(" "), fnv(frame.data))
        elif fid == "GEOB":
            value = "%s name=%s desc=%s %s" % (frame.mime, frame.filename, frame.desc, fnv(frame.data))
        else:
            value = "/".join(str(t) for t in frame.text)
        out.append("%s enc=%s %s" % (fid, enc, value))
    print("version 2.%d" % tag.version[1])
    for line in sorted(out):
        print(line)


def extract(mp4, out):
    data = open(mp4, "rb").read()

    def walk(start, end, handler):
        for kind, body, stop in mp4walk.boxes(data, start, end):
            if kind in (b"moov", b"udta", b"trak"):
                r = walk(body, stop, handler)
            elif kind == b"meta":
                hdlr = None
                for k, b, s in mp4walk.boxes(data, body + 4, stop):
                    if k == b"hdlr":
                        hdlr = data[b + 8:b + 12].decode("latin-1")
                r = walk(body + 4, stop, hdlr)
            elif kind == b"ID32":
                open(out, "wb").write(data[body + 6:stop])
                return "handler %s language %04x" % (handler, struct.unpack(">H", data[body + 4:body + 6])[0])
            else:
                r = None
            if r:
                return r
        return None

    found = walk(0, len(data), None)
    print(found or "no ID32 box")


# AtomicParsley's item names -> summary ids; trkn and gnre are turned into text.
AP_ITEMS = {
    "\u00a9ART": "IART", "aART": "IAAT", "\u00a9cmt": "ICMT", "\u00a9day": "ICRD", "\u00a9nam": "INAM",
    "\u00a9alb": "ISRC", "\u00a9too": "ISFT", "\u00a9gen": "IGNR", "\u00a9cpy": "ICOP", "\u00a9des": "ISBJ",
    "keyw": "IKEY", "gnre": "IGNR",
}


def atomicparsley(path):
    text = open(path, encoding="utf-8").read().lstrip("\ufeff")
    texts = {}
    for m in re.finditer(r'^Atom "(.{4})" contains: (.*)$', text, re.M):
        atom, value = m.group(1), m.group(2)
        if atom in AP_ITEMS:
            texts.setdefault(AP_ITEMS[atom], value)
        elif atom == "trkn":
            texts.setdefault("TRCK", value.split(" of ")[0])
    for line in sorted('%s = "%s"' % (k, v) for k, v in texts.items()):
        print(line)


def main():
    cmd = sys.argv[1]
    if cmd == "expect":
        expect(sys.argv[2])
    elif cmd == "frames":
        frames(sys.argv[2])
    elif cmd == "extract":
        extract(sys.argv[2], sys.argv[3])
    elif cmd == "atomicparsley":
        atomicparsley(sys.argv[2])
    elif cmd == "fnv":
        print(fnv(open(sys.argv[2], "rb").read()))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
