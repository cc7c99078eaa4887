#!/usr/bin/env bash
# Inputs of the identification tests, made at test time: small media files of
# every kind the identification knows, written by ffmpeg and sox, and a
# manifest of what ffprobe reports for each (container, ftyp brands, stream
# codecs), one line per file:
#   file|format_name|major_brand|compatible_brands|audio codecs|video codecs|muxer|audio profiles
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool ffmpeg ffprobe sox
out="$1/fileid"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -v error -y "$@"; }
sine=(-f lavfi -i "sine=frequency=440:sample_rate=44100:duration=0.2")
long=(-f lavfi -i "sine=frequency=440:sample_rate=44100:duration=1")
pic=(-f lavfi -i "testsrc=duration=0.2:size=64x48:rate=25")
dvpic=(-f lavfi -i "testsrc=duration=0.2:size=720x576:rate=25")

# muxer name per file, for the manifest (the MPEG program streams differ only in it)
declare -A muxer

# Audio.
ff "${sine[@]}" wav.wav; muxer[wav.wav]=wav
ff "${sine[@]}" w64.w64; muxer[w64.w64]=w64
ff "${sine[@]}" aiff.aiff; muxer[aiff.aiff]=aiff
ff "${sine[@]}" -c:a pcm_f32be -f aiff aifc.aifc; muxer[aifc.aifc]=aiff
ff "${sine[@]}" -c:a libmp3lame id3.mp3; muxer[id3.mp3]=mp3
ff "${long[@]}" -c:a libmp3lame -id3v2_version 0 -write_xing 0 plain.mp3; muxer[plain.mp3]=mp3
ff "${long[@]}" -c:a mp2 plain.mp2; muxer[plain.mp2]=mp2
ff "${sine[@]}" flac.flac; muxer[flac.flac]=flac
ff "${sine[@]}" -c:a libvorbis vorbis.ogg; muxer[vorbis.ogg]=ogg
ff "${sine[@]}" -c:a flac flac.oga; muxer[flac.oga]=oga
ff "${sine[@]}" -c:a aac ipod.m4a; muxer[ipod.m4a]=ipod
ff "${sine[@]}" -c:a aac isom.mp4; muxer[isom.mp4]=mp4
ff "${sine[@]}" -c:a aac -brand mp42 mp42_aac.mp4; muxer[mp42_aac.mp4]=mp4
ff "${sine[@]}" -ac 2 -c:a aac -brand mp42 -movflags +faststart mp42_aac_faststart.mp4; muxer[mp42_aac_faststart.mp4]=mp4
ff "${sine[@]}" -c:a aac -brand mp41 mp41_aac.mp4; muxer[mp41_aac.mp4]=mp4
ff "${sine[@]}" -c:a aac -profile:a aac_main -brand mp42 mp42_aacmain.mp4; muxer[mp42_aacmain.mp4]=mp4
ff "${sine[@]}" -c:a mp2 -brand mp42 mp42_mp2.mp4; muxer[mp42_mp2.mp4]=mp4
ff "${sine[@]}" -c:a aac 3gp.3gp; muxer[3gp.3gp]=3gp
ff "${sine[@]}" ac3.ac3; muxer[ac3.ac3]=ac3
ff "${sine[@]}" au.au; muxer[au.au]=au
sox -q -n -r 44100 -c 2 -b 24 sox.wav synth 0.2 sine 440; muxer[sox.wav]=sox
sox -q -n -r 44100 -c 1 sox.aifc synth 0.2 sine 440; muxer[sox.aifc]=sox
sox -q -n -r 44100 -c 1 sox.au synth 0.2 sine 440; muxer[sox.au]=sox
sox -q -n -r 44100 -c 1 sox.flac synth 0.2 sine 440; muxer[sox.flac]=sox
sox -q -n -r 44100 -c 1 sox.ogg synth 0.2 sine 440; muxer[sox.ogg]=sox

# Video and containers.
ff "${pic[@]}" -c:v mpeg4 avi.avi; muxer[avi.avi]=avi
ff "${pic[@]}" "${sine[@]}" -c:v mpeg4 -c:a pcm_s16le mov.mov; muxer[mov.mov]=mov
ff "${pic[@]}" -c:v libx264 -brand mp42 mp42_h264.mp4; muxer[mp42_h264.mp4]=mp4
ff "${pic[@]}" "${sine[@]}" -c:v libx264 -c:a aac -brand mp42 -movflags +faststart mp42_h264_aac.mp4; muxer[mp42_h264_aac.mp4]=mp4
ff "${pic[@]}" -c:v mpeg4 -brand mp42 mp42_mpeg4.mp4; muxer[mp42_mpeg4.mp4]=mp4
ff "${pic[@]}" -c:v libx264 ipod.m4v; muxer[ipod.m4v]=ipod
ff "${dvpic[@]}" -pix_fmt yuv420p -c:v dvvideo dv.dv; muxer[dv.dv]=dv
ff "${dvpic[@]}" -c:v mpeg2video mxf.mxf; muxer[mxf.mxf]=mxf
ff "${pic[@]}" -c:v mpeg2video ts.ts; muxer[ts.ts]=mpegts
ff "${pic[@]}" -c:v mpeg2video -f vob vob.vob; muxer[vob.vob]=vob
ff "${pic[@]}" -c:v mpeg1video -f mpeg mpeg1.mpg; muxer[mpeg1.mpg]=mpeg
ff "${pic[@]}" -c:v mpeg1video -f mpeg1video elementary.m1v; muxer[elementary.m1v]=mpeg1video
ff "${sine[@]}" -c:a wmav2 wma.wma; muxer[wma.wma]=asf
ff "${pic[@]}" -c:v wmv2 wmv.wmv; muxer[wmv.wmv]=asf
ff "${pic[@]}" -c:v wmv2 asf.asf; muxer[asf.asf]=asf
ff "${pic[@]}" -c:v wmv2 -f asf asf.dat; muxer[asf.dat]=asf
ff "${pic[@]}" -c:v flv swf.swf; muxer[swf.swf]=swf
ff -f lavfi -i "sine=duration=0.2:sample_rate=8000" -c:a real_144 rm.rm; muxer[rm.rm]=rm

# Still images.
for f in png.png bmp.bmp tiff.tiff tga.tga gif.gif jpg.jpg dpx.dpx; do
  ff "${pic[@]}" -frames:v 1 "$f"; muxer[$f]=image2
done

# The manifest, from ffprobe.
: > manifest.txt
for f in $(ls | sort); do
  [ "$f" = manifest.txt ] && continue
  [ -n "${muxer[$f]:-}" ] || continue
  ffprobe -v error -show_entries format=format_name:format_tags=major_brand,compatible_brands:stream=codec_type,codec_name,profile \
    -of json "$f" | /usr/bin/python3 -c '
import json, sys
d = json.load(sys.stdin)
fmt = d.get("format", {})
tags = fmt.get("tags", {})
streams = d.get("streams", [])
audio = ",".join(s["codec_name"] for s in streams if s.get("codec_type") == "audio")
video = ",".join(s["codec_name"] for s in streams if s.get("codec_type") == "video")
print("|".join([sys.argv[1], fmt.get("format_name", ""), tags.get("major_brand", ""),
                tags.get("compatible_brands", ""), audio, video, sys.argv[2],
                ",".join(s.get("profile", "") for s in streams if s.get("codec_type") == "audio")]))
' "$f" "${muxer[$f]}" >> manifest.txt
done
