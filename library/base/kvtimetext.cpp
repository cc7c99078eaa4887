// Time and position text.
#include "kvtimetext.h"

#include <cmath>
#include <cwchar>
#include <cwctype>
#include <vector>

#include "kvnanotime.h"
#include "kvnumtext.h"
#include "kvprintf.h"
#include "kvtextlocale.h"

namespace {

const double kNanoPerSecond = 10000000.0;
const int kOut = 256;  // room for any position text

struct FormatText {
  const wchar_t* longForm;
  const wchar_t* shortForm;
};

const FormatText kFormats[20] = {
    {L"$I64d", L"$I64d"},
    {L"%02u$:%02u$:%02u$*%03u", L"%02u$:%02u$:%02u"},
    {L"$.3f", L"$.0f"},
    {L"%02u$:%02u$:%02u$*%02u", L"%02u$:%02u$:%02u"},
    {L"$.3f", L"$.0f"},
    {L"$u$&:%u$&.%03u", L"$u$&:%u"},
    {L"%02u:%02u:%02u:%02u", L"%02u:%02u:%02u:%02u"},
    {L"%02u:%02u:%02u:%02u", L"%02u:%02u:%02u:%02u"},
    {L"%02u:%02u:%02u;%02u", L"%02u:%02u:%02u;%02u"},
    {L"%02u:%02u:%02u:%02u", L"%02u:%02u:%02u:%02u"},
    {L"%02u:%02u:%02u:%02u", L"%02u:%02u:%02u:%02u"},
    {L"$I64d", L"$I64d"},
    {L"$I64d", L"$I64d"},
    {L"$u$&:%u$&.%03u", L"$u$&:%u"},
    {L"$.3f", L"$.0f"},
    {L"$I64d+$I64d", L"$I64d+$I64d"},
    {L"$I64d+$I64d", L"$I64d+$I64d"},
    {L"%02u:%02u:%02u:%02u", L"%02u$:%02u$:%02u"},
    {L"%02u:%02u:%02u:%02u", L"%02u:%02u:%02u:%02u"},
    {L"%02u$:%02u$:%02u", L"%02u$:%02u$:%02u"},
};

// Frames of a time at a rate, rounded down (a hair above, so that a time
// computed from a frame count gives that count back).
LONGLONG FramesOf(ULONGLONG time, double rate) {
  return static_cast<LONGLONG>(std::floor(static_cast<double>(time) / kNanoPerSecond * rate + 0.00001));
}

// Splits a time for the clock and time-code formats: (SMPTE code, rate).
bool HmsfSplit(DWORD code, DWORD* smpte, double* rate, const _kvposfmt* fmt) {
  switch (code) {
    case 1: *smpte = 0; *rate = 1000.0; return true;
    case 3: *smpte = 0; *rate = fmt->frameRate; return true;
    case 6: *smpte = 5; *rate = 29.97002997; return true;
    case 7: *smpte = 1; *rate = 30.0; return true;
    case 8: *smpte = 2; *rate = 30.0; return true;
    case 9: *smpte = 3; *rate = 25.0; return true;
    case 10: *smpte = 4; *rate = 24.0; return true;
    case 17: *smpte = 0; *rate = 75.0; return true;
    case 18: *smpte = 6; *rate = 23.976023976; return true;
    default: return false;
  }
}

// Fields of a position text: every non-digit separates (except the thousand
// separator inside a grouped number, below); a separator after the last digit
// stands for one more field of value 0.
bool IsDigitChar(wchar_t c) { return c >= L'0' && c <= L'9'; }

// A locale thousand separator inside a grouped number that the position
// texts print ("1,234+5" feet, "1,234.2.480" measures): the separator is
// followed by exactly three digits, and more digits come later in the text
// (the last group of a text is a field of its own: "2.480" in German is beat
// 2, tick 480).
size_t GroupSeparatorAt(const wchar_t* text, size_t i, size_t n, const wchar_t* thousand, size_t t) {
  if (!t || i + t + 3 > n || wcsncmp(text + i, thousand, t) != 0) return 0;
  size_t d = i + t;
  if (!IsDigitChar(text[d]) || !IsDigitChar(text[d + 1]) || !IsDigitChar(text[d + 2])) return 0;
  if (d + 3 < n && IsDigitChar(text[d + 3])) return 0;
  for (size_t k = d + 3; k < n; ++k)
    if (IsDigitChar(text[k])) return t;
  return 0;
}

std::vector<ULONGLONG> SplitFieldsIn(const wchar_t* text, const wchar_t** end) {
  std::vector<ULONGLONG> fields;
  if (!text) return fields;
  KvNumberLocale locale;
  KvTextLocale_Number(&locale);
  size_t t = wcslen(locale.thousand);
  size_t n = wcslen(text);
  while (n > 0 && iswspace(text[n - 1])) --n;
  size_t i = 0;
  bool trailingSeparator = false;
  while (i < n) {
    if (IsDigitChar(text[i])) {
      ULONGLONG v = 0;
      for (;;) {
        while (i < n && IsDigitChar(text[i])) {
          if (v < 100000000000000000ULL) v = v * 10 + (text[i] - L'0');
          ++i;
        }
        size_t skip = GroupSeparatorAt(text, i, n, locale.thousand, t);
        if (!skip) break;
        i += skip;
      }
      fields.push_back(v);
      trailingSeparator = false;
    } else {
      if (!fields.empty() && !iswspace(text[i])) trailingSeparator = true;
      ++i;
    }
  }
  if (trailingSeparator) fields.push_back(0);
  if (end) *end = text + wcslen(text);
  return fields;
}

// Out of memory for the fields: no fields (the time reads as 0).
std::vector<ULONGLONG> SplitFields(const wchar_t* text, const wchar_t** end) {
  if (end) *end = text ? text + wcslen(text) : text;
  try {
    return SplitFieldsIn(text, end);
  } catch (...) {
    return std::vector<ULONGLONG>();
  }
}

// The last count fields, right-aligned into out[0..count).
void RightAlign(const std::vector<ULONGLONG>& fields, ULONGLONG* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = 0;
  size_t take = fields.size() < count ? fields.size() : count;
  for (size_t i = 0; i < take; ++i) out[count - take + i] = fields[fields.size() - take + i];
}

// Digits of the last field of a text (for the fraction of a second).
int LastFieldDigits(const wchar_t* text) {
  size_t n = wcslen(text);
  while (n > 0 && iswspace(text[n - 1])) --n;
  if (n > 0 && !(text[n - 1] >= L'0' && text[n - 1] <= L'9')) return 1;  // appended zero field
  int d = 0;
  while (n > 0 && text[n - 1] >= L'0' && text[n - 1] <= L'9') {
    --n;
    ++d;
  }
  return d;
}

LONGLONG RoundToNano(double v) { return KvRoundToInteger(v); }

}  // namespace

