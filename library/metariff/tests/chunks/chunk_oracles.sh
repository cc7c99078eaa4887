#!/usr/bin/env bash
# Independent readers judge the files the metadata-chunk tests wrote:
# exiftool reads the cue points, labels, regions, sampler and INFO texts,
# ffprobe the cue points as chapters and the INFO texts, mediainfo the title,
# sox the AIFF instrument loops; ffmpeg decodes the same PCM as before; a
# Python walk checks every chunk layout, the alignment and the sidecar.
set -uo pipefail
dir="$VOG_FIXTURE_DIR/metachunks"
w="$dir/written"
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe exiftool mediainfo sox
[ -f "$w/markers.wav" ] || { echo "no written files: the test program did not run"; exit 1; }

# The audio of every written file decodes to the PCM of its source.
for f in markers.wav:plain.wav generic.wav:plain.wav song.wav:plain.wav all.w64:plain.w64 sampler.aiff:plain.aiff; do
  got=$(ffmpeg -v error -i "$w/${f%%:*}" -map 0:a -c:a pcm_s16le -f md5 - 2>&1)
  [ "$got" = "$(cat "$dir/${f##*:}.md5")" ] || fail "${f%%:*}: PCM md5 $got differs"
done
cmp -s "$w/song.wav" "$dir/plain.wav" || fail "song.wav changed although its metadata went to the sidecar"

# exiftool: cue labels, the region, sampler and INFO texts (-a keeps repeats).
expect_exif() {
  local file=$1; shift
  local out; out=$(exiftool -a -u -CuePointLabel -LabeledText -MIDIUnityNote -NumSampleLoops -Title -Artist \
                   -Comment -Genre "$w/$file")
  for line in "$@"; do
    grep -qxF -- "$line" <<<"$(sed 's/  *: /: /; s/ *$//' <<<"$out")" || fail "exiftool $file: no '$line' in: $out"
  done
}
expect_exif markers.wav "Cue Point Label: 1 Verse" "Cue Point Label: 2 Chorus" \
  "Labeled Text: 1 22050 'rgn ' 0 0 0 0" "MIDI Unity Note: 60" "Num Sample Loops: 1" \
  "Title: Chunk Title" "Artist: Chunk Artist" "Comment: written by us"
expect_exif generic.wav "Cue Point Label: 1 Intro" "Cue Point Label: 2 Bridge" \
  "Labeled Text: 2 44100 'rgn ' 0 0 0 0" "Title: Generic Title" "Genre: Jazz"

# ffprobe: cue points as chapters, INFO texts as tags.
for spec in "markers.wav 44100,88200 Chunk Title" "generic.wav 22050,66150 Generic Title"; do
  read -r file starts title <<<"$spec"
  js=$(ffprobe -v error -show_chapters -show_entries format_tags -of json "$w/$file")
  /usr/bin/python3 - "$js" "$starts" "$title" <<'PY' || fail "ffprobe $file"
import json, sys
j = json.loads(sys.argv[1])
starts = [c['start'] for c in j.get('chapters', [])]
want = [int(x) for x in sys.argv[2].split(',')]
if starts != want:
    sys.exit('chapters %r, want %r' % (starts, want))
if j['format']['tags'].get('title') != sys.argv[3]:
    sys.exit('tags %r' % j['format']['tags'])
PY
done

# mediainfo: the title of the INFO list.
mi=$(mediainfo --Output=JSON "$w/markers.wav")
/usr/bin/python3 - "$mi" <<'PY' || fail "mediainfo title"
import json, sys
g = json.loads(sys.argv[1])['media']['track'][0]
if g.get('Title') != 'Chunk Title':
    sys.exit('mediainfo: %r' % g)
PY

# sox: the sustain and release loops and the base note of the AIFF instrument.
sx=$(sox -V4 "$w/sampler.aiff" -n 2>&1)
/usr/bin/python3 - "$sx" <<'PY' || fail "sox AIFF loops"
import re, sys
t = sys.argv[1]
loops = re.findall(r'Loop (\d): start:\s+(\d+)\s*\n.*?end:\s+(\d+)', t)
if loops != [('0', '1000', '3000'), ('1', '5000', '6000')]:
    sys.exit('loops %r in %s' % (loops, t))
if not re.search(r'Unity MIDI Note: 64', t) or not re.search(r'High\s+MIDI Note: 127', t):
    sys.exit('notes in %s' % t)
PY

# Python walk of every layout.
/usr/bin/python3 - "$w" <<'PY' || fail "chunk layouts"
import struct, sys, uuid, os
w = sys.argv[1]
errors = []

def riff(path):
    d = open(path, 'rb').read()
    assert d[:4] == b'RIFF', path
    size = struct.unpack_from('<I', d, 4)[0]
    if size + 8 != len(d):
        errors.append('%s: RIFF size %d, file %d' % (path, size, len(d)))
    out, p = [], 12
    while p + 8 <= len(d):
        cid, n = struct.unpack_from('<4sI', d, p)
        if p + 8 + n > len(d):
            errors.append('%s: %r runs past the end' % (path, cid))
            break
        out.append((cid, p, d[p + 8:p + 8 + n]))
        p += 8 + n + (n & 1)
    if p != len(d):
        errors.append('%s: walk ends at %d of %d' % (path, p, len(d)))
    return d[8:12], out

form, cs = riff(os.path.join(w, 'markers.wav'))
ids = [c[0] for c in cs]
for cid in (b'cue ', b'smpl', b'plst', b'LIST'):
    if cid not in ids:
        errors.append('markers.wav: no %r' % cid)
if ids.count(b'cue ') != 1 or ids.count(b'smpl') != 1 or ids.count(b'plst') != 1 or ids.count(b'LIST') != 2:
    errors.append('markers.wav: written twice, chunks doubled: %r' % ids)
lists = [c[2][:4] for c in cs if c[0] == b'LIST']
if sorted(lists) != [b'INFO', b'adtl']:
    errors.append('markers.wav lists %r' % lists)
smpl = [c[2] for c in cs if c[0] == b'smpl'][0]
if struct.unpack_from('<9I6I', smpl) != (0, 0, 22675, 60, 0, 0, 0, 1, 0, 1, 0, 1000, 1999, 0, 0):
    errors.append('smpl %r' % (struct.unpack_from('<9I6I', smpl),))
plst = [c[2] for c in cs if c[0] == b'plst'][0]
if struct.unpack('<4I', plst) != (1, 1, 500, 2):
    errors.append('plst %r' % plst)

form, cs = riff(os.path.join(w, 'generic.wav'))
z = [c for c in cs if c[0] == b'zodd']
if len(z) != 1 or z[0][2] != b'abc' or z[0][1] % 2:
    errors.append('generic.wav raw chunk %r' % z)
b = [c for c in cs if c[0] == b'bmpi']
if len(b) != 1 or len(b[0][2]) != 48 or b[0][2][47] != 0:
    errors.append('generic.wav bmpi %r' % b)

# Wave64: GUID chunks, sizes counting the header, 8-byte alignment.
d = open(os.path.join(w, 'all.w64'), 'rb').read()
if struct.unpack_from('<Q', d, 16)[0] != len(d):
    errors.append('all.w64 RIFF size')
p, guids = 40, []
while p + 24 <= len(d):
    g = uuid.UUID(bytes_le=d[p:p + 16])
    n = struct.unpack_from('<Q', d, p + 16)[0]
    if p % 8 or n < 24 or p + n > len(d):
        errors.append('all.w64 chunk %s at %d size %d' % (g, p, n))
        break
    guids.append((str(g).upper(), d[p + 24:p + n]))
    p += (n + 7) & ~7
if p != len(d):
    errors.append('all.w64 walk ends at %d of %d' % (p, len(d)))
names = [g for g, _ in guids]
for g in ('ABF76256-392D-11D2-86C7-00C04F8EDB8A', '925F94BC-525A-11D2-86DC-00C04F8EDB8A',
          '07A22A98-F29A-4FA4-B7B5-57C9D371DB38', 'CC7E18D8-BF95-4D30-BC30-DFB6C28C1D08',
          '612CCA25-92BB-4C55-8408-7BDA2F15BD27'):
    if names.count(g) != 1:
        errors.append('all.w64: %s %d times' % (g, names.count(g)))
marks = dict(guids)['ABF76256-392D-11D2-86C7-00C04F8EDB8A']
if struct.unpack_from('<IIIQQII', marks) != (1, 1, 0, 44100, 22050, 12, 0) or \
        marks[36:48].decode('utf-16-le') != 'Verse\0':
    errors.append('all.w64 markers %r' % marks[:48])
summ = dict(guids)['925F94BC-525A-11D2-86DC-00C04F8EDB8A']
if struct.unpack_from('<I4sI', summ) != (1, b'INAM', 20) or summ[12:32].decode('utf-16-le') != 'W64 Title\0':
    errors.append('all.w64 summary %r' % summ[:32])

# The sidecar: form KVPL, the metadata, and "KVPI" naming the media file.
form, cs = riff(os.path.join(w, 'song.wav.kvl'))
if form != b'KVPL':
    errors.append('sidecar form %r' % form)
ids = [c[0] for c in cs]
if ids != [b'cue ', b'LIST', b'LIST', b'KVPI']:
    errors.append('sidecar chunks %r' % ids)
elif cs[-1][2].split(b'\0')[0] != b'song.wav':
    errors.append('sidecar KVPI %r' % cs[-1][2])

if errors:
    sys.exit('\n'.join(errors))
PY

[ $status -eq 0 ] && echo "metachunks oracles: ok ($(ls "$w" | wc -l) written files)"
exit $status
