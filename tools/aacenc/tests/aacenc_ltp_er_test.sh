#!/usr/bin/env bash
# Long-term prediction (AAC-LTP, type 4) and the error-resilient syntax (ER
# AAC-LC 17, ER AAC-LTP 19) through aacenc, judged by ffmpeg and faad on a
# steady harmonic source: each stream decodes without a word from ffmpeg
# (-err_detect explode -xerror) at the right rate, channel count and profile,
# and faad plays it, both with a sane SNR. ffmpeg does not read type 19 (it
# refuses it at open), so faad alone judges that one. The error-resilient
# types have no transport header: an .aac output is refused. Our decoder
# refuses all three types at open with a message that names the type.
set -uo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe faad py:numpy
here="$VOG_SOURCE_DIR/tools/aacenc/tests"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
src="$out/harm.wav"
/usr/bin/python3 "$here/ltp_er_check.py" make "$src" || { echo "FAIL: source"; exit 1; }

# name  type  output  bitrate  options  profile (ffprobe; - when ffmpeg cannot
# read it; ffmpeg numbers the error-resilient ones by type - 1)  encoder
# rate  min SNR dB.
cases="
ltp_mp4         4  m4a 64000  -       LTP 32000 28
ltp_adts        4  aac 64000  -       LTP 32000 28
ltp_adts_crc    4  aac 64000  --crc   LTP 32000 28
ltp_adif        4  aac 64000  --adif  -   32000 28
erlc_mp4        17 m4a 64000  -       16  32000 28
erltp_mp4       19 m4a 64000  -       -   32000 28
"
while read -r name aot ext bitrate opt profile rate min; do
  [ -z "$name" ] && continue
  f="$out/$name.$ext"
  args=(--aot "$aot" --bitrate "$bitrate")
  [ "$opt" != "-" ] && args+=("$opt")
  if ! run_build_tool aacenc "$src" "$f" "${args[@]}" >"$out/log" 2>&1; then
    fail "$name: aacenc: $(cat "$out/log")"
    continue
  fi
  if [ "$profile" != "-" ]; then
    ffmpeg -nostdin -v error -err_detect explode -xerror -i "$f" -ar 32000 -c:a pcm_s16le "$out/ff.wav" -y 2>"$out/err"
    if [ -s "$out/err" ]; then
      fail "$name: ffmpeg: $(head -c 300 "$out/err")"
    else
      got=$(ffprobe -v error -show_entries stream=profile,sample_rate,channels -of default=nw=1:nk=1 "$f" | tr '\n' ' ')
      [ "$got" = "$profile $rate 2 " ] || fail "$name: ffprobe says $got, not $profile $rate 2"
      echo "$name (ffmpeg): $(/usr/bin/python3 "$here/ltp_er_check.py" snr "$src" "$out/ff.wav" "$min")" ||
        fail "$name: ffmpeg's decode below $min dB"
    fi
  fi
  rm -f "$out/faad.wav"
  faad -o "$out/faad.wav" "$f" >"$out/flog" 2>&1
  # (faad's MP4 reader notes a missing udta box as a "parse error".)
  if [ ! -s "$out/faad.wav" ] || tr '\r' '\n' <"$out/flog" | grep -v "parse error" | grep -qi "error"; then
    fail "$name: faad: $(tr '\r' '\n' <"$out/flog" | grep -v '% decoding' | tail -2)"
  else
    # faad writes at twice a rate of 24 kHz or less; the source is at 32 kHz.
    ffmpeg -nostdin -v error -i "$out/faad.wav" -ar 32000 -c:a pcm_s16le "$out/fa.wav" -y
    msg=$(/usr/bin/python3 "$here/ltp_er_check.py" snr "$src" "$out/fa.wav" "$min") || fail "$name: faad's decode below $min dB"
    echo "$name (faad): $msg"
  fi
  if [ "$aot" != 2 ]; then
    if run_build_tool aacdec "$f" "$out/ours.wav" >"$out/dlog" 2>&1 ||
       ! grep -q "object type $aot" "$out/dlog"; then
      [ "$ext" = m4a ] && fail "$name: our decoder: $(cat "$out/dlog") (a refusal that names the type expected)"
    fi
  fi
done <<<"$cases"

# The error-resilient types have no transport header.
for aot in 17 19; do
  if run_build_tool aacenc "$src" "$out/er$aot.aac" --aot "$aot" --bitrate 64000 >"$out/log" 2>&1; then
    fail "type $aot written with a transport header"
  fi
done
exit $status