extern "C" LONGLONG KVAPI KvNanoTimeToSamples(LONGLONG time, DWORD rate) {
  return KvNanoToSamples(time, rate);
}

extern "C" LONGLONG KVAPI KvSamplesToNanoTime(LONGLONG samples, DWORD rate) {
  if (!rate) return 0;
  return RoundToNano(static_cast<double>(samples) / rate * kNanoPerSecond);
}

extern "C" LONGLONG KVAPI KvFramesToNanoTime(LONGLONG frames, double rate) {
  if (!(rate > 0.0)) return 0;
  return RoundToNano(static_cast<double>(frames) / rate * kNanoPerSecond);
}

extern "C" void KVAPI KvNanoTimeToHMSF(LONGLONG time, _smpteval* value, double frameRate) {
  if (!value) return;
  if (value->format >= 1 && value->format <= 6) {
    KVSMPTE_NanoToSMPTE(time, value);
    return;
  }
  double seconds = static_cast<double>(time) / kNanoPerSecond;
  if (frameRate >= 0.01) seconds += 0.5 / frameRate;
  if (seconds < 0) seconds = 0;
  ULONGLONG whole = static_cast<ULONGLONG>(seconds);
  double fraction = seconds - static_cast<double>(whole);
  value->hours = static_cast<DWORD>((whole / 3600) % 24);
  value->minutes = static_cast<DWORD>((whole / 60) % 60);
  value->seconds = static_cast<DWORD>(whole % 60);
  double f = frameRate > 0 ? std::floor(fraction * frameRate) : 0.0;
  value->frames = static_cast<DWORD>(f);
}

