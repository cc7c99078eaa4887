#!/usr/bin/python3
# Walks a RIFF file with Python's struct module and prints its layout, one
# item a line, for the RIFF tests to compare against:
#   riff <form> <riff size field> <file length>
#   chunk <id> <header offset> <size>
#   list <type> <header offset> <size without the type>
#   entry <list type> <id> <header offset> <size> <text as hex, up to the first zero>
# An id that is not printable ASCII is written as hex.
import struct
import sys


def name(b):
    return b.decode("ascii") if all(32 <= c < 127 for c in b) and b" " not in b.strip(b" ") else b.hex()


def tok(b):
    return name(b).replace(" ", "_")


def dump(path):
    data = open(path, "rb").read()
    out = []
    tag, size, form = struct.unpack_from("<4sI4s", data, 0)
    out.append("riff %s %d %d" % (tok(form), size, len(data)))
    end = min(len(data), 8 + size)
    pos = 12
    while pos + 8 <= end:
        cid, csize = struct.unpack_from("<4sI", data, pos)
        if cid == b"LIST" and csize >= 4:
            ltype = data[pos + 8:pos + 12]
            out.append("list %s %d %d" % (tok(ltype), pos, csize - 4))
            p = pos + 12
            lend = min(pos + 8 + csize, end)
            while p + 8 <= lend:
                eid, esize = struct.unpack_from("<4sI", data, p)
                text = data[p + 8:p + 8 + esize].split(b"\0")[0]
                out.append("entry %s %s %d %d %s" % (tok(ltype), tok(eid), p, esize, text.hex() or "-"))
                p += 8 + esize + (esize & 1)
        else:
            out.append("chunk %s %d %d" % (tok(cid), pos, csize))
        pos += 8 + csize + (csize & 1)
    return out


if __name__ == "__main__":
    print("\n".join(dump(sys.argv[1])))
