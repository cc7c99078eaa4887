"""Walks the boxes of an MP4 file for the test scripts, independently of our
MP4 library.

boxes(data, start, end) yields (kind, body, stop) for each box between start
and end: its four-character type as bytes, where its payload starts (after a
32- or 64-bit size header) and where the box ends. A size of 0 runs to end; a
size smaller than its header, or one that runs past end, stops the walk.

find(data, start, end, path) returns (body, stop) of the first box reached by
the list of types path (e.g. [b'moov', b'trak'], or the same as strings),
depth first, or None.
"""
import struct


def boxes(data, start, end):
    pos = start
    while pos + 8 <= end:
        size, kind = struct.unpack('>I4s', data[pos:pos + 8])
        header = 8
        if size == 1:
            size = struct.unpack('>Q', data[pos + 8:pos + 16])[0]
            header = 16
        elif size == 0:
            size = end - pos
        if size < header or pos + size > end:
            return
        yield kind, pos + header, pos + size
        pos += size


def find(data, start, end, path):
    want = path[0].encode('latin-1') if isinstance(path[0], str) else path[0]
    for kind, body, stop in boxes(data, start, end):
        if kind == want:
            if len(path) == 1:
                return body, stop
            found = find(data, body, stop, path[1:])
            if found:
                return found
    return None