extern "C" LONGLONG KVAPI KvHMSFToNanoTime(const _smpteval* value, double frameRate) {
  if (!value) return 0;
  if (value->format >= 1 && value->format <= 6) return KVSMPTE_SMPTEToNanos(value);
  double seconds = static_cast<double>(value->hours) * 3600.0 + value->minutes * 60.0 + value->seconds;
  // Without a frame rate the frames cannot count.
  if (frameRate > 0) seconds += value->frames / frameRate;
  return RoundToNano(seconds * kNanoPerSecond);
}

extern "C" void KVAPI KvNanoTimeToMeasures(LONGLONG time, const _kvposfmt* fmt, DWORD* measure, DWORD* beat,
                                           DWORD* tick) {
  DWORD m = 0, b = 0, t = 0;
  // A record without metre or tempo has no musical time: all zero.
  if (fmt && fmt->beatsPerMeasure && fmt->tempo > 0) {
    double v = static_cast<double>(time) * fmt->tempo / fmt->beatsPerMeasure / (60.0 * kNanoPerSecond) + 0.00005;
    if (v < 0) v = 0;
    double whole = std::floor(v);
    m = whole < 4294967295.0 ? static_cast<DWORD>(whole) : 0xFFFFFFFFu;
    double beats = (v - whole) * fmt->beatsPerMeasure;
    b = static_cast<DWORD>(beats);
    t = static_cast<DWORD>((beats - std::floor(beats)) * fmt->ticksPerBeat);
  }
  if (measure) *measure = m;
  if (beat) *beat = b;
  if (tick) *tick = t;
}

extern "C" int KVAPI KvMeasuresAndTicksToText(wchar_t* out, const _kvposfmt* fmt, LONGLONG measure, LONGLONG ticks,
                                              int oneBased, BOOL shortForm, DWORD tickDivisor) {
  if (!out || !fmt) return 0;
  LONGLONG perBeatUnit = fmt->beatUnit ? static_cast<LONGLONG>(fmt->ticksPerBeat) * 4 / fmt->beatUnit : 0;
  LONGLONG beatsPerMeasure = fmt->beatsPerMeasure;
  LONGLONG beat = 0, tick = 0;
  // Zero metre fields print beat and tick 0 instead of dividing by zero.
  if (perBeatUnit > 0 && beatsPerMeasure > 0) {
    if (ticks < 0) {
      ticks += beatsPerMeasure * perBeatUnit;
      measure -= 1;
    }
    beat = (ticks / perBeatUnit) % beatsPerMeasure;
    tick = (ticks % perBeatUnit) / (tickDivisor ? tickDivisor : 1);
  }
  if (oneBased == 1) {
    if (measure >= 0) measure += 1;
    beat += 1;
  }
  if (shortForm)
    return KvPrintFN(out, kOut, L"%d$&:%1u", static_cast<int>(measure), static_cast<unsigned>(beat));
  return KvPrintFN(out, kOut, L"%d$&:%u$&.%03u", static_cast<int>(measure), static_cast<unsigned>(beat),
                   static_cast<unsigned>(tick));
}

extern "C" int KVAPI KvTicksToText(wchar_t* out, const _kvposfmt* fmt, LONGLONG ticks, int oneBased,
                                   BOOL shortForm, DWORD tickDivisor) {
  if (!out || !fmt) return 0;
  LONGLONG perMeasure = static_cast<LONGLONG>(fmt->beatsPerMeasure) * fmt->ticksPerBeat;
  LONGLONG measure = 0;
  if (perMeasure > 0) {
    measure = ticks / perMeasure;
    ticks %= perMeasure;
    if (ticks < 0) {
      ticks += perMeasure;
      measure -= 1;
    }
  }
  return KvMeasuresAndTicksToText(out, fmt, measure, ticks, oneBased, shortForm, tickDivisor);
}

