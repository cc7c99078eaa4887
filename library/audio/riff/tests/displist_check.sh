#!/usr/bin/env bash
# Judges the media files that displist_tests gave display lists: ffprobe and
# ffmpeg must still decode the unchanged PCM, and a Python walk of the chunks
# must find the list's chunks with the layout of their format.
set -uo pipefail
dir="$VOG_FIXTURE_DIR/displist"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe
pcm() { ffmpeg -v error -i "$1" -f s16le -c:a pcm_s16le - | md5sum | cut -d' ' -f1; }

want=$(pcm "$dir/media.wav")
for ext in wav w64; do
  f="$dir/written/media_disp.$ext"
  [ -f "$f" ] || { fail "media_disp.$ext not written"; continue; }
  [ "$(pcm "$f")" = "$want" ] || fail "media_disp.$ext: PCM changed"
  probe=$(ffprobe -v error -show_entries stream=codec_name,channels -of csv=p=0 "$f")
  [ "$probe" = "pcm_s16le,2" ] || fail "media_disp.$ext: ffprobe sees '$probe'"
done

/usr/bin/python3 - "$dir" <<'PY' || status=1
import struct, sys
d = sys.argv[1]
dib = open(d + "/dib8.bmp", "rb").read()[14:]
text = b"Display list\0"

def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)

b = open(d + "/written/media_disp.wav", "rb").read()
if b[:4] != b"RIFF" or struct.unpack_from("<I", b, 4)[0] != len(b) - 8:
    fail("wav: RIFF size is not the file length - 8")
off, disp = 12, []
while off < len(b):
    cid, size = struct.unpack_from("<4sI", b, off)
    body = b[off + 8:off + 8 + size]
    if size & 1 and b[off + 8 + size] != 0:
        fail("wav: pad byte not zero")
    if cid == b"DISP":
        disp.append((struct.unpack_from("<I", body)[0], body[4:]))
    off += 8 + size + (size & 1)
if off != len(b) or disp != [(1, text), (8, dib)]:
    fail("wav: DISP chunks %r" % [(f, len(x)) for f, x in disp])

b = open(d + "/written/media_disp.w64", "rb").read()
guid = bytes.fromhex("25ca2c61bb92554c84087bda2f15bd27")
if struct.unpack_from("<Q", b, 16)[0] != len(b):
    fail("w64: riff size is not the file length")
off, disp = 40, []
while off < len(b):
    gid, size = b[off:off + 16], struct.unpack_from("<Q", b, off + 16)[0]
    if gid == guid:
        if size % 8:
            fail("w64: display-list chunk size %d is not padded to 8" % size)
        body = b[off + 24:off + size]
        disp.append((struct.unpack_from("<I", body)[0], body[4:]))
    off += (size + 7) & ~7
def padded(x):
    return x + bytes((8 - (4 + len(x)) % 8) % 8)
if off != len(b) or disp != [(1, padded(text)), (8, padded(dib))]:
    fail("w64: display-list chunks %r" % [(f, len(x)) for f, x in disp])
print("display-list chunks: ok")
PY
exit $status
