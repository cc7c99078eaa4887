#!/usr/bin/env python3
"""Compares the audio samples listed by `mp4dump --samples` with ffprobe's
packet list of the first audio stream (pts, duration, size, pos; edit lists
ignored) and the Decoder Specific Info with ffprobe's extradata.

usage: samples_compare.py DUMP MEDIA   (exit 0 equal, 1 different)
"""
import json
import os
import re
import subprocess
import sys


def ffprobe(media):
    r = subprocess.run(['ffprobe', '-v', 'error', '-ignore_editlist', '1', '-select_streams', 'a:0',
                        '-show_entries', 'packet=dts,duration,size,pos', '-of', 'csv=p=0', media],
                       capture_output=True, text=True, check=True)
    packets = []
    for line in r.stdout.split():
        dts, duration, size, pos = line.split(',')[:4]
        packets.append((int(dts), None if duration == 'N/A' else int(duration), int(size), int(pos)))
    r = subprocess.run(['ffprobe', '-v', 'error', '-select_streams', 'a:0', '-show_entries', 'stream=extradata',
                        '-show_data', '-of', 'json', media], capture_output=True, text=True, check=True)
    extradata = ''
    for s in json.loads(r.stdout).get('streams', []):
        for line in s.get('extradata', '').splitlines():
            m = re.match(r'^[0-9a-f]{8}: ((?:[0-9a-f]{2,4} ?)+)', line)
            if m:
                extradata += m.group(1).replace(' ', '')
    return packets, extradata


def main():
    dump, media = sys.argv[1], sys.argv[2]
    ours, dsi, seen = [], None, False
    for line in open(dump, encoding='utf-8'):
        if line.startswith('samples'):
            seen = True
            continue
        if line.startswith('dsi '):
            dsi = line.split()[1] if len(line.split()) > 1 else ''
            continue
        if seen:
            n, t, d, s, p = (int(x) for x in line.split())
            ours.append((t, d, s, p))
    try:
        codec = subprocess.run(['ffprobe', '-v', 'error', '-select_streams', 'a:0', '-show_entries',
                                'stream=codec_name', '-of', 'csv=p=0', media],
                               capture_output=True, text=True, check=True).stdout.strip().split(',')[0]
        packets, extradata = ffprobe(media)
    except subprocess.CalledProcessError:
        print('%s: skipped, ffprobe cannot read it' % media)
        return 0
    if codec != 'aac':
        if ours or dsi is not None:
            print('%s: not AAC (%s) but %d samples listed' % (media, codec or 'no audio', len(ours)))
            return 1
        print('%s: not AAC (%s), no track found: right' % (media, codec or 'no audio'))
        return 0
    if not packets:
        print('%s: skipped, ffprobe lists no packet' % media)
        return 0
    # A truncated file: our reader lists the samples wholly inside the file;
    # ffprobe also lists the one the file ends in, cut to what is left of it.
    size_of_file = os.path.getsize(media)
    if any(p + s > size_of_file for t, d, s, p in ours):
        print('%s: a listed sample lies past the end of the file' % media)
        return 1
    if len(packets) == len(ours) + 1 and packets[-1][3] + packets[-1][2] == size_of_file:
        packets = packets[:-1]
        print('%s: truncated file, ffprobe\'s last packet is cut short; %d samples compared' % (media, len(ours)))
    status = 0
    if dsi != extradata:
        print('%s: DSI %s, ffprobe extradata %s' % (media, dsi, extradata))
        status = 1
    if len(ours) != len(packets):
        print('%s: %d samples, ffprobe %d packets' % (media, len(ours), len(packets)))
        status = 1
    for i, (a, b) in enumerate(zip(ours, packets)):
        # ffprobe leaves the duration of a packet unknown at times: compare it when known.
        # For the last packet ffprobe may report the usual frame length where the
        # time-to-sample table says less: ours is the table's value.
        last = i + 1 == len(packets)
        if last and b[1] is not None and a[1] != b[1]:
            print('%s: last sample: duration %d from the table, ffprobe %d' % (media, a[1], b[1]))
            b = (b[0], a[1], b[2], b[3])
        if a[0] != b[0] or a[2] != b[2] or a[3] != b[3] or (b[1] is not None and a[1] != b[1]):
            print('%s: sample %d ours (time %d, duration %d, size %d, pos %d), ffprobe %s' % (media, i + 1, *a, b))
            status = 1
            break
    if status == 0:
        print('%s: %d samples equal, DSI %s' % (media, len(ours), dsi))
    return status


if __name__ == '__main__':
    sys.exit(main())