extern "C" int KVAPI KvNanoTimeToTextFormat(wchar_t* out, const _kvposfmt* fmt, LONGLONG time,
                                            const wchar_t* format, DWORD flags) {
  if (!out) return 0;
  out[0] = 0;
  if (!fmt) return 0;
  if (!(flags & 2)) time -= fmt->origin;
  int len = 0;
  ULONGLONG mag = static_cast<ULONGLONG>(time);
  if (time < 0) {
    out[len++] = L'-';
    mag = 0 - mag;  // also right for the most negative value
  }
  wchar_t* o = out + len;
  const LONGLONG t = static_cast<LONGLONG>(mag & 0x7FFFFFFFFFFFFFFFULL);
  const DWORD code = fmt->format;
  if (!format) format = code < 20 ? kFormats[code].longForm : L"$I64d";
  switch (code) {
    case 0:
      return len + KvPrintFN(o, kOut, format, KvNanoTimeToSamples(t, fmt->sampleRate));
    case 11:
      return len + KvPrintFN(o, kOut, format, t);
    case 12:
      return len + KvPrintFN(o, kOut, format, (t + 5) / 10);
    case 2: case 4: case 14: {
      double v;
      if (code == 2) v = static_cast<double>(t) / kNanoPerSecond;
      else if (code == 4) v = static_cast<double>(t) / kNanoPerSecond * fmt->frameRate + 0.00001;
      else v = static_cast<double>(t) * fmt->tempo / 60.0 / kNanoPerSecond;
      if (!(v == v) || std::isinf(v)) v = 0;
      if (wcscmp(format, L"$.0f") == 0)
        return len + KvPrintFN(o, kOut, L"$I64d", static_cast<LONGLONG>(std::floor(v)));
      return len + KvPrintFN(o, kOut, format, v);
    }
    case 1: case 3: case 6: case 7: case 8: case 9: case 10: case 17: case 18: {
      _smpteval hmsf = {0, 0, 0, 0, 0};
      double rate = 0;
      HmsfSplit(code, &hmsf.format, &rate, fmt);
      KvNanoTimeToHMSF(t, &hmsf, rate);
      return len + KvPrintFN(o, kOut, format, hmsf.hours, hmsf.minutes, hmsf.seconds, hmsf.frames);
    }
    case 5: case 13: {
      DWORD m, b, k;
      KvNanoTimeToMeasures(t, fmt, &m, &b, &k);
      if (code == 5 && !(flags & 2)) {
        ++m;
        ++b;
      }
      return len + KvPrintFN(o, kOut, format, m, b, k);
    }
    case 15: case 16: {
      LONGLONG frames = fmt->frameRate > 0 ? FramesOf(t, fmt->frameRate) : 0;
      LONGLONG perFoot = code == 15 ? 40 : 16;
      return len + KvPrintFN(o, kOut, format, frames / perFoot, frames % perFoot);
    }
    case 19: {
      _smpteval hmsf = {0, 0, 0, 0, 0};
      KvNanoTimeToHMSF(t, &hmsf, 1000.0);
      if (hmsf.hours == 0)
        return len + KvPrintFN(o, kOut, hmsf.minutes < 10 ? L"%u$:%02u" : L"%02u$:%02u", hmsf.minutes,
                               hmsf.seconds);
      return len + KvPrintFN(o, kOut, L"%u$:%02u$:%02u", hmsf.hours, hmsf.minutes, hmsf.seconds);
    }
    default:
      return len + KvPrintFN(o, kOut, L"$I64d", t);
  }
}

