#!/usr/bin/env bash
# Makes the decoder's test fixtures with ffmpeg into $1/aacdec: AAC files of
# generated signals (rates, layouts, signals that drive short windows, M/S,
# intensity, TNS and PNS) and, for each, ffmpeg's own float decode of every
# frame (-ignore_editlist 1, and -flags2 skip_manual so that gapless tags do
# not trim either) as the reference. $2 is the shared folder: its LC test
# vectors get an ffmpeg reference too.
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg
out="$1/aacdec"
shared="${2:-}"
mkdir -p "$out"
cd "$out"
ff() { ffmpeg -nostdin -v error -y "$@"; }

# name | source filter (lavfi) | channels | rate | encoder options
cases=(
  "st8k|tone|2|8000|-b:a 24k -aac_pns 0"
  "st11k|tone|2|11025|-b:a 32k -aac_pns 0"
  "st16k|tone|2|16000|-b:a 48k -aac_pns 0"
  "st22k|tone|2|22050|-b:a 64k -aac_pns 0"
  "st32k|tone|2|32000|-b:a 96k -aac_pns 0"
  "st44k|tone|2|44100|-b:a 128k -aac_pns 0"
  "st48k|tone|2|48000|-b:a 128k -aac_pns 0"
  "st88k|tone|2|88200|-b:a 192k -aac_pns 0"
  "st96k|tone|2|96000|-b:a 192k -aac_pns 0"
  "mono44k|tone|1|44100|-b:a 64k -aac_pns 0"
  "mono22k|clicks|1|22050|-b:a 48k -aac_pns 0"
  "ch51|multi|6|48000|-b:a 320k -aac_pns 0"
  "ch71|multi|8|48000|-b:a 448k -aac_pns 0"
  "pce|tone|2|44100|-b:a 128k -aac_pns 0 -aac_pce 1"
  "pce51|multi|6|44100|-b:a 256k -aac_pns 0 -aac_pce 1"
  "clicks|clicks|2|44100|-b:a 128k -aac_pns 0"
  "ms|correlated|2|44100|-b:a 96k -aac_pns 0 -aac_ms 1 -aac_is 0"
  "is|panned|2|44100|-b:a 48k -aac_pns 0 -aac_is 1"
  "tns|transient|2|44100|-b:a 128k -aac_pns 0 -aac_tns 1"
  "pns|noise|2|44100|-b:a 64k -aac_pns 1"
  "pnsmono|white|1|32000|-b:a 32k -aac_pns 1"
)

source_filter() {
  local kind=$1 ch=$2 rate=$3 d=4
  case $kind in
    tone) echo "sine=f=440:r=$rate:d=$d[a];anoisesrc=c=pink:a=0.15:r=$rate:d=$d:seed=7[b];[a][b]amerge=inputs=2" ;;
    clicks) echo "aevalsrc=exprs='if(lt(mod(t\,0.25)\,0.003)\,0.9*sin(2*PI*2500*t)\,0.02*sin(2*PI*300*t))':s=$rate:d=$d[a];anoisesrc=c=white:a=0.01:r=$rate:d=$d:seed=3[b];[a][b]amerge=inputs=2" ;;
    correlated) echo "anoisesrc=c=pink:a=0.3:r=$rate:d=$d:seed=11,pan=stereo|c0=c0|c1=0.9*c0" ;;
    panned) echo "aevalsrc=exprs='0.3*sin(2*PI*220*t)+0.2*sin(2*PI*3520*t)+0.1*sin(2*PI*7040*t)':s=$rate:d=$d,pan=stereo|c0=c0|c1=0.35*c0" ;;
    transient) echo "aevalsrc=exprs='0.8*exp(-30*mod(t\,0.37))*sin(2*PI*(800+3000*mod(t\,0.37))*t)':s=$rate:d=$d[a];anoisesrc=c=pink:a=0.05:r=$rate:d=$d:seed=5[b];[a][b]amerge=inputs=2" ;;
    noise) echo "anoisesrc=c=pink:a=0.3:r=$rate:d=$d:seed=21[a];anoisesrc=c=white:a=0.1:r=$rate:d=$d:seed=22[b];[a][b]amerge=inputs=2" ;;
    white) echo "anoisesrc=c=white:a=0.2:r=$rate:d=$d:seed=23" ;;
    multi)
      local f="" i
      for ((i = 0; i < ch; i++)); do
        f+="sine=f=$((200 + 150 * i)):r=$rate:d=$d[s$i];anoisesrc=c=pink:a=0.05:r=$rate:d=$d:seed=$((30 + i))[n$i];[s$i][n$i]amix=inputs=2[m$i];"
      done
      for ((i = 0; i < ch; i++)); do f+="[m$i]"; done
      echo "${f}amerge=inputs=$ch" ;;
  esac
}

layout() { case $1 in 1) echo mono ;; 2) echo stereo ;; 6) echo 5.1 ;; 8) echo 7.1 ;; esac; }

for c in "${cases[@]}"; do
  IFS='|' read -r name kind ch rate opts <<<"$c"
  [ -s "$name.f32" ] && [ -s "$name.m4a" ] && continue
  # shellcheck disable=SC2086
  ff -filter_complex "$(source_filter "$kind" "$ch" "$rate"),aformat=channel_layouts=$(layout "$ch")" \
     -c:a aac $opts -ar "$rate" "$name.m4a"
  ff -ignore_editlist 1 -flags2 skip_manual -i "$name.m4a" -map 0:a:0 -f f32le "$name.f32"
  echo "$name $ch $rate" >"$name.txt"
done

# 960-sample frames: ffmpeg writes only 1024-sample frames, so an encode
# whose bands all lie below the 960 layout's cut has its frameLengthFlag set
# in the decoder configuration; ffmpeg decodes the result as 960-sample
# frames and is the reference.
if [ ! -s f960.f32 ]; then
  ff -filter_complex "$(source_filter clicks 2 48000),aformat=channel_layouts=stereo" \
     -c:a aac -b:a 96k -aac_pns 0 -cutoff 12000 -ar 48000 f960src.m4a
  /usr/bin/python3 - <<'PY'
d = bytearray(open("f960src.m4a", "rb").read())
i = d.find(bytes([0x05, 0x80, 0x80, 0x80, 0x05, 0x11, 0x90]))
assert i > 0, "decoder configuration not found"
d[i + 6] |= 0x04  # frameLengthFlag
open("f960.m4a", "wb").write(d)
PY
  ff -ignore_editlist 1 -flags2 skip_manual -i f960.m4a -map 0:a:0 -f f32le f960.f32
fi

# Object types the decoder refuses at open (Main profile; LTP when the
# encoder allows it).
[ -s main.m4a ] || ff -f lavfi -i "sine=f=440:d=1" -c:a aac -profile:a aac_main -b:a 64k main.m4a
[ -s ltp.m4a ] || ff -f lavfi -i "sine=f=440:d=1" -c:a aac -profile:a aac_ltp -strict -2 -b:a 64k ltp.m4a || true
if [ -n "$shared" ] && [ -d "$shared/vectors/mp4" ]; then
  for v in count-deutsch-audio.mp4 test-pod.m4a afconvert-aac-0.5s.mp4 itunes811.m4a; do
    [ -f "$shared/vectors/mp4/$v" ] || continue
    [ -s "vec_$v.f32" ] || ff -ignore_editlist 1 -flags2 skip_manual -i "$shared/vectors/mp4/$v" -map 0:a:0 -f f32le "vec_$v.f32"
  done
fi
echo fixtures ready
