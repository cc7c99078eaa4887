#!/usr/bin/env bash
# PCM sources of the sample-reader tests (raw little-endian, interleaved) and
# their references: numpy for the exact conversions, sox for resampling.
#   make_render_fixtures.sh FIXTURE_DIR
set -euo pipefail
. "$VOG_SOURCE_DIR/tests/support/testlib.sh"
require_tool sox py:numpy
out="$1/renderpcm"
mkdir -p "$out"
cd "$out"
[ -s done2.txt ] && exit 0
# 16-bit stereo from sox itself.
sox -n -r 44100 -c 2 -b 16 -e signed-integer -t raw s16_2ch_44100.raw synth 1 sine 440 sine 660 gain -3
/usr/bin/python3 - <<'PY'
import numpy as np

def tones(rate, freqs, seconds=1.0, amp=0.45):
    t = np.arange(int(rate * seconds)) / rate
    return np.stack([amp * np.sin(2 * np.pi * f * t + k) for k, f in enumerate(freqs)], axis=1)

def s24(x):
    v = np.clip(np.round(x * 8388608.0), -8388608, 8388607).astype(np.int32)
    b = v.astype('<i4').view(np.uint8).reshape(-1, 4)[:, :3]
    return b.tobytes(), v / 8388608.0

def downmix(x, d):
    s = x.shape[1]
    extra = x[:, d:].sum(axis=1, keepdims=True)
    return (d * x[:, :d] + extra) / s

# 5.1 at 48 kHz, 24-bit: to stereo float (mixed, then resampled by sox).
raw, val = s24(tones(48000, [440, 550, 660, 60, 880, 990]))
open('s24_6ch_48000.raw', 'wb').write(raw)
downmix(val, 2).astype('<f4').tofile('ref_s24_6ch_mix2.f32')
downmix(val, 1).astype('<f4').tofile('ref_s24_6ch_mix1.f32')

# Three 16-bit channels at 44.1 kHz: to stereo float, no resampling.
x = tones(44100, [300, 500, 700])
v = np.clip(np.round(x * 32768.0), -32768, 32767).astype('<i2')
v.tofile('s16_3ch_44100.raw')
downmix(v / 32768.0, 2).astype('<f4').tofile('ref_s16_3ch_mix2.f32')

# The sox file as floats.
v = np.fromfile('s16_2ch_44100.raw', dtype='<i2')
(v / 32768.0).astype('<f4').tofile('ref_s16_2ch_f32.f32')

# Mono float at 22.05 kHz: to stereo at 44.1 kHz (upsampling).
tones(22050, [1000])[:, 0].astype('<f4').tofile('f32_1ch_22050.raw')

# Unsigned 8-bit mono.
u = (np.round(tones(44100, [440], 0.5)[:, 0] * 127) + 128).astype(np.uint8)
u.tofile('u8_1ch_44100.raw')
((u.astype(np.float64) - 128) / 128).astype('<f4').tofile('ref_u8_f32.f32')
PY
sox -t raw -r 48000 -e float -b 32 -c 2 ref_s24_6ch_mix2.f32 -t raw -r 44100 -e float -b 32 ref_s24_6ch_2ch_44100.f32
sox -t raw -r 22050 -e float -b 32 -c 1 f32_1ch_22050.raw -t raw -r 44100 -e float -b 32 ref_f32_1ch_44100.f32
sox -t raw -r 44100 -e float -b 32 -c 2 ref_s16_2ch_f32.f32 -t raw -r 48000 -e float -b 32 ref_s16_2ch_48000.f32
echo ok > done2.txt