extern "C" int KVAPI KvNanoTimeToTextEx(wchar_t* out, const _kvposfmt* fmt, LONGLONG time, DWORD flags) {
  if (!out) return 0;
  out[0] = 0;
  if (!fmt) return 0;
  const wchar_t* format = L"$I64d";
  if (fmt->format < 20) format = (flags & 1) ? kFormats[fmt->format].shortForm : kFormats[fmt->format].longForm;
  return KvNanoTimeToTextFormat(out, fmt, time, format, flags);
}

extern "C" int KVAPI KvNanoTimeToText(wchar_t* out, const _kvposfmt* fmt, LONGLONG time, BOOL shortForm) {
  return KvNanoTimeToTextEx(out, fmt, time, shortForm ? 1 : 0);
}

// ---------------------------------------------------------------- parsers

extern "C" LONGLONG KVAPI KvTextToTimeToken(const wchar_t* text, const _kvposfmt*, BOOL wholeSeconds,
                                            const wchar_t** end) {
  if (!text) return 0;
  while (iswspace(*text)) ++text;
  std::vector<ULONGLONG> fields = SplitFields(text, end);
  ULONGLONG v[4];
  ULONGLONG ms = 0;
  if (wholeSeconds) {
    RightAlign(fields, v + 1, 3);
    v[0] = 0;
  } else if (fields.size() <= 1) {
    RightAlign(fields, v + 1, 3);
    v[0] = 0;
  } else {
    RightAlign(fields, v, 4);
    // The last field is a fraction of a second: 1 digit tenths, 2 hundredths,
    // 3 milliseconds; further digits are cut.
    int digits = LastFieldDigits(text);
    ULONGLONG f = v[3];
    for (int d = digits; d > 3; --d) f /= 10;
    if (digits == 1) f *= 100;
    else if (digits == 2) f *= 10;
    ms = f;
    v[3] = v[2];
    v[2] = v[1];
    v[1] = v[0];
    v[0] = 0;
  }
  return static_cast<LONGLONG>(((v[1] * 60 + v[2]) * 60 + v[3]) * 1000 + ms);
}

extern "C" LONGLONG KVAPI KvTextToHMSFToken(const wchar_t* text, const _kvposfmt* fmt, BOOL noFrames,
                                            const wchar_t** end) {
  std::vector<ULONGLONG> fields = SplitFields(text, end);
  ULONGLONG v[4] = {0, 0, 0, 0};
  if (noFrames) RightAlign(fields, v, 3);
  else RightAlign(fields, v, 4);
  _smpteval hmsf = {0, static_cast<DWORD>(v[0]), static_cast<DWORD>(v[1]), static_cast<DWORD>(v[2]),
                    static_cast<DWORD>(v[3])};
  return KvHMSFToNanoTime(&hmsf, fmt ? fmt->frameRate : 0.0);
}

extern "C" LONGLONG KVAPI KvTextToMusicTimeToken(const wchar_t* text, const _kvposfmt* fmt, DWORD flags,
                                                 const wchar_t** end) {
  std::vector<ULONGLONG> fields = SplitFields(text, end);
  if (!fmt) return 0;
  ULONGLONG v[3] = {0, 0, 0};
  if (flags & 1) RightAlign(fields, v, 2);
  else RightAlign(fields, v, 3);
  double measure = static_cast<double>(v[0]), beat = static_cast<double>(v[1]), tick = static_cast<double>(v[2]);
  if (fmt->format == 5 && !(flags & 2)) {
    if (measure > 0) measure -= 1;
    if (beat > 0) beat -= 1;
  }
  if (!(fmt->tempo > 0)) return 0;
  double beats = fmt->beatsPerMeasure * measure + beat + (fmt->ticksPerBeat ? tick / fmt->ticksPerBeat : 0.0);
  return RoundToNano(beats / fmt->tempo * 600000000.0);
}

