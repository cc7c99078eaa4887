#!/usr/bin/env bash
# What ffprobe and mediainfo call formats: for each wave format tag and
# four-character code below, ffmpeg makes a small file carrying it, and one
# line of FIXTURES/formatnames/tools.tsv records
#   audio|video <TAB> the code as ffprobe reads it from the file
#   <TAB> ffprobe's codec name and long name <TAB> mediainfo's format, profile
#   and commercial name
# A format ffmpeg cannot make here is left out (its test row then fails).
. "$(dirname "$0")/../../../tests/support/testlib.sh"
out="$1/formatnames"
mkdir -p "$out"
require_tool_or_mark "$out/MISSING_TOOLS" ffmpeg ffprobe mediainfo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tsv="$out/tools.tsv"
: > "$tsv"
audio="-f lavfi -i sine=frequency=440:duration=0.5:sample_rate=48000"
video="-f lavfi -i testsrc=size=64x48:rate=5:duration=0.4"
# kind, file name, ffmpeg's output arguments
while read -r kind name args; do
  [ -n "$kind" ] || continue
  f="$work/$name"
  if [ "$kind" = audio ]; then
    # shellcheck disable=SC2086
    ffmpeg -nostdin -v error -y $audio -ac 2 $args "$f" 2>/dev/null || continue
    tag=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_tag -of default=nw=1:nk=1 "$f")
    probe=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,codec_long_name \
      -of default=nw=1:nk=1 "$f" | paste -sd' ')
    info=$(mediainfo --Inform="Audio;%Format% %Format_Profile% %Format_Commercial_IfAny%" "$f")
  else
    # shellcheck disable=SC2086
    ffmpeg -nostdin -v error -y $video $args "$f" 2>/dev/null || continue
    tag=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string -of default=nw=1:nk=1 "$f")
    probe=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,codec_long_name \
      -of default=nw=1:nk=1 "$f" | paste -sd' ')
    info=$(mediainfo --Inform="Video;%Format% %Format_Profile% %Format_Commercial_IfAny%" "$f")
  fi
  printf '%s\t%s\t%s\t%s\n' "$kind" "$tag" "$probe" "$info" >> "$tsv"
done <<'LIST'
audio pcm16.wav -c:a pcm_s16le
audio msadpcm.wav -c:a adpcm_ms
audio float.wav -c:a pcm_f32le
audio alaw.wav -c:a pcm_alaw
audio mulaw.wav -c:a pcm_mulaw
audio mp2.wav -c:a mp2
audio mp3.wav -c:a libmp3lame
audio ac3.wav -c:a ac3
audio wma1.avi -c:a wmav1
audio wma2.avi -c:a wmav2
audio aac.wav -c:a aac
audio flac.wav -c:a flac
audio dts.wav -strict -2 -c:a dca
video mjpg.avi -c:v mjpeg -pix_fmt yuvj420p
video msvc.avi -c:v msvideo1 -pix_fmt rgb555le
video hfyu.avi -c:v huffyuv
video yuy2.avi -c:v rawvideo -pix_fmt yuyv422
video uyvy.avi -c:v rawvideo -pix_fmt uyvy422
video i420.avi -c:v rawvideo -pix_fmt yuv420p
video grey.avi -c:v rawvideo -pix_fmt gray
video rgb.avi -c:v rawvideo -pix_fmt bgr24
video wmv1.avi -c:v wmv1
video wmv2.avi -c:v wmv2
video xvid.avi -c:v mpeg4 -vtag XVID
video divx.avi -c:v mpeg4 -vtag DIVX
video dx50.avi -c:v mpeg4 -vtag DX50
video mp42.avi -c:v msmpeg4v2
video mp43.avi -c:v msmpeg4 -vtag MP43
video dvsd.avi -c:v dvvideo -s 720x576 -pix_fmt yuv420p -r 25
video cfhd.avi -c:v cfhd
video v210.avi -c:v v210
video svq1.mov -c:v svq1
video mpg2.avi -c:v mpeg2video
LIST
echo "formatnames: $(wc -l < "$tsv") formats in $tsv"
