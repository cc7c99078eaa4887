#!/usr/bin/python3
"""Damaged variants of an ffmpeg-made one-track AAC file, for the checks of the
reading side (track reader, aacdec, mp4dump, the plug-in's read road).

    patch_mp4.py asc HEX IN OUT   the decoder configuration replaced by HEX
    patch_mp4.py huge IN OUT      every unit padded with zero bytes to the
                                  largest one's size; the sizes table gives that
                                  one size for 0xFFFFFFFF samples, and two chunks
                                  of 0x7FFFFFFF samples each (the second at the
                                  end of the file); the time table is kept
    patch_mp4.py cut K IN OUT     the file ends halfway through unit K + 1

The file is written again as 'ftyp', 'moov', 'mdat' with the units in order
in one chunk (the 'huge' form aside); every other box of the track is kept.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import mp4walk  # noqa: E402

CONTAINERS = {b"moov", b"trak", b"mdia", b"minf", b"stbl", b"dinf", b"edts", b"udta"}


def read_boxes(data, start, end):
    # The shared walker finds the boxes; containers become nested lists so
    # that a box can be replaced and the file written again.
    boxes = []
    for kind, body, stop in mp4walk.boxes(data, start, end):
        if kind in CONTAINERS:
            boxes.append([kind, read_boxes(data, body, stop)])
        else:
            boxes.append([kind, data[body:stop]])
    return boxes


def write_boxes(boxes):
    out = b""
    for kind, body in boxes:
        payload = write_boxes(body) if isinstance(body, list) else body
        out += struct.pack(">I4s", 8 + len(payload), kind) + payload
    return out


def find(boxes, path):
    for kind, body in boxes:
        if kind == path[0]:
            return body if len(path) == 1 else find(body, path[1:])
    raise SystemExit("no %s box" % path[0].decode())


def set_box(boxes, kind, body):
    for box in boxes:
        if box[0] == kind:
            box[1] = body
            return
    raise SystemExit("no %s box" % kind.decode())


def descriptor(tag, body):
    # The four-byte length form ffmpeg writes.
    n = len(body)
    return bytes([tag, 0x80 | (n >> 21) & 0x7F, 0x80 | (n >> 14) & 0x7F, 0x80 | (n >> 7) & 0x7F, n & 0x7F]) + body


def read_descriptor(data, at):
    tag = data[at]
    at += 1
    n = 0
    for _ in range(4):
        b = data[at]
        at += 1
        n = (n << 7) | (b & 0x7F)
        if not b & 0x80:
            break
    return tag, data[at:at + n], at + n


def with_asc(stsd, asc):
    # stsd: version/flags, count, one 'mp4a' entry: 28 bytes of fields, then boxes.
    entry = stsd[8:]
    size, kind = struct.unpack(">I4s", entry[:8])
    assert kind == b"mp4a", kind
    fields, children = entry[8:36], read_boxes(entry, 36, size)
    esds = find(children, [b"esds"])
    tag, es, _ = read_descriptor(esds, 4)
    assert tag == 3
    es_head, inner = es[:3], es[3:]
    tag, config, after = read_descriptor(inner, 0)
    assert tag == 4
    config_fields = config[:13]
    rest = inner[after:]  # the SL config descriptor
    new_esds = esds[:4] + descriptor(3, es_head + descriptor(4, config_fields + descriptor(5, asc)) + rest)
    set_box(children, b"esds", new_esds)
    entry = write_boxes([[b"mp4a", fields + write_boxes(children)]])
    return stsd[:8] + entry


def units(data, stbl):
    stsz = find(stbl, [b"stsz"])
    fixed, count = struct.unpack(">II", stsz[4:12])
    sizes = [fixed] * count if fixed else list(struct.unpack(">%dI" % count, stsz[12:12 + 4 * count]))
    stsc = find(stbl, [b"stsc"])
    runs = [struct.unpack(">III", stsc[8 + 12 * i:20 + 12 * i]) for i in range(struct.unpack(">I", stsc[4:8])[0])]
    stco = find(stbl, [b"stco"])
    offsets = list(struct.unpack(">%dI" % struct.unpack(">I", stco[4:8])[0], stco[8:]))
    out = []
    for i, (first, per, _) in enumerate(runs):
        last = runs[i + 1][0] - 1 if i + 1 < len(runs) else len(offsets)
        for chunk in range(first, last + 1):
            at = offsets[chunk - 1]
            for _ in range(per):
                if len(out) == len(sizes):
                    break
                out.append(data[at:at + sizes[len(out)]])
                at += len(out[-1])
    assert len(out) == len(sizes)
    return out


def main(argv):
    mode = argv[1]
    args = argv[2:]
    src, dst = args[-2], args[-1]
    data = open(src, "rb").read()
    top = read_boxes(data, 0, len(data))
    ftyp = [b for b in top if b[0] == b"ftyp"]
    moov = [b for b in top if b[0] == b"moov"][0]
    stbl = find(moov[1], [b"trak", b"mdia", b"minf", b"stbl"])
    samples = units(data, stbl)
    if mode == "asc":
        set_box(stbl, b"stsd", with_asc(find(stbl, [b"stsd"]), bytes.fromhex(args[0])))
    if mode == "huge":
        size = max(len(u) for u in samples)
        samples = [u + bytes(size - len(u)) for u in samples]
        set_box(stbl, b"stsz", struct.pack(">III", 0, size, 0xFFFFFFFF))
        set_box(stbl, b"stsc", struct.pack(">IIIIIIII", 0, 2, 1, 0x7FFFFFFF, 1, 2, 0x7FFFFFFF, 1))
    else:
        set_box(stbl, b"stsz", struct.pack(">III", 0, 0, len(samples)) + b"".join(struct.pack(">I", len(u)) for u in samples))
        set_box(stbl, b"stsc", struct.pack(">IIIII", 0, 1, 1, len(samples), 1))
    payload = b"".join(samples)
    chunks = 2 if mode == "huge" else 1
    set_box(stbl, b"stco", struct.pack(">II", 0, chunks) + bytes(4 * chunks))
    head = write_boxes(ftyp) + write_boxes([moov])
    start = len(head) + 8
    offsets = [start, start + len(payload)][:chunks]
    set_box(stbl, b"stco", struct.pack(">II", 0, chunks) + b"".join(struct.pack(">I", o) for o in offsets))
    out = write_boxes(ftyp) + write_boxes([moov]) + write_boxes([[b"mdat", payload]])
    if mode == "cut":
        keep = int(args[0])
        out = out[:start + sum(len(u) for u in samples[:keep]) + len(samples[keep]) // 2]
    open(dst, "wb").write(out)


if __name__ == "__main__":
    main(sys.argv)