extern "C" LONGLONG KVAPI KvTextToFeetAndFramesToken(const wchar_t* text, const _kvposfmt* fmt, BOOL fortyPerFoot) {
  std::vector<ULONGLONG> fields = SplitFields(text, nullptr);
  ULONGLONG v[2];
  RightAlign(fields, v, 2);
  ULONGLONG frames = v[0] * (fortyPerFoot ? 40 : 16) + v[1];
  if (!fmt || !(fmt->frameRate > 0)) return 0;
  return RoundToNano(static_cast<double>(frames) / fmt->frameRate * kNanoPerSecond);
}

extern "C" LONGLONG KVAPI KvTextToMeasuresBeatsTicks(const wchar_t* text, const _kvposfmt* fmt, int oneBased,
                                                     DWORD tickScale, LONGLONG* measure, LONGLONG* beat,
                                                     LONGLONG* tick) {
  LONGLONG m = 0, b = 0, t = 0;
  if (text && fmt) {
    const wchar_t* p = text;
    while (iswspace(*p)) ++p;
    bool negative = *p == L'-';
    if (negative) ++p;
    std::vector<ULONGLONG> fields = SplitFields(p, nullptr);
    if (fields.size() > 0) m = static_cast<LONGLONG>(fields[0]);
    if (fields.size() > 1) b = static_cast<LONGLONG>(fields[1]);
    if (fields.size() > 2) t = static_cast<LONGLONG>(fields[2]);
    if (negative) m = -m;
    if (oneBased == 1) {
      if (m > 0) m -= 1;
      if (b > 0) b -= 1;
    }
    t *= tickScale;
  }
  if (measure) *measure = m;
  if (beat) *beat = b;
  if (tick) *tick = t;
  if (!fmt) return 0;
  return (static_cast<LONGLONG>(fmt->beatsPerMeasure) * m + b) * static_cast<LONGLONG>(fmt->ticksPerBeat) + t;
}

extern "C" LONGLONG KVAPI KvTextToTicks(const wchar_t* text, const _kvposfmt* fmt, int oneBased, DWORD tickScale) {
  return KvTextToMeasuresBeatsTicks(text, fmt, oneBased, tickScale, nullptr, nullptr, nullptr);
}

extern "C" LONGLONG KVAPI KvTextToBeatsTicks(const wchar_t* text, const _kvposfmt* fmt, DWORD tickScale,
                                             LONGLONG* beat, LONGLONG* tick) {
  LONGLONG b = 0, t = 0;
  if (text) {
    const wchar_t* p = text;
    while (iswspace(*p)) ++p;
    if (*p == L'-') ++p;
    std::vector<ULONGLONG> fields = SplitFields(p, nullptr);
    if (fields.size() > 0) b = static_cast<LONGLONG>(fields[0]);
    if (fields.size() > 1) t = static_cast<LONGLONG>(fields[1]) * tickScale;
  }
  if (beat) *beat = b;
  if (tick) *tick = t;
  return (fmt ? static_cast<LONGLONG>(fmt->ticksPerBeat) : 0) * b + t;
}

namespace {
// Nano times a parsed count may reach: -2^62 .. 2^61 units.
const double kMinNano = -4611686018427387904.0;
const double kMaxNano = 2305843009213693952.0;

double ClampSeconds(double seconds) {
  double lo = kMinNano / kNanoPerSecond, hi = kMaxNano / kNanoPerSecond;
  if (!(seconds == seconds)) return 0;
  return seconds < lo ? lo : seconds > hi ? hi : seconds;
}

LONGLONG SmpteText(const wchar_t* text, DWORD code) {
  _smpteval v = {code, 0, 0, 0, 0};
  KVSMPTE_TextToSMPTE(text, &v);
  return KVSMPTE_SMPTEToNanos(&v);
}
}  // namespace

