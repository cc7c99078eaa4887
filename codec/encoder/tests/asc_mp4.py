"""Writes a minimal MP4 audio file around an AudioSpecificConfig.

Usage: asc_mp4.py asc.bin out.m4a channels core_rate output_rate frames

The track holds `frames` silent raw data blocks (one single channel element
for one channel, one channel pair element for two), so that decoders can open
and play the file. write_mp4() writes given access units instead. Boxes: ftyp, moov (mvhd, trak with tkhd, mdia, mdhd, hdlr,
minf, smhd, dinf, stbl with stsd/mp4a/esds, stts, stsc, stsz, stco), mdat.
"""
import struct
import sys


def box(kind, payload):
    return struct.pack(">I4s", 8 + len(payload), kind) + payload


def full(kind, version, flags, payload):
    return box(kind, struct.pack(">I", (version << 24) | flags) + payload)


def descriptor(tag, payload):
    assert len(payload) < 128
    return bytes([tag, len(payload)]) + payload


class Bits:
    def __init__(self):
        self.bits = []

    def put(self, value, n):
        self.bits += [(value >> (n - 1 - i)) & 1 for i in range(n)]

    def data(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))


def silent_block(channels):
    b = Bits()
    ics_info = [(0, 1), (0, 2), (0, 1), (0, 6), (0, 1)]  # only-long, sine, max_sfb 0, no prediction
    if channels == 1:
        b.put(0, 3); b.put(0, 4); b.put(100, 8)
        for v, n in ics_info: b.put(v, n)
        b.put(0, 3)  # pulse, tns, gain control
    else:
        b.put(1, 3); b.put(0, 4); b.put(1, 1)  # common window
        for v, n in ics_info: b.put(v, n)
        b.put(0, 2)  # ms_mask_present
        for _ in range(2):
            b.put(100, 8); b.put(0, 3)
    b.put(7, 3)  # END
    return b.data()


def write_mp4(out_path, asc, samples, channels, core_rate, rate):
    frames = len(samples)
    delta = 1024 * rate // core_rate
    duration = delta * frames
    matrix = struct.pack(">9I", 0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000)
    mvhd = full(b"mvhd", 0, 0, struct.pack(">IIIIIH10x", 0, 0, rate, duration, 0x10000, 0x100) + matrix +
                bytes(24) + struct.pack(">I", 2))
    tkhd = full(b"tkhd", 0, 7, struct.pack(">IIIII8xhhH2x", 0, 0, 1, 0, duration, 0, 0, 0x100) + matrix +
                struct.pack(">II", 0, 0))
    mdhd = full(b"mdhd", 0, 0, struct.pack(">IIIIHH", 0, 0, rate, duration, 0x55C4, 0))
    hdlr = full(b"hdlr", 0, 0, struct.pack(">I4s12x", 0, b"soun") + b"SoundHandler\0")
    smhd = full(b"smhd", 0, 0, struct.pack(">hH", 0, 0))
    dinf = box(b"dinf", full(b"dref", 0, 0, struct.pack(">I", 1) + full(b"url ", 0, 1, b"")))
    dcd = descriptor(4, struct.pack(">BB", 0x40, 0x15) + struct.pack(">I", 6144 * channels // 8)[1:] +
                     struct.pack(">II", 128000, 128000) + descriptor(5, asc))
    es = descriptor(3, struct.pack(">HB", 1, 0) + dcd + descriptor(6, b"\x02"))
    esds = full(b"esds", 0, 0, es)
    mp4a = box(b"mp4a", bytes(6) + struct.pack(">H8xHHHHI", 1, channels, 16, 0, 0, rate << 16) + esds)
    stsd = full(b"stsd", 0, 0, struct.pack(">I", 1) + mp4a)
    stts = full(b"stts", 0, 0, struct.pack(">III", 1, frames, delta))
    stsc = full(b"stsc", 0, 0, struct.pack(">IIII", 1, 1, frames, 1))
    stsz = full(b"stsz", 0, 0, struct.pack(">II", 0, frames) + b"".join(struct.pack(">I", len(s)) for s in samples))

    def build(offset):
        stco = full(b"stco", 0, 0, struct.pack(">II", 1, offset))
        stbl = box(b"stbl", stsd + stts + stsc + stsz + stco)
        minf = box(b"minf", smhd + dinf + stbl)
        mdia = box(b"mdia", mdhd + hdlr + minf)
        trak = box(b"trak", tkhd + mdia)
        return box(b"moov", mvhd + trak)

    ftyp = box(b"ftyp", b"M4A " + struct.pack(">I", 0) + b"M4A mp42isom")
    moov = build(0)
    offset = len(ftyp) + len(moov) + 8
    moov = build(offset)
    with open(out_path, "wb") as f:
        f.write(ftyp + moov + box(b"mdat", b"".join(samples)))


def main():
    asc_path, out_path, channels, core_rate, rate, frames = sys.argv[1:7]
    channels, core_rate, rate, frames = int(channels), int(core_rate), int(rate), int(frames)
    asc = open(asc_path, "rb").read()
    write_mp4(out_path, asc, [silent_block(channels)] * frames, channels, core_rate, rate)


if __name__ == "__main__":
    main()
