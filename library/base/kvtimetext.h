// Time and position text: nano time (signed 64-bit count of 100-nanosecond
// units) shown in one of twenty position formats, and read back.
#pragma once

#include "kvapi.h"

#include "kvsmpte.h"


// Position format codes.
enum {
  KVPOS_SAMPLES = 0,
  KVPOS_CLOCK_MS = 1,
  KVPOS_SECONDS = 2,
  KVPOS_CLOCK_FRAMES = 3,
  KVPOS_FRAMES = 4,
  KVPOS_MBT = 5,
  KVPOS_SMPTE_2997 = 6,
  KVPOS_SMPTE_30 = 7,
  KVPOS_SMPTE_2997_DROP = 8,
  KVPOS_SMPTE_25 = 9,
  KVPOS_SMPTE_24 = 10,
  KVPOS_NANO = 11,
  KVPOS_MICROSECONDS = 12,
  KVPOS_MBT_ZERO = 13,
  KVPOS_BEATS = 14,
  KVPOS_FEET_35MM = 15,
  KVPOS_FEET_16MM = 16,
  KVPOS_CD = 17,
  KVPOS_SMPTE_23976 = 18,
  KVPOS_CLOCK_SHORT = 19,
};

struct _kvposfmt {
  DWORD format;          // 0..19
  DWORD sampleRate;      // samples per second
  double frameRate;      // frames per second
  double tempo;          // beats per minute
  LONGLONG origin;       // subtracted before showing a time
  WORD beatUnit;         // note value of one beat (4 = quarter)
  WORD beatsPerMeasure;
  DWORD ticksPerBeat;
};

extern "C" {
int KVAPI KvNanoTimeToText(wchar_t* out, const _kvposfmt* fmt, LONGLONG time, BOOL shortForm);
int KVAPI KvNanoTimeToTextEx(wchar_t* out, const _kvposfmt* fmt, LONGLONG time, DWORD flags);
int KVAPI KvNanoTimeToTextFormat(wchar_t* out, const _kvposfmt* fmt, LONGLONG time, const wchar_t* format,
                                 DWORD flags);
void KVAPI KvNanoTimeToHMSF(LONGLONG time, _smpteval* value, double frameRate);
LONGLONG KVAPI KvHMSFToNanoTime(const _smpteval* value, double frameRate);
void KVAPI KvNanoTimeToMeasures(LONGLONG time, const _kvposfmt* fmt, DWORD* measure, DWORD* beat, DWORD* tick);
int KVAPI KvMeasuresAndTicksToText(wchar_t* out, const _kvposfmt* fmt, LONGLONG measure, LONGLONG ticks,
                                   int oneBased, BOOL shortForm, DWORD tickDivisor);
int KVAPI KvTicksToText(wchar_t* out, const _kvposfmt* fmt, LONGLONG ticks, int oneBased, BOOL shortForm,
                        DWORD tickDivisor);

LONGLONG KVAPI KvTextToTimeToken(const wchar_t* text, const _kvposfmt* fmt, BOOL wholeSeconds,
                                 const wchar_t** end);
LONGLONG KVAPI KvTextToHMSFToken(const wchar_t* text, const _kvposfmt* fmt, BOOL noFrames, const wchar_t** end);
LONGLONG KVAPI KvTextToMusicTimeToken(const wchar_t* text, const _kvposfmt* fmt, DWORD flags, const wchar_t** end);
LONGLONG KVAPI KvTextToFeetAndFramesToken(const wchar_t* text, const _kvposfmt* fmt, BOOL fortyPerFoot);
LONGLONG KVAPI KvTextToMeasuresBeatsTicks(const wchar_t* text, const _kvposfmt* fmt, int oneBased, DWORD tickScale,
                                          LONGLONG* measure, LONGLONG* beat, LONGLONG* tick);
LONGLONG KVAPI KvTextToTicks(const wchar_t* text, const _kvposfmt* fmt, int oneBased, DWORD tickScale);
LONGLONG KVAPI KvTextToBeatsTicks(const wchar_t* text, const _kvposfmt* fmt, DWORD tickScale, LONGLONG* beat,
                                  LONGLONG* tick);
LONGLONG KVAPI KvTextToNanoTimeToken2(const wchar_t* text, const _kvposfmt* fmt, LONGLONG def, LONGLONG minimum,
                                      LONGLONG maximum, DWORD flags, const wchar_t** end);
LONGLONG KVAPI KvTextToNanoTimeToken(const wchar_t* text, const _kvposfmt* fmt, BOOL flag, const wchar_t** end);
LONGLONG KVAPI KvTextToNanoTimeTokenEx(const wchar_t* text, const _kvposfmt* fmt, BOOL flag, LONGLONG def,
                                       LONGLONG minimum, LONGLONG maximum, const wchar_t** end);

LONGLONG KVAPI KvNanoTimeToSamples(LONGLONG time, DWORD rate);
LONGLONG KVAPI KvSamplesToNanoTime(LONGLONG samples, DWORD rate);
LONGLONG KVAPI KvFramesToNanoTime(LONGLONG frames, double rate);
}