extern "C" LONGLONG KVAPI KvTextToNanoTimeToken2(const wchar_t* text, const _kvposfmt* fmt, LONGLONG def,
                                                 LONGLONG minimum, LONGLONG maximum, DWORD flags,
                                                 const wchar_t** end) {
  if (!text || !fmt) {
    if (end) *end = text;
    return 0;
  }
  const wchar_t* p = text;
  while (iswspace(*p)) ++p;
  bool negative = *p == L'-';
  if (negative) ++p;
  const wchar_t* stop = p + wcslen(p);
  LONGLONG r = 0;
  switch (fmt->format) {
    case 0: {
      LONGLONG samples = KvTextToLongLongToken(p, &stop);
      if (fmt->sampleRate) {
        double lo = kMinNano / kNanoPerSecond * fmt->sampleRate, hi = kMaxNano / kNanoPerSecond * fmt->sampleRate;
        if (samples < lo) samples = static_cast<LONGLONG>(lo);
        if (samples > hi) samples = static_cast<LONGLONG>(hi);
        r = KvSamplesToNanoTime(samples, fmt->sampleRate);
      }
      break;
    }
    case 1:
      r = KvTextToTimeToken(p, fmt, flags & 1, &stop) * 10000;
      break;
    case 2:
      r = static_cast<LONGLONG>(ClampSeconds(KvTextToDoubleToken(p, &stop, TRUE)) * kNanoPerSecond);
      break;
    case 3:
      r = KvTextToHMSFToken(p, fmt, flags & 1, &stop);
      break;
    case 4: {
      double frames = KvTextToDoubleToken(p, &stop, TRUE);
      if (fmt->frameRate > 0)
        r = static_cast<LONGLONG>(ClampSeconds(frames / fmt->frameRate) * kNanoPerSecond + 0.5);
      break;
    }
    case 5: case 13:
      r = KvTextToMusicTimeToken(p, fmt, flags, &stop);
      break;
    case 6: r = SmpteText(p, 5); break;
    case 7: r = SmpteText(p, 1); break;
    case 8: r = SmpteText(p, 2); break;
    case 9: r = SmpteText(p, 3); break;
    case 10: r = SmpteText(p, 4); break;
    case 18: r = SmpteText(p, 6); break;
    case 11:
      r = KvTextToLongLongToken(p, &stop);
      break;
    case 12:
      r = KvTextToLongLongToken(p, &stop) * 10;
      break;
    case 14: {
      // Beats at the record's tempo (the text of format 14).
      double beats = KvTextToDoubleToken(p, &stop, TRUE);
      if (fmt->tempo > 0) r = RoundToNano(ClampSeconds(beats * 60.0 / fmt->tempo) * kNanoPerSecond);
      break;
    }
    case 15: r = KvTextToFeetAndFramesToken(p, fmt, TRUE); break;
    case 16: r = KvTextToFeetAndFramesToken(p, fmt, FALSE); break;
    case 17: {
      _smpteval v = {0, 0, 0, 0, 0};
      KVSMPTE_TextToSMPTE(p, &v);
      r = KvHMSFToNanoTime(&v, 75.0);
      break;
    }
    case 19:
      // The short clock text of format 19: hours, minutes and seconds.
      r = KvTextToTimeToken(p, fmt, TRUE, &stop) * 10000;
      break;
    default:
      r = 0;
      break;
  }
  if (negative) r = -r;
  if (!(flags & 2)) r += fmt->origin;
  if (flags & 4) {
    if (r == 0 && *stop && !iswspace(*stop)) r = def;
    if (r < minimum) r = minimum;
    else if (r > maximum) r = maximum;
  }
  if (end) *end = stop;
  return r;
}

extern "C" LONGLONG KVAPI KvTextToNanoTimeToken(const wchar_t* text, const _kvposfmt* fmt, BOOL flag,
                                                const wchar_t** end) {
  return KvTextToNanoTimeToken2(text, fmt, 0, 0, 0, flag ? 1 : 0, end);
}

extern "C" LONGLONG KVAPI KvTextToNanoTimeTokenEx(const wchar_t* text, const _kvposfmt* fmt, BOOL flag,
                                                  LONGLONG def, LONGLONG minimum, LONGLONG maximum,
                                                  const wchar_t** end) {
  return KvTextToNanoTimeToken2(text, fmt, def, minimum, maximum, flag ? 5 : 4, end);
}
