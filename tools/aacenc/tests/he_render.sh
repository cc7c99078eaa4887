# Sourced by the HE-AAC render tests (after testlib.sh; $out is the work
# folder). he_render NAME SRC PRESET PROFILE encodes $out/SRC.wav with aacenc
# at PRESET into $out/NAME.m4a (left in $f), reads the delay, SBR range and
# bitrate aacenc reports into delay, xover, stop and rate, and checks that
# ffmpeg decodes the file without one message, that ffprobe sees aac,
# PROFILE, 44100 Hz, 2 channels, and that mediainfo reports SBR. It fails
# (and says why) when there is no file to check further.
he_render() {
  local name=$1 src=$2 preset=$3 profile=$4 probe
  f="$out/$name.m4a"
  if ! run_build_tool aacenc "$out/$src.wav" "$f" --preset "$preset" >"$out/log" 2>&1; then
    fail "$name: aacenc: $(cat "$out/log")"
    return 1
  fi
  read -r delay xover stop rate <<<"$(sed -n 's/.*delay \([0-9]*\), sbr \([0-9]*\)-\([0-9]*\) Hz, \([0-9]*\) bit.*/\1 \2 \3 \4/p' "$out/log")"
  [ -n "${rate:-}" ] || { fail "$name: no delay or SBR range in: $(cat "$out/log")"; return 1; }
  ffmpeg -nostdin -v error -err_detect explode -xerror -i "$f" -f null - 2>"$out/err"
  [ -s "$out/err" ] && fail "$name: ffmpeg: $(head -c 300 "$out/err")"
  probe=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,profile,sample_rate,channels \
    -of default=nw=1:nk=1 "$f" | paste -sd/)
  [ "$probe" = "aac/$profile/44100/2" ] || fail "$name: ffprobe $probe"
  mediainfo "$f" | grep -q "SBR" || fail "$name: mediainfo reports no SBR"
  return 0
}
